// One emulated chip: its kind, its EEPROM, the module behind it and what it keeps between
// requests.
#ifndef KORVELAN380_FTDI_CHIPS_CHIP_H
#define KORVELAN380_FTDI_CHIPS_CHIP_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "module_model.h"

namespace korvelan380::ftdi_chips {

inline constexpr uint16_t kVendor = 0x0403;
inline constexpr uint8_t kDefaultLatencyMs = 16;

// What tells one kind of chip from another, as FTDI's driver sees it.
struct ChipKind {
  const char* name;
  uint16_t product;
  uint16_t release;       // bcdDevice, from which the driver tells the chip's type
  uint8_t controlPacket;  // bMaxPacketSize0
  uint16_t bulkPacket;    // wMaxPacketSize of the bulk endpoints
  size_t eepromWords;     // what the EEPROM part holds
  size_t configWords;     // the chip's configuration area; its last word is the checksum
  size_t stringsStart;    // byte address of the first string descriptor
  uint8_t eepromType;     // the byte FTDI's tools write for an external part; 0: internal
  // Byte address where FTDI's driver starts the user area whatever the strings' length, and
  // where a new chip holds the ideal calibration record; 0: after the serial number string,
  // which leaves an FT232R too little room for the record.
  size_t userAreaStart;
};

// A chip as named in $KORVELAN380_EMULATED_CHIPS or to kft_attach: "ID[:KIND][:blank]".
struct ChipSpec {
  std::string id;
  const ChipKind* kind;
  bool blank = false;  // the user area as FTDI's tools leave it, without a calibration record
};
std::optional<ChipSpec> ParseSpec(std::string_view item);

struct Chip {
  Chip(const ChipSpec& spec, int number);

  std::string Serial() const { return "KORVELAN380" + deviceId; }
  // The word at an address as the part answers it: the address wraps at the part's size.
  uint16_t& Word(size_t address) { return eeprom[address % eeprom.size()]; }
  // The string descriptor pointer word `pointerWord` (7, 8 or 9) leads to, as ASCII.
  std::string EepromString(size_t pointerWord) const;
  // The chip plugged in afresh: the module as at power-up (its output errors kept), the latency
  // timer at its default.
  void PowerUp();
  // With $KORVELAN380_EMULATED_EEPROMS naming a folder, the EEPROM outlives the process there as
  // SERIAL.eeprom (the words, little-endian), as a real chip's does between programs: loaded
  // when the chip is made, saved after every write.
  void LoadEeprom();
  void SaveEeprom() const;

  const std::string deviceId;
  const ChipKind& kind;
  const int devnum;
  std::unique_ptr<sim::detail::Module> model;
  std::vector<uint16_t> eeprom;
  bool plugged = true;
  uint8_t latencyMs = kDefaultLatencyMs;
  uint64_t lastPacketMs = 0;  // when the chip last sent a bulk IN packet
  std::array<uint32_t, 256> requests{};
  int openNodes = 0;
};

// FTDI's checksum over words 0 to count-1.
uint16_t Checksum(const uint16_t* words, size_t count);

}  // namespace korvelan380::ftdi_chips

#endif  // KORVELAN380_FTDI_CHIPS_CHIP_H
