// Bytes as text of hex digits and back: the capture file's data fields, the trace, the tool's
// saved state. Two lower-case digits a byte; either case read back.
#ifndef KORVELAN380_CAPTURE_HEX_H
#define KORVELAN380_CAPTURE_HEX_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace korvelan380::hex {

std::string Encode(const uint8_t* data, size_t size);
inline std::string Encode(const std::vector<uint8_t>& bytes) {
  return Encode(bytes.data(), bytes.size());
}

// The value of one hex digit, -1 for any other character.
int DigitValue(char c);

// The bytes `text` spells, two digits a byte; false (and `out` untouched) for an odd length or
// a character that is not a hex digit.
bool Decode(std::string_view text, std::vector<uint8_t>& out);

}  // namespace korvelan380::hex

#endif  // KORVELAN380_CAPTURE_HEX_H
