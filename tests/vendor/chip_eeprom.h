// An emulated chip's EEPROM as the vendor tests read it, and FTDI's checksum, worked out here
// rather than taken from the emulator, so that the tests check it.
#ifndef KORVELAN380_TESTS_VENDOR_CHIP_EEPROM_H
#define KORVELAN380_TESTS_VENDOR_CHIP_EEPROM_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "korvelan380_ftdi_chips.h"

namespace korvelan380::test {

// Every word of the part.
inline std::vector<uint16_t> Eeprom(const char* id) {
  std::vector<uint16_t> words(kft_eeprom(id, nullptr, 0));
  kft_eeprom(id, words.data(), words.size());
  return words;
}

// FTDI's checksum (0xAAAA, each word XORed in and the sum rotated left one bit) over the words
// before `checksumWord`, the last of the configuration area, which holds it.
inline bool ChecksumHolds(const std::vector<uint16_t>& words, size_t checksumWord) {
  uint16_t sum = 0xAAAA;
  for (size_t i = 0; i < checksumWord; ++i) {
    sum ^= words[i];
    sum = static_cast<uint16_t>(sum << 1 | sum >> 15);
  }
  return words[checksumWord] == sum;
}

}  // namespace korvelan380::test

#endif  // KORVELAN380_TESTS_VENDOR_CHIP_EEPROM_H
