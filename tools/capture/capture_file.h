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

namespace korvelan380::capture {

inline constexpr const char* kFormatName = "korvelan380 capture";
inline constexpr uint32_t kFormatVersion = 1;

// The ten driver functions, numbered as the simulated module's trace numbers them.
enum Fn : int {
  kOpenEx,
  kClose,
  kRead,
  kWrite,
  kPurge,
  kGetQueueStatus,
  kGetStatus,
  kEeUaSize,
  kEeUaRead,
  kEeUaWrite,
  kFnCount
};

// "FT_OpenEx" for kOpenEx; "" for a number out of range.
const char* FnName(int fn);
// The number of "FT_OpenEx"; -1 for any other name.
int FnFromName(const std::string& name);

// One driver call. `handle` is the capture's own number for the handle (1 for the first one
// FT_OpenEx gave out), 0 for a handle no recorded FT_OpenEx returned.
struct CallRecord {
  uint64_t seq = 0;
  int fn = kOpenEx;
  uint32_t handle = 0;
  std::string serial;         // FT_OpenEx by serial number
  uint32_t arg = 0;           // flags, bytes asked for, bytes to write, purge mask, EEPROM length
  std::vector<uint8_t> data;  // bytes written, or bytes read back
  uint32_t status = 0;
  uint32_t done = 0;  // FT_Write: bytes the driver took
  uint32_t rx = 0;    // FT_GetQueueStatus, FT_GetStatus: bytes waiting
  uint32_t tx = 0;    // FT_GetStatus: bytes still to transmit
  uint32_t event = 0;
  uint32_t size = 0;  // FT_EE_UASize
  uint64_t t0 = 0;    // monotonic nanoseconds at entry
  uint64_t t1 = 0;    // and at return
  uint64_t thread = 0;
};

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
  std::vector<CallRecord> calls;
};

// A file that is not a whole capture this build can read; what() says why, for people.
class CaptureError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

std::string FormatHeader(const Header& header);
std::string FormatDropped(uint64_t dropped);
std::string FormatCall(const CallRecord& call);  // one line, with its newline

// Reads `text`, the whole file; `name` names it in errors.
Capture ParseCapture(const std::string& text, const std::string& name);
// Reads the file at `path`.
Capture ReadCapture(const std::string& path);

// "FT_Write(handle 1, 7 bytes 02 52 30 63 30 63 03)": a call's inputs, for people.
std::string DescribeInputs(const CallRecord& call);

}  // namespace korvelan380::capture

#endif  // KORVELAN380_CAPTURE_CAPTURE_FILE_H
