#include "user_area.h"

#include <algorithm>

namespace korvelan380::ftdi {
namespace {

constexpr size_t kSerialPointerWord = 9;

// The word after the serial number's string descriptor. Its pointer word holds the byte
// address (bit 7 set, wrapping at the configuration area's size) and the length.
size_t AfterSerial(const EepromLayout& layout, const std::vector<uint16_t>& config) {
  const size_t configBytes = 2 * layout.configWords;
  const uint16_t pointer = config[kSerialPointerWord];
  const size_t end = (pointer & 0xFF) % configBytes + (pointer >> 8);
  return end / 2 + 1;
}

}  // namespace

std::vector<size_t> UserAreaWords(const EepromLayout& layout, const std::vector<uint16_t>& config) {
  std::vector<size_t> words;
  for (size_t w = layout.fixedFirst; w < layout.fixedEnd; ++w) words.push_back(w);
  const size_t checksumWord = layout.configWords - 1;
  const size_t first = std::max(AfterSerial(layout, config), layout.fixedEnd);
  for (size_t w = first; w < checksumWord; ++w) words.push_back(w);
  return words;
}

uint16_t Checksum(const uint16_t* words, size_t count) {
  uint16_t sum = 0xAAAA;
  for (size_t i = 0; i < count; ++i) {
    sum ^= words[i];
    sum = static_cast<uint16_t>(sum << 1 | sum >> 15);
  }
  return sum;
}

std::vector<uint8_t> ReadUserArea(const EepromLayout& layout, const std::vector<uint16_t>& config,
                                  size_t length) {
  std::vector<uint8_t> bytes;
  for (size_t w : UserAreaWords(layout, config)) {
    bytes.push_back(static_cast<uint8_t>(config[w]));
    bytes.push_back(static_cast<uint8_t>(config[w] >> 8));
  }
  if (length <= bytes.size() || !layout.readsPastTheEnd) {
    bytes.resize(std::min(length, bytes.size()));
    return bytes;
  }
  const uint16_t checksum = config[layout.configWords - 1];
  bytes.push_back(static_cast<uint8_t>(checksum));
  bytes.push_back(static_cast<uint8_t>(checksum >> 8));
  bytes.resize(length, 0);
  return bytes;
}

std::vector<uint16_t> WithUserArea(const EepromLayout& layout, std::vector<uint16_t> config,
                                   const uint8_t* data, size_t length) {
  const std::vector<size_t> words = UserAreaWords(layout, config);
  for (size_t i = 0; i < length; ++i) {
    uint16_t& word = config[words[i / 2]];
    word = i % 2 == 0 ? static_cast<uint16_t>((word & 0xFF00) | data[i])
                      : static_cast<uint16_t>((word & 0x00FF) | data[i] << 8);
  }
  const size_t checksumWord = layout.configWords - 1;
  config[checksumWord] = Checksum(config.data(), checksumWord);
  return config;
}

}  // namespace korvelan380::ftdi
