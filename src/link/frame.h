// The register frames, composed and checked as plain bytes with no I/O.
//
// A write is STX 'W', the first register as a lower-case hex pair, one hex pair per value, ETX.
// A read is STX 'R', the first and last register as hex pairs, ETX; its reply is four bytes
// per register, byte 1 the letter 'R' and byte 2 the register's value.
#ifndef KORVELAN380_LINK_FRAME_H
#define KORVELAN380_LINK_FRAME_H

#include <cstddef>
#include <cstdint>

namespace korvelan380 {

inline constexpr uint8_t kStx = 0x02;
inline constexpr uint8_t kEtx = 0x03;
inline constexpr size_t kMaxWriteRun = 255;
inline constexpr size_t kMaxWriteFrameSize = 5 + 2 * kMaxWriteRun;
inline constexpr size_t kReadFrameSize = 7;
inline constexpr size_t kReplyRecordSize = 4;
inline constexpr size_t kMaxReadRun = 256;

// Number of registers in first..last (0 when first > last).
inline size_t RunLength(uint8_t first, uint8_t last) {
  return first > last ? 0 : static_cast<size_t>(last) - first + 1;
}

// Writes the two lower-case hex digits of value to out[0] and out[1].
void PutHexPair(uint8_t value, uint8_t* out);

// The two bytes of a 16-bit register value, high byte first, as they travel.
inline void SplitWord(uint16_t value, uint8_t (&bytes)[2]) {
  bytes[0] = static_cast<uint8_t>(value >> 8);
  bytes[1] = static_cast<uint8_t>(value & 0xFF);
}
inline uint16_t JoinWord(const uint8_t (&bytes)[2]) {
  return static_cast<uint16_t>(bytes[0] << 8 | bytes[1]);
}

// Composes the write frame for count (1 to 255) values from register first into frame, which
// has room for kMaxWriteFrameSize bytes; returns the frame's length.
size_t ComposeWriteFrame(uint8_t first, const uint8_t* values, size_t count, uint8_t* frame);

// Composes the 7-byte read frame of registers first..last.
void ComposeReadFrame(uint8_t first, uint8_t last, uint8_t* frame);

// Takes byte 2 of each of count reply records into out, in order; false at the first record
// whose byte 1 is not 'R', with out holding the values of the records before it.
bool CheckReplyRecords(const uint8_t* reply, size_t count, uint8_t* out);

}  // namespace korvelan380

#endif  // KORVELAN380_LINK_FRAME_H
