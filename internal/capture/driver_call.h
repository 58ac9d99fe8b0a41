// One driver call as a record (plain types only: it is included where <windows.h> is, whose
// DWORD is not d2xx.h's): what the recording shim writes to a capture, what the simulated
// module keeps in its trace and answers from in a replay, what the tool shows.
#ifndef KORVELAN380_CAPTURE_DRIVER_CALL_H
#define KORVELAN380_CAPTURE_DRIVER_CALL_H

#include <cstdint>
#include <string>
#include <vector>

namespace korvelan380::capture {

// One driver call, as the recording shim saw it and the simulated module's trace and replay keep
// it. `fn` numbers the function as the D2XX list does (D2XX_FT_OpenEx, ...). `handle` is the
// capture's own number for the handle (1 for the first one FT_OpenEx gave out), 0 for a handle no
// recorded FT_OpenEx returned.
struct DriverCall {
  uint64_t seq = 0;
  int fn = 0;  // FT_OpenEx
  uint32_t handle = 0;
  std::string serial;  // FT_OpenEx by serial number; the module a traced call addressed
  // Flags, bytes asked for, bytes to write, purge mask, EEPROM length, read timeout, latency.
  uint32_t arg = 0;
  uint32_t arg2 = 0;          // FT_SetTimeouts: the write timeout
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

}  // namespace korvelan380::capture

#endif  // KORVELAN380_CAPTURE_DRIVER_CALL_H
