// Whether a USB bus is visible. FTDI's driver crashes opening a module where it is not (a
// container or virtual machine without USB passthrough), so the tool looks before it lets the
// driver try.
#ifndef KORVELAN380_TOOL_USB_BUS_H
#define KORVELAN380_TOOL_USB_BUS_H

#include <string>
#include <vector>

namespace korvelan380::tool {

// What to tell the user when the libftd2xx.so the library will bind is not our simulated module
// and no USB bus is visible; empty when the driver may go ahead.
std::string UsbBusProblem();

// The remedy that goes with it.
std::string UsbBusRemedy();

// Throws a ToolError (exit status 1) with the problem and its remedy when UsbBusProblem() has one.
void RequireUsbBus(const std::string& device);

// The FTDI devices (vendor 0403) among the USB device nodes /dev/bus/usb/BBB/DDD, told by each
// node's device descriptor: where sysfs does not list the USB devices, these are all there is.
std::vector<std::string> FtdiNodes();

}  // namespace korvelan380::tool

#endif  // KORVELAN380_TOOL_USB_BUS_H
