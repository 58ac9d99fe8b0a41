// The "X" waveform stream: a 4-byte header (STX, 'X', the channel as a hex pair), a body of four
// upper-case hex digits per 16-bit sample, and a closing ETX, as three writes while the caller
// holds the module. The fourth digit of each sample is masked with 0xC: the module takes the
// top 14 bits.
#ifndef KORVELAN380_LINK_STREAM_H
#define KORVELAN380_LINK_STREAM_H

#include <cstddef>
#include <cstdint>

#include "link/link.h"

namespace korvelan380 {

inline constexpr uint32_t kMaxStreamSamples = 524288;
inline constexpr size_t kStreamBytesPerSample = 4;

// True when count is 1 to 524288, tested as (count - 1) unsigned so that no value overflows.
inline bool StreamCountAccepted(int32_t count) {
  return static_cast<uint32_t>(count) - 1u < kMaxStreamSamples;
}

// Encodes count samples into body (4 * count bytes).
void EncodeStreamBody(const uint16_t* samples, size_t count, uint8_t* body);

// Streams count samples to channel 0 or 1; false for any other channel or count, with nothing
// sent. The body is encoded completely in memory and handed to the driver in one write.
bool StreamWaveform(Link& link, const uint16_t* samples, uint8_t channel, int32_t count);

// The same with the body already encoded (4 * count bytes).
bool StreamEncodedBody(Link& link, const uint8_t* body, uint8_t channel, int32_t count);

}  // namespace korvelan380

#endif  // KORVELAN380_LINK_STREAM_H
