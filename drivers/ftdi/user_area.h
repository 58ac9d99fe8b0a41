// Where FTDI's driver keeps the EEPROM user area, and how it reads and writes it, as plain
// functions over the configuration words: no I/O here.
#ifndef KORVELAN380_DRIVERS_FTDI_USER_AREA_H
#define KORVELAN380_DRIVERS_FTDI_USER_AREA_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace korvelan380::ftdi {

// How a kind of chip lays out its configuration area.
struct EepromLayout {
  size_t configWords;    // words 0 to configWords-1; the last holds the checksum
  size_t fixedFirst;     // a user area part whatever the strings' length (FT232H): these words
  size_t fixedEnd;       //   up to fixedEnd-1; 0 and 0 for none
  bool readsPastTheEnd;  // a read past the user area goes on (checksum, then zeros)
};

// The user area's words in the order FT_EE_UARead gives them: the fixed part, then from the word
// after the serial number's string descriptor (its pointer in word 9) to the one before the
// checksum. A pointer that leads outside the configuration area leaves that part empty.
std::vector<size_t> UserAreaWords(const EepromLayout& layout, const std::vector<uint16_t>& config);

// FTDI's checksum over words 0 to count-1: 0xAAAA, each word XORed in, rotated left one bit.
uint16_t Checksum(const uint16_t* words, size_t count);

// What FT_EE_UARead gives for `length` bytes: the user area's bytes (low byte first), and past
// it, where the layout says so, the checksum word and then zeros; otherwise no more than the
// user area holds.
std::vector<uint8_t> ReadUserArea(const EepromLayout& layout, const std::vector<uint16_t>& config,
                                  size_t length);

// The configuration words with `length` bytes of `data` in the user area (the rest as it was)
// and the checksum made anew. `length` must not exceed the user area.
std::vector<uint16_t> WithUserArea(const EepromLayout& layout, std::vector<uint16_t> config,
                                   const uint8_t* data, size_t length);

}  // namespace korvelan380::ftdi

#endif  // KORVELAN380_DRIVERS_FTDI_USER_AREA_H
