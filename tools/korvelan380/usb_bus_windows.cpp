// The USB bus on Windows: always there for the driver (it is the system's), so nothing to check
// before a connect; doctor lists the FTDI devices itself.
#include "usb_bus.h"

namespace korvelan380::tool {

std::string UsbBusProblem() {
  return "";
}
std::string UsbBusRemedy() {
  return "";
}
void RequireUsbBus(const std::string&) {}
std::vector<std::string> FtdiNodes() {
  return {};
}

}  // namespace korvelan380::tool
