// Whether a USB bus is visible. FTDI's driver crashes opening a module where it is not (a
// container or virtual machine without USB passthrough), so the tool looks before it lets the
// driver try.
#ifndef KORVELAN380_TOOL_USB_BUS_H
#define KORVELAN380_TOOL_USB_BUS_H

#include <string>

namespace korvelan380::tool {

// What to tell the user when the driver library the library will bind is not our simulated
// module and no USB bus is visible; empty when the driver may go ahead.
std::string UsbBusProblem();

// The remedy that goes with it.
std::string UsbBusRemedy();

// Throws a ToolError (exit status 1) with the problem and its remedy when UsbBusProblem() has one.
void RequireUsbBus(const std::string& device);

}  // namespace korvelan380::tool

#endif  // KORVELAN380_TOOL_USB_BUS_H
