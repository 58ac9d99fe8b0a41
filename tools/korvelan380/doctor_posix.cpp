// doctor on Linux: libftd2xx.so, the kernel's ftdi_sio, the USB devices in sysfs and whether
// this user may open them, the USB bus, and the connect.
#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "doctor.h"
#include "usb_bus.h"

namespace korvelan380::tool {
namespace fs = std::filesystem;

namespace {

constexpr const char* kFtdiVendor = "0403";

std::string ReadLine(const fs::path& path) {
  std::ifstream file(path);
  std::string line;
  std::getline(file, line);
  return line;
}

// The FTDI devices the kernel sees, and whether this user may open them.
void CheckUsb(Checks& checks, const std::string& serial, bool sim) {
  std::error_code ec;
  int found = 0;
  bool module = false;
  for (const auto& dev : fs::directory_iterator("/sys/bus/usb/devices", ec)) {
    if (ReadLine(dev.path() / "idVendor") != kFtdiVendor) continue;
    ++found;
    const std::string devSerial = ReadLine(dev.path() / "serial");
    module = module || devSerial == serial;
    char node[64];
    std::snprintf(node, sizeof node, "/dev/bus/usb/%03d/%03d",
                  std::atoi(ReadLine(dev.path() / "busnum").c_str()),
                  std::atoi(ReadLine(dev.path() / "devnum").c_str()));
    const bool mayOpen = access(node, R_OK | W_OK) == 0;
    checks.Add("USB device", mayOpen ? "ok" : "problem",
               std::string(node) + " serial " + (devSerial.empty() ? "(none)" : devSerial) +
                   (mayOpen ? ", this user may open it"
                            : ": this user may not open it; add a udev rule such as "
                              "SUBSYSTEM==\"usb\", ATTRS{idVendor}==\"0403\", MODE=\"0666\""));
  }
  const bool serialsKnown = found > 0;
  if (found == 0) {
    for (const std::string& node : FtdiNodes()) {
      ++found;
      checks.Add("USB device", "ok",
                 node + " is an FTDI device (sysfs does not show its serial number)");
    }
  }
  if (found == 0) {
    checks.Add("USB device", sim ? "note" : "problem",
               "no FTDI USB device (vendor 0403) is attached" +
                   std::string(sim ? "; not needed with --sim" : ""));
  } else if (!sim && serialsKnown) {
    checks.Add("module on USB", module ? "ok" : "problem",
               module ? serial + " is attached" : "no FTDI device has the serial number " + serial);
  }
}

}  // namespace

void SystemChecks(Checks& checks, Session& s, bool sim) {
  void* driver = dlopen("libftd2xx.so", RTLD_NOW | RTLD_LOCAL);
  if (driver == nullptr) {
    checks.Add("driver library", "problem",
               std::string("libftd2xx.so does not load: ") + dlerror() +
                   "; install FTDI's D2XX driver where the loader finds it (e.g. /usr/local/lib, "
                   "then ldconfig)");
  } else {
    std::string where = "(unknown path)";
    link_map* map = nullptr;
    if (dlinfo(driver, RTLD_DI_LINKMAP, &map) == 0 && map != nullptr && map->l_name != nullptr) {
      where = map->l_name;
    }
    checks.Add("driver library", "ok", "libftd2xx.so loads from " + where);
    std::string missing;
    for (const char* fn : kDriverFunctions) {
      if (dlsym(driver, fn) == nullptr) missing += std::string(missing.empty() ? "" : ", ") + fn;
    }
    checks.Add("driver functions", missing.empty() ? "ok" : "problem",
               missing.empty() ? "all ten the library uses are there" : "missing: " + missing);
    dlclose(driver);
  }

  const bool ftdiSio = fs::exists("/sys/module/ftdi_sio");
  checks.Add("ftdi_sio",
             !ftdiSio ? "ok"
             : sim    ? "note"
                      : "problem",
             ftdiSio ? "the kernel driver ftdi_sio is loaded: it claims FTDI devices and keeps "
                       "D2XX from them (sudo rmmod ftdi_sio, or blacklist it)"
                     : "the kernel driver ftdi_sio is not loaded");
  CheckUsb(checks, s.Serial(), sim);
  if (const std::string bus = sim ? "" : UsbBusProblem(); !bus.empty()) {
    checks.Add("USB bus", "problem", bus + " (" + UsbBusRemedy() + ")");
    checks.Add("connect", "problem", "not tried: FTDI's driver crashes opening a module here");
  } else {
    CheckConnect(checks, s);
  }
}

}  // namespace korvelan380::tool
