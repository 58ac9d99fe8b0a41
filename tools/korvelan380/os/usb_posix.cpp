// The USB devices on Linux: sysfs, the device nodes under /dev/bus/usb and whether this user may
// open them, and the kernel's ftdi_sio.
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "os/os.h"

namespace korvelan380::tool::os {
namespace fs = std::filesystem;

namespace {

// Where libusb, inside FTDI's driver, finds the devices.
constexpr const char* kUsbBusDir = "/dev/bus/usb";
constexpr const char* kFtdiVendor = "0403";
// Either driver opens the device read-write; the package's udev rule lets plugdev and the user at
// the machine do so.
constexpr const char* kMayOpen = ", this user may open it";
constexpr const char* kMayNotOpen =
    ": this user may not open it read-write; install the udev rule 70-korvelan380.rules (the .deb "
    "puts it in /usr/lib/udev/rules.d), or add one such as SUBSYSTEM==\"usb\", "
    "ATTR{idVendor}==\"0403\", ATTR{idProduct}==\"6014\", GROUP=\"plugdev\", MODE=\"0660\", "
    "TAG+=\"uaccess\" in /etc/udev/rules.d, join plugdev and plug the module in again";

bool MayOpen(const std::string& node) {
  return access(node.c_str(), R_OK | W_OK) == 0;
}

std::string ReadLine(const fs::path& path) {
  std::ifstream file(path);
  std::string line;
  std::getline(file, line);
  return line;
}

// The numeric entries of a folder of the USB bus ("001", ...), as full paths.
std::vector<std::string> NumberedEntries(const std::string& dir) {
  std::vector<std::string> paths;
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return paths;
  while (const dirent* entry = readdir(d)) {
    if (std::atoi(entry->d_name) > 0) paths.push_back(dir + "/" + entry->d_name);
  }
  closedir(d);
  return paths;
}

// The kernel driver bound to the device's first interface (DEVICE:1.0), with the interface.
std::optional<std::string> InterfaceDriver(const fs::path& device) {
  const std::string name = device.filename().string() + ":1.0";
  std::error_code ec;
  const fs::path driver = fs::read_symlink(device / name / "driver", ec);
  if (ec) return std::nullopt;
  return driver.filename().string() + " on " + name;
}

// The FTDI devices sysfs lists, with their serial numbers and whether this user may open them.
std::vector<FtdiDevice> SysfsDevices() {
  std::vector<FtdiDevice> devices;
  std::error_code ec;
  for (const auto& dev : fs::directory_iterator("/sys/bus/usb/devices", ec)) {
    if (ReadLine(dev.path() / "idVendor") != kFtdiVendor) continue;
    const std::string serial = ReadLine(dev.path() / "serial");
    char node[64];
    std::snprintf(node, sizeof node, "%s/%03d/%03d", kUsbBusDir,
                  std::atoi(ReadLine(dev.path() / "busnum").c_str()),
                  std::atoi(ReadLine(dev.path() / "devnum").c_str()));
    const bool mayOpen = MayOpen(node);
    devices.push_back({serial,
                       std::string(node) + " (0403:" + ReadLine(dev.path() / "idProduct") +
                           ") serial " + (serial.empty() ? "(none)" : serial) +
                           (mayOpen ? kMayOpen : kMayNotOpen),
                       mayOpen, InterfaceDriver(dev.path())});
  }
  return devices;
}

// The FTDI devices among the device nodes /dev/bus/usb/BBB/DDD, told by each node's device
// descriptor: where sysfs does not list the USB devices, these are all there is.
std::vector<FtdiDevice> NodeDevices() {
  std::vector<FtdiDevice> devices;
  for (const std::string& bus : NumberedEntries(kUsbBusDir)) {
    for (const std::string& node : NumberedEntries(bus)) {
      const int fd = open(node.c_str(), O_RDONLY | O_CLOEXEC);
      if (fd < 0) continue;
      // Reading a node gives its descriptors, the device descriptor first: idVendor at byte 8,
      // idProduct at 10, little-endian.
      unsigned char device[18] = {};
      const bool ftdi = read(fd, device, sizeof device) == sizeof device && device[8] == 0x03 &&
                        device[9] == 0x04;
      close(fd);
      if (!ftdi) continue;
      char product[8];
      std::snprintf(product, sizeof product, "%02x%02x", device[11], device[10]);
      const bool mayOpen = MayOpen(node);
      devices.push_back({std::nullopt,
                         node + " (0403:" + product +
                             ") is an FTDI device (sysfs does not show its serial number)" +
                             (mayOpen ? kMayOpen : kMayNotOpen),
                         mayOpen, std::nullopt});
    }
  }
  return devices;
}

}  // namespace

std::string MissingUsbBus() {
  return access(kUsbBusDir, F_OK) == 0 ? "" : kUsbBusDir;
}

UsbLook LookAtUsb() {
  UsbLook usb{SysfsDevices(), "no FTDI USB device (vendor 0403) is attached"};
  if (usb.devices.empty()) usb.devices = NodeDevices();
  return usb;
}

std::optional<bool> FtdiSioLoaded() {
  return fs::exists("/sys/module/ftdi_sio");
}

}  // namespace korvelan380::tool::os
