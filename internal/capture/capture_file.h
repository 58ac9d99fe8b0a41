// The capture file: every driver call a program made, one JSON object a line. Written by the
// recording shim, read by `korvelan380 trace` and by the simulated module's replay. Its objects
// are flat (strings and unsigned integers only), so that this reader needs no JSON library and
// the simulated module can carry it on every platform it is built for.
#ifndef KORVELAN380_CAPTURE_CAPTURE_FILE_H
#define KORVELAN380_CAPTURE_CAPTURE_FILE_H

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "driver_call.h"

namespace korvelan380::capture {

inline constexpr const char* kFormatName = "korvelan380 capture";
inline constexpr uint32_t kFormatVersion = 1;

struct Header {
  uint32_t version = kFormatVersion;
  std::string driver;  // the driver the shim forwarded to; empty when none loaded
  std::string error;   // why none loaded
  uint64_t pid = 0;
  uint64_t limit = 0;  // the size limit in bytes, 0 for none
};

struct Capture {
  Header header;
  uint64_t dropped = 0;  // oldest calls dropped to keep to the limit
  std::vector<DriverCall> calls;
};

// A file that is not a whole capture this build can read; what() says why, for people.
class CaptureError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

std::string FormatHeader(const Header& header);
std::string FormatDropped(uint64_t dropped);
std::string FormatCall(const DriverCall& call);  // one line, with its newline

// Reads `text`, the whole file; `name` names it in errors.
Capture ParseCapture(const std::string& text, const std::string& name);
// Reads the file at `path`.
Capture ReadCapture(const std::string& path);

// "FT_Write(handle 1, 7 bytes 02 52 30 63 30 63 03)": a call's inputs, for people.
std::string DescribeInputs(const DriverCall& call);

}  // namespace korvelan380::capture

#endif  // KORVELAN380_CAPTURE_CAPTURE_FILE_H
