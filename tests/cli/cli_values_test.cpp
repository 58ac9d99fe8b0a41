// The values people type: ranges by name, volts and their raw values, numbers and bytes.
#include <gtest/gtest.h>

#include <cmath>

#include "core/values.h"

namespace korvelan380::tool {
namespace {

TEST(RangeNames, EveryNameAliasAndIndexSelectsItsRange) {
  const std::vector<std::pair<const char*, uint8_t>> names = {{"-10..10V", 0},
                                                              {"-10..+10V", 0},
                                                              {"+-10V", 0},
                                                              {"\xc2\xb1"
                                                               "10V",
                                                               0},
                                                              {"bip10", 0},
                                                              {"10V", 0},
                                                              {"10 v", 0},
                                                              {"-5..5V", 1},
                                                              {"+-5", 1},
                                                              {"5V", 1},
                                                              {"BIP5", 1},
                                                              {"-2.5..2.5V", 2},
                                                              {"2.5V", 2},
                                                              {"+-2.5V", 2},
                                                              {"-1.25..1.25V", 3},
                                                              {"1.25V", 3},
                                                              {"bip1.25", 3},
                                                              {"0..10V", 4},
                                                              {"0-10V", 4},
                                                              {"uni10", 4},
                                                              {"+10V", 4},
                                                              {"0..5V", 5},
                                                              {"uni5", 5},
                                                              {"0..+5", 5},
                                                              {"0..2.5V", 6},
                                                              {"uni2.5", 6},
                                                              {"0", 0},
                                                              {"4", 4},
                                                              {"6", 6}};
  for (const auto& [name, index] : names) {
    const auto parsed = ParseRange(name);
    ASSERT_TRUE(parsed) << name << ": " << parsed.error;
    EXPECT_EQ(*parsed, index) << name;
  }
  for (const Range& r : kRanges) EXPECT_EQ(*ParseRange(r.name), r.index) << r.name;
}

TEST(RangeNames, AnythingElseIsRefusedWithTheChoices) {
  for (const char* bad : {"7", "10", "-1", "uni1.25", "0..1.25V", "-10..5V", "bip3", "", "V"}) {
    EXPECT_FALSE(ParseRange(bad)) << bad;
  }
  EXPECT_EQ(ParseRange("12V").error,
            "'12V' is not an output range: give one of -10..10V, -5..5V, -2.5..2.5V, "
            "-1.25..1.25V, 0..10V, 0..5V, 0..2.5V, or an index 0 to 6");
  EXPECT_EQ(RangeName(9), "unknown range 9");
}

TEST(Volts, EveryRawValueOfEveryRangeComesBackFromItsVolts) {
  for (const Range& range : kRanges) {
    for (uint32_t raw = 0; raw <= kMaxRaw; ++raw) {
      const double volts = VoltsFromRaw(static_cast<uint16_t>(raw), range);
      const auto back = RawFromVolts(volts, range);
      ASSERT_TRUE(back) << range.name << " " << raw;
      ASSERT_EQ(*back, raw) << range.name;
    }
  }
}

TEST(Volts, NearestStepAndLimits) {
  const Range& bip10 = kRanges[0];
  EXPECT_EQ(VoltsFromRaw(0, bip10), -10.0);
  EXPECT_EQ(VoltsFromRaw(0x2000, bip10), 0.0);
  EXPECT_EQ(VoltsFromRaw(0x3FFF, bip10), 9.998779296875);
  EXPECT_EQ(*RawFromVolts(2.5, bip10), 10240);
  EXPECT_EQ(*RawFromVolts(0.0006, bip10), 0x2000);  // just under half a step
  EXPECT_EQ(*RawFromVolts(0.0007, bip10), 0x2001);
  EXPECT_EQ(*RawFromVolts(9.998779296875, bip10), 0x3FFF);
  EXPECT_FALSE(RawFromVolts(9.9988, bip10));
  EXPECT_FALSE(RawFromVolts(-10.0000001, bip10));
  EXPECT_FALSE(RawFromVolts(std::nan(""), bip10));
  EXPECT_EQ(RawFromVolts(10, bip10).error,
            "10 V is outside the range -10..10V: its limits are -10 V to 9.998779 V");
  EXPECT_EQ(RawFromVolts(-0.5, kRanges[6]).error,
            "-0.5 V is outside the range 0..2.5V: its limits are 0 V to 2.499847 V");
  EXPECT_EQ(ClippedRaw(-20, bip10), 0);
  EXPECT_EQ(ClippedRaw(20, bip10), kMaxRaw);
  EXPECT_EQ(ClippedRaw(std::nan(""), bip10), 0);
}

TEST(Volts, TextForms) {
  EXPECT_EQ(*ParseVolts("2.5V"), 2.5);
  EXPECT_EQ(*ParseVolts("-1.25"), -1.25);
  EXPECT_EQ(*ParseVolts("2.5 v"), 2.5);
  EXPECT_DOUBLE_EQ(*ParseVolts("500mV"), 0.5);
  for (const char* bad : {"", "V", "2.5VV", "abc", "1,5", "1e999", "nan", "inf"}) {
    EXPECT_FALSE(ParseVolts(bad)) << bad;
  }
  EXPECT_EQ(FormatVolts(9.998779296875), "9.998779 V");
  EXPECT_EQ(FormatVolts(-0.0), "0 V");
  EXPECT_EQ(FormatVolts(-10), "-10 V");
}

TEST(OutputValues, VoltsRawAndCodes) {
  EXPECT_EQ(std::get<Volts>(*ParseOutputValue("-1.25")).volts, -1.25);
  EXPECT_EQ(std::get<Raw>(*ParseOutputValue("raw:8192")).raw, 8192);
  EXPECT_EQ(std::get<Raw>(*ParseOutputValue("RAW:0x3fff")).raw, 0x3FFF);
  EXPECT_EQ(std::get<Code>(*ParseOutputValue("code:0x1234")).code, 0x1234);
  EXPECT_EQ(std::get<Code>(*ParseOutputValue("code:65535")).code, 0xFFFF);
  EXPECT_EQ(ParseOutputValue("raw:16384").error,
            "'16384' is not a valid raw value: give a number from 0 to 16383 (decimal, 0x.. or "
            "0b..)");
  EXPECT_FALSE(ParseOutputValue("code:65536"));
  EXPECT_FALSE(ParseOutputValue("code:-1"));
  EXPECT_EQ(ParseOutputValue("two").error,
            "'two' is not a voltage: give volts such as 2.5V, -1.25 or 500mV, a raw value "
            "(raw:8192) or a code (code:0x1234)");
}

TEST(Numbers, DecimalHexAndBinaryUpToTheirLimit) {
  EXPECT_EQ(*ParseByte("255"), 255);
  EXPECT_EQ(*ParseByte("0xA5"), 0xA5);
  EXPECT_EQ(*ParseByte("0b10100101"), 0xA5);
  for (const char* bad : {"256", "0x100", "0b2", "0x", "-1", "1.5", "", "0b111111111"}) {
    EXPECT_FALSE(ParseByte(bad)) << bad;
  }
  EXPECT_EQ(*ParseUnsigned("4294967295", 0xFFFFFFFF, "clock"), 0xFFFFFFFFu);
  EXPECT_FALSE(ParseUnsigned("4294967296", 0xFFFFFFFF, "clock"));
  EXPECT_FALSE(ParseUnsigned("99999999999999999999999", 0xFFFFFFFF, "clock"));
}

TEST(Numbers, ALatencyIsOneTo255MillisecondsOrKeep) {
  EXPECT_EQ(*ParseLatency("1"), std::optional<uint8_t>(1));
  EXPECT_EQ(*ParseLatency("255"), std::optional<uint8_t>(255));
  EXPECT_EQ(*ParseLatency("Keep"), std::nullopt);
  for (const char* bad : {"0", "256", "-1", "2ms", "", "kept", "1.5"}) {
    EXPECT_FALSE(ParseLatency(bad)) << bad;
  }
  EXPECT_EQ(ParseLatency("0").error,
            "'0' is not a latency: give milliseconds from 1 to 255, or keep");
}

}  // namespace
}  // namespace korvelan380::tool
