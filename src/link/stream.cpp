#include "link/stream.h"

#include <memory>
#include <new>

#include "link/frame.h"
#include "link/transactions.h"

namespace korvelan380 {

void EncodeStreamBody(const uint16_t* samples, size_t count, uint8_t* body) {
  static constexpr char kUpperHex[] = "0123456789ABCDEF";
  for (size_t i = 0; i < count; ++i, body += kStreamBytesPerSample) {
    const uint16_t s = samples[i];
    body[0] = static_cast<uint8_t>(kUpperHex[s >> 12]);
    body[1] = static_cast<uint8_t>(kUpperHex[(s >> 8) & 0xF]);
    body[2] = static_cast<uint8_t>(kUpperHex[(s >> 4) & 0xF]);
    body[3] = static_cast<uint8_t>(kUpperHex[s & 0xC]);
  }
}

bool StreamWaveform(Link& link, const uint16_t* samples, uint8_t channel, int32_t count) {
  if (channel > 1 || !StreamCountAccepted(count)) return false;
  const size_t n = static_cast<size_t>(count);
  std::unique_ptr<uint8_t[]> body(new (std::nothrow) uint8_t[kStreamBytesPerSample * n]);
  if (!body) return false;
  EncodeStreamBody(samples, n, body.get());
  return StreamEncodedBody(link, body.get(), channel, count);
}

bool StreamEncodedBody(Link& link, const uint8_t* body, uint8_t channel, int32_t count) {
  if (channel > 1 || !StreamCountAccepted(count)) return false;
  uint8_t header[4] = {kStx, 'X'};
  PutHexPair(channel, header + 2);
  if (!SendFrame(link, header, sizeof header)) return false;
  // The whole body in one write; it is never split.
  if (!SendFrame(link, body, kStreamBytesPerSample * static_cast<size_t>(count))) return false;
  const uint8_t trailer = kEtx;
  return SendFrame(link, &trailer, 1);
}

}  // namespace korvelan380
