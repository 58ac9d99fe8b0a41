// Fuzzes the simulated module's frame parser: arbitrary bytes written in arbitrary pieces,
// then whatever replies it queued read back. The module must stay consistent: every reply is
// whole records, and a read frame written afterwards is answered.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "d2xx.h"
#include "korvelan380_sim.hpp"

extern "C" {
FT_STATUS FT_OpenEx(void* arg, DWORD flags, FT_HANDLE* handle);
FT_STATUS FT_Close(FT_HANDLE handle);
FT_STATUS FT_Read(FT_HANDLE handle, void* buffer, DWORD toRead, DWORD* bytesRead);
FT_STATUS FT_Write(FT_HANDLE handle, void* buffer, DWORD toWrite, DWORD* written);
FT_STATUS FT_GetQueueStatus(FT_HANDLE handle, DWORD* rxBytes);
FT_STATUS FT_Purge(FT_HANDLE handle, DWORD mask);
}

namespace sim = korvelan380::sim;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static FT_HANDLE handle = [] {
    sim::Attach("KORVELAN380fz");
    sim::SetTracing(false);
    char serial[] = "KORVELAN380fz";
    FT_HANDLE h = nullptr;
    FT_OpenEx(serial, 1, &h);
    return h;
  }();
  if (size == 0) return 0;
  // The first byte chooses the piece size of the writes.
  const size_t piece = size_t{data[0]} + 1;
  std::vector<uint8_t> bytes(data + 1, data + size);
  for (size_t at = 0; at < bytes.size(); at += piece) {
    DWORD written = 0;
    const size_t n = bytes.size() - at < piece ? bytes.size() - at : piece;
    if (FT_Write(handle, bytes.data() + at, static_cast<DWORD>(n), &written) != FT_OK) {
      __builtin_trap();
    }
  }
  DWORD pending = 0;
  FT_GetQueueStatus(handle, &pending);
  if (pending % 4 != 0) __builtin_trap();  // whole records only
  FT_Purge(handle, 1);
  // Whatever came before, a fresh frame after an STX is parsed: read register 7 back.
  uint8_t frame[] = {0x02, 'R', '0', '7', '0', '7', 0x03};
  DWORD written = 0;
  FT_Write(handle, frame, sizeof frame, &written);
  uint8_t reply[4] = {};
  DWORD got = 0;
  FT_Read(handle, reply, 4, &got);
  if (got != 4 || reply[1] != 'R' || reply[2] != sim::Register("KORVELAN380fz", 7)) {
    __builtin_trap();
  }
  return 0;
}
