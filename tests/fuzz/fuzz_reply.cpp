// Fuzzes the assembly and checks of a register read's reply: arbitrary reply bytes, delivered
// in arbitrary pieces, for an arbitrary run of registers.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "device/device_table.h"
#include "korvelan380.h"
#include "link/transactions.h"
#include "stub_driver.h"

namespace {

korvelan380::DeviceEntry* Connected() {
  static std::shared_ptr<korvelan380::DeviceEntry> entry = [] {
    // The connect reads the initialised flag: answer it with 1.
    static const uint8_t flag[] = {0x02, 'R', 0x01, 0x03};
    stub_driver_script(flag, sizeof flag, nullptr, 0, nullptr, 0);
    KORVELAN380_Connect("fuzz");
    return korvelan380::FindEntry("fuzz");
  }();
  return entry.get();
}

}  // namespace

// The pause between reply reads, replaced here by nothing: it would only slow the fuzzer down.
namespace korvelan380::platform {
void SleepMilliseconds(uint32_t) {}
}  // namespace korvelan380::platform

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Layout: first, last, the number of piece sizes, the piece sizes, then the reply bytes.
  if (size < 3) return 0;
  const uint8_t first = data[0], last = data[1];
  size_t pieces = data[2];
  if (pieces > size - 3) pieces = size - 3;
  stub_driver_script(data + 3 + pieces, size - 3 - pieces, data + 3, pieces, nullptr, 0);
  uint8_t out[256];
  std::memset(out, 0xEE, sizeof out);
  korvelan380::DeviceEntry* entry = Connected();
  if (entry == nullptr) __builtin_trap();
  const bool ok = korvelan380::ReadRegisters(entry->link, out, first, last);
  // A read that succeeds had a complete reply with 'R' in every record.
  const size_t count = first > last ? 0 : size_t{last} - first + 1;
  if (ok && (count == 0 || size - 3 - pieces < 4 * count)) __builtin_trap();
  if (ok) {
    const uint8_t* reply = data + 3 + pieces;
    for (size_t j = 0; j < count; ++j) {
      if (reply[4 * j + 1] != 'R' || out[j] != reply[4 * j + 2]) __builtin_trap();
    }
  }
  return 0;
}
