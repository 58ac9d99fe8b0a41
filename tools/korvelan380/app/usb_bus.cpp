// What a missing USB bus means for the driver the library will bind. The system tells whether
// the bus is there (os/usb_*.cpp); it only matters for a driver that is FTDI's.
#include "app/usb_bus.h"

#include "app/driver.h"
#include "app/tool.h"
#include "os/os.h"

namespace korvelan380::tool {

namespace {

// Whether the library will bind a driver that needs a USB bus: one of its own (the simulated
// module) does not, and the open driver's libusb finds no device without one rather than crash.
// A library loaded here stays loaded: the library binds this one.
bool DriverNeedsBus() {
  const std::string request = DriverRequest();
  if (request == "open") return false;
  std::string why;  // not needed: without a driver there is no bus problem to tell
  void* driver =
      request.empty() || request == "vendor" ? os::BoundDriver(why) : os::OpenLibrary(request, why);
  return driver != nullptr && KindOf(driver) == DriverKind::kVendor;
}

}  // namespace

std::string UsbBusProblem() {
  // Without a driver the library's own status says what is wrong.
  const std::string missing = os::MissingUsbBus();
  if (missing.empty() || !DriverNeedsBus()) return "";
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
