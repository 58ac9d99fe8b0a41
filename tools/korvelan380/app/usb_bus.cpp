// What a missing USB bus means for the driver the library will bind. The system tells whether
// the bus is there (os/usb_*.cpp); it only matters for a driver that is FTDI's.
#include "app/usb_bus.h"

#include "app/tool.h"
#include "d2xx.h"
#include "os/os.h"

namespace korvelan380::tool {

namespace {

enum class Driver { kNone, kSimulated, kOther };

// What a loaded driver library is: our simulated module (told apart by its control interface),
// one the library would refuse (a function missing), or another, which needs a USB bus. The
// recording shim counts as the driver it forwards to.
Driver Classify(void* driver) {
  using Forwarded = const char* (*)();
  if (auto forwarded = reinterpret_cast<Forwarded>(os::Symbol(driver, "kcap_forwarded_driver"))) {
    const char* path = forwarded();
    driver = *path != '\0' ? os::LoadedLibrary(path) : nullptr;
    if (driver == nullptr) return Driver::kNone;
  }
  D2xxFunctions functions{};
  if (d2xx::Bind(functions, [driver](const char* name) { return os::Symbol(driver, name); })) {
    return Driver::kNone;
  }
  return os::Symbol(driver, "ksim_reset") != nullptr ? Driver::kSimulated : Driver::kOther;
}

// The driver library the library will bind. It stays loaded: the library binds this one.
Driver FindDriver() {
  std::string why;  // not needed: without a driver there is no bus problem to tell
  void* driver = os::BoundDriver(why);
  return driver != nullptr ? Classify(driver) : Driver::kNone;
}

}  // namespace

std::string UsbBusProblem() {
  // Without a driver the library's own status says what is wrong.
  const std::string missing = os::MissingUsbBus();
  if (missing.empty() || FindDriver() != Driver::kOther) return "";
  return "no USB bus is visible here (" + missing +
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
