// The open driver's EEPROM user area where the chips' EEPROMs are not as FTDI's tools leave them:
// the cases the emulated chips do not show (drivers/ftdi/user_area.h).
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "user_area.h"

namespace {

using korvelan380::ftdi::Checksum;
using korvelan380::ftdi::EepromLayout;
using korvelan380::ftdi::ReadUserArea;
using korvelan380::ftdi::UserAreaWords;
using korvelan380::ftdi::WithUserArea;

constexpr EepromLayout kFt232h = {128, 16, 64, true};
constexpr EepromLayout kFt232r = {64, 0, 0, false};

// A blank (erased) part: its serial number pointer leads past the configuration area, so only the
// FT232H's fixed part is left, and an FT232R has no user area at all.
TEST(FtdiUserArea, ABlankEepromLeavesOnlyTheFixedPart) {
  const std::vector<uint16_t> blank(128, 0xFFFF);
  EXPECT_EQ(UserAreaWords(kFt232h, blank).size(), 48u);
  EXPECT_TRUE(UserAreaWords(kFt232r, std::vector<uint16_t>(64, 0xFFFF)).empty());
  EXPECT_TRUE(ReadUserArea(kFt232r, std::vector<uint16_t>(64, 0xFFFF), 10).empty());
}

// A serial number string that ends inside the fixed part (its pointer without the bit 7 that
// FTDI's tools set) does not make the fixed part's words count twice.
TEST(FtdiUserArea, TheFixedPartIsNeverCountedTwice) {
  std::vector<uint16_t> config(128, 0);
  config[9] = static_cast<uint16_t>(10 << 8 | 0x20);  // bytes 0x20 to 0x29: words 16 to 20
  const std::vector<size_t> words = UserAreaWords(kFt232h, config);
  EXPECT_EQ(words.size(), 48u + 63u);
  EXPECT_EQ(words[47], 63u);
  EXPECT_EQ(words[48], 64u);
  EXPECT_EQ(words.back(), 126u);
}

// A write of fewer bytes than the user area holds changes those alone, the other byte of a word
// written by half included, and makes the checksum anew.
TEST(FtdiUserArea, AShortWriteKeepsTheRestAndMakesTheChecksumAnew) {
  std::vector<uint16_t> config(128, 0xFFFF);
  const uint8_t data[] = {0x11, 0x22, 0x33};
  const std::vector<uint16_t> after = WithUserArea(kFt232h, config, data, sizeof data);
  EXPECT_EQ(after[16], 0x2211);
  EXPECT_EQ(after[17], 0xFF33);
  EXPECT_EQ(after[18], 0xFFFF);
  EXPECT_EQ(after[127], Checksum(after.data(), 127));
  config[127] = after[127];
  config[16] = after[16];
  config[17] = after[17];
  EXPECT_EQ(after, config);
}

}  // namespace
