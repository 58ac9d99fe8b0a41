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
    const bool mayOpen = access(node, R_OK | W_OK) == 0;
    devices.push_back(
        {serial,
         std::string(node) + " serial " + (serial.empty() ? "(none)" : serial) +
             (mayOpen ? ", this user may open it"
                      : ": this user may not open it; add a udev rule such as "
                        "SUBSYSTEM==\"usb\", ATTRS{idVendor}==\"0403\", MODE=\"0666\""),
         mayOpen});
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
      // Reading a node gives its descriptors, the device descriptor first: idVendor at byte 8.
      unsigned char device[18] = {};
      const bool ftdi = read(fd, device, sizeof device) == sizeof device && device[8] == 0x03 &&
                        device[9] == 0x04;
      close(fd);
      if (ftdi) {
        devices.push_back({std::nullopt,
                           node + " is an FTDI device (sysfs does not show its serial number)",
                           true});
      }
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
