#include "link/stream.h"

#include <array>
#include <cstring>
#include <memory>
#include <new>

#include "link/cpu.h"
#include "link/frame.h"
#include "link/transactions.h"

#if defined(KORVELAN380_HAVE_X86_PATHS)
#include "link/stream_avx2.h"
#endif

namespace korvelan380 {
namespace {

constexpr char kUpperHex[] = "0123456789ABCDEF";

// The two digits of a byte, as they lie in memory: the high byte of a sample gives digits 1
// and 2, the low byte digits 3 and 4, the last one with the low two bits cleared.
struct DigitTables {
  std::array<uint16_t, 256> high;
  std::array<uint16_t, 256> low;
};

constexpr uint16_t DigitPair(unsigned first, unsigned second) {
  return static_cast<uint16_t>(static_cast<uint8_t>(kUpperHex[first]) |
                               static_cast<uint8_t>(kUpperHex[second]) << 8);
}

constexpr DigitTables MakeDigitTables() {
  DigitTables tables{};
  for (unsigned b = 0; b < 256; ++b) {
    tables.high[b] = DigitPair(b >> 4, b & 0xF);
    tables.low[b] = DigitPair(b >> 4, b & 0xC);
  }
  return tables;
}

constexpr DigitTables kDigits = MakeDigitTables();

void EncodeScalar(const uint16_t* samples, size_t count, uint8_t* body) {
  for (size_t i = 0; i < count; ++i) {
    const uint32_t digits = EncodeSample(samples[i]);
    std::memcpy(body + kStreamBytesPerSample * i, &digits, sizeof digits);
  }
}

#if defined(KORVELAN380_HAVE_X86_PATHS)
__attribute__((target("avx2"))) size_t EncodeAvx2(const uint16_t* samples, size_t count,
                                                  uint8_t* body) {
  size_t i = 0;
  for (; i + 16 <= count; i += 16) {
    EncodeSixteen(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(samples + i)),
                  body + kStreamBytesPerSample * i);
  }
  return i;
}
#endif

}  // namespace

uint32_t EncodeSample(uint16_t sample) {
  return uint32_t{kDigits.high[sample >> 8]} | uint32_t{kDigits.low[sample & 0xFF]} << 16;
}

void EncodeStreamBody(const uint16_t* samples, size_t count, uint8_t* body) {
  size_t done = 0;
#if defined(KORVELAN380_HAVE_X86_PATHS)
  if (CpuHasAvx2()) done = EncodeAvx2(samples, count, body);
#endif
  EncodeScalar(samples + done, count - done, body + kStreamBytesPerSample * done);
}

bool StreamWaveform(DeviceEntry& entry, const uint16_t* samples, uint8_t channel, int32_t count) {
  // 1. Channel 0 or 1 and 1 to 524288 samples, or nothing goes out.
  if (channel > 1 || !StreamCountAccepted(count)) return false;
  // 2. The body, encoded completely before the module is taken.
  const size_t n = static_cast<size_t>(count);
  std::unique_ptr<uint8_t[]> body(new (std::nothrow) uint8_t[kStreamBytesPerSample * n]);
  if (!body) return false;
  EncodeStreamBody(samples, n, body.get());
  return StreamEncodedBody(entry, body.get(), channel, count);
}

bool StreamEncodedBody(DeviceEntry& entry, const uint8_t* body, uint8_t channel, int32_t count) {
  if (channel > 1 || !StreamCountAccepted(count)) return false;
  uint8_t header[4] = {kStx, 'X'};
  PutHexPair(channel, header + 2);
  // Header to trailer under the module's lock, so that no other frame falls between them.
  ModuleLock lock(entry);
  if (!lock) return false;
  if (!SendFrame(entry, header, sizeof header)) return false;
  // The whole body in one write; it is never split.
  if (!SendFrame(entry, body, kStreamBytesPerSample * static_cast<size_t>(count))) return false;
  const uint8_t trailer = kEtx;
  return SendFrame(entry, &trailer, 1);
}

}  // namespace korvelan380
