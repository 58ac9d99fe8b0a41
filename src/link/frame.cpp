#include "link/frame.h"

namespace korvelan380 {
namespace {

constexpr char kLowerHex[] = "0123456789abcdef";

}  // namespace

void PutHexPair(uint8_t value, uint8_t* out) {
  out[0] = static_cast<uint8_t>(kLowerHex[value >> 4]);
  out[1] = static_cast<uint8_t>(kLowerHex[value & 0x0F]);
}

size_t ComposeWriteFrame(uint8_t first, const uint8_t* values, size_t count, uint8_t* frame) {
  size_t length = 0;
  frame[length++] = kStx;
  frame[length++] = 'W';
  PutHexPair(first, frame + length);
  length += 2;
  for (size_t i = 0; i < count; ++i, length += 2) PutHexPair(values[i], frame + length);
  frame[length++] = kEtx;
  return length;
}

void ComposeReadFrame(uint8_t first, uint8_t last, uint8_t* frame) {
  frame[0] = kStx;
  frame[1] = 'R';
  PutHexPair(first, frame + 2);
  PutHexPair(last, frame + 4);
  frame[6] = kEtx;
}

bool CheckReplyRecords(const uint8_t* reply, size_t count, uint8_t* out) {
  for (size_t j = 0; j < count; ++j) {
    const uint8_t* record = reply + j * kReplyRecordSize;
    if (record[1] != 'R') return false;
    out[j] = record[2];
  }
  return true;
}

}  // namespace korvelan380
