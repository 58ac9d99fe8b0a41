#include "usb_bus.h"

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>

#include "tool.h"

namespace korvelan380::tool {

namespace {

// Where libusb, inside FTDI's driver, finds the devices.
constexpr const char* kUsbBusDir = "/dev/bus/usb";

enum class Driver { kNone, kSimulated, kOther };

constexpr const char* kDriverFunctions[] = {
    "FT_OpenEx",         "FT_Close",     "FT_Read",      "FT_Write",     "FT_Purge",
    "FT_GetQueueStatus", "FT_GetStatus", "FT_EE_UASize", "FT_EE_UARead", "FT_EE_UAWrite"};

// What a loaded driver library is: our simulated module (told apart by its control interface),
// one the library would refuse (a function missing), or another, which needs a USB bus. The
// recording shim counts as the driver it forwards to.
Driver Classify(void* driver) {
  using Forwarded = const char* (*)();
  if (auto forwarded = reinterpret_cast<Forwarded>(dlsym(driver, "kcap_forwarded_driver"))) {
    const char* path = forwarded();
    driver = *path != '\0' ? dlopen(path, RTLD_LAZY | RTLD_NOLOAD) : nullptr;
    if (driver == nullptr) return Driver::kNone;
  }
  for (const char* name : kDriverFunctions) {
    if (dlsym(driver, name) == nullptr) return Driver::kNone;
  }
  return dlsym(driver, "ksim_reset") != nullptr ? Driver::kSimulated : Driver::kOther;
}

// The libftd2xx.so the library will bind. It stays loaded: the library binds this one.
Driver FindDriver() {
  void* driver = dlopen("libftd2xx.so", RTLD_LAZY | RTLD_LOCAL);
  return driver != nullptr ? Classify(driver) : Driver::kNone;
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

}  // namespace

std::vector<std::string> FtdiNodes() {
  std::vector<std::string> nodes;
  for (const std::string& bus : NumberedEntries(kUsbBusDir)) {
    for (const std::string& node : NumberedEntries(bus)) {
      const int fd = open(node.c_str(), O_RDONLY | O_CLOEXEC);
      if (fd < 0) continue;
      // Reading a node gives its descriptors, the device descriptor first: idVendor at byte 8.
      unsigned char device[18] = {};
      const bool ftdi = read(fd, device, sizeof device) == sizeof device && device[8] == 0x03 &&
                        device[9] == 0x04;
      close(fd);
      if (ftdi) nodes.push_back(node);
    }
  }
  return nodes;
}

std::string UsbBusProblem() {
  // Without a driver the library's own status says what is wrong.
  if (access(kUsbBusDir, F_OK) == 0 || FindDriver() != Driver::kOther) return "";
  return std::string("no USB bus is visible here (") + kUsbBusDir +
         " does not exist): a container or virtual machine without USB passthrough?";
}

std::string UsbBusRemedy() {
  return "run where the module is attached, pass the USB device through to the container "
         "(docker run --device /dev/bus/usb) or virtual machine, or use --sim";
}

void RequireUsbBus(const std::string& device) {
  const std::string problem = UsbBusProblem();
  if (problem.empty()) return;
  ToolError error("module " + device + ": " + problem, kExitFailed);
  error.hint = UsbBusRemedy();
  throw error;
}

}  // namespace korvelan380::tool
