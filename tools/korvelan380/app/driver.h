// The driver library the korvelan380 library binds: what kind it is, told apart by what it
// offers, found among what this process has loaded rather than by searching again as the
// library does.
#ifndef KORVELAN380_TOOL_DRIVER_H
#define KORVELAN380_TOOL_DRIVER_H

#include <string>

namespace korvelan380::tool {

enum class DriverKind {
  kNone,       // none, or one the library refuses (a function missing)
  kSimulated,  // our simulated module
  kOpen,       // the library's open driver, over libftdi
  kVendor,     // any other: FTDI's D2XX driver, or what KORVELAN380_DRIVER names
};

struct DriverInUse {
  DriverKind kind = DriverKind::kNone;
  std::string path;  // the file the driver functions come from
  std::string shim;  // the recording shim in front of it, "" when there is none
};

// What a loaded driver library is. The recording shim counts as the driver it forwards to.
DriverKind KindOf(void* library);

// The driver this process has loaded: the one the library bound, after its first connect (or the
// one the tool loaded for it, with --sim or --capture). With several loaded, the recording shim,
// else the last: the library loads its own at its first connect, after anything the tool loads.
DriverInUse ObserveDriver();

// What KORVELAN380_DRIVER asks of the library: "" (libftd2xx.so, else the open driver),
// "vendor" (libftd2xx.so only), "open" (the open driver only), or a library's path.
std::string DriverRequest();

// The driver in words, and why the library took it.
std::string DescribeDriver(const DriverInUse& driver, bool simLoaded);

}  // namespace korvelan380::tool

#endif  // KORVELAN380_TOOL_DRIVER_H
