// DAC channel configuration, output range and output values, on the wire.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "support/module_chat.h"

namespace korvelan380::test {
namespace {

void SetCalibrationEntry(const char* id, int index, float gain, uint16_t offset) {
  CalibrationGains gains{};
  CalibrationOffsets offsets{};
  gains.gain[index] = gain;
  offsets.offset[index] = offset;
  ASSERT_EQ(KORVELAN380_Calib_Val_Set(id, &offsets, &gains, 0), KORVELAN380_OK);
}

void SetIdentity(const char* id) {
  constexpr double kSpan[7] = {20.0, 10.0, 5.0, 2.5, 10.0, 5.0, 2.5};
  CalibrationGains gains;
  CalibrationOffsets offsets;
  for (int i = 0; i < 14; ++i) {
    gains.gain[i] = static_cast<float>(kSpan[i % 7] / 16384.0);
    offsets.offset[i] = i % 7 < 4 ? 0x2000 : 0;
  }
  ASSERT_EQ(KORVELAN380_Calib_Val_Set(id, &offsets, &gains, 0), KORVELAN380_OK);
}

DacChannelSettings Settings(uint8_t mode, uint8_t selectA = 0, uint8_t selectB = 0,
                            uint8_t switchA = 0, uint8_t switchB = 0, uint8_t presetEnable = 0) {
  DacChannelSettings s{};
  s.mode = mode;
  s.selectA = selectA;
  s.selectB = selectB;
  s.switchA = switchA;
  s.switchB = switchB;
  s.presetEnable = presetEnable;
  return s;
}

class Dac : public ModuleTest {
 protected:
  void SetUp() override {
    ModuleTest::SetUp();
    Connect();
  }
};

// ---- Channel configuration ------------------------------------------------------------------

TEST_F(Dac, ModeOneSendsTwoBitSelectorsAndReadsBackSingleBits) {
  const DacChannelSettings s = Settings(1, 2, 1, 1, 1, 0);
  EXPECT_EQ(KORVELAN380_DacChSet(kId, 0, &s), KORVELAN380_OK);
  EXPECT_EQ(Wire(), (std::vector<Bytes>{W(16, {0xD9}), W(38, {0x00})}));

  sim::SetRegister(serial, 38, 0x07);
  DacChannelSettings back;
  std::memset(&back, 0xEE, sizeof back);
  EXPECT_EQ(KORVELAN380_DacChSet_R(kId, 0, &back), KORVELAN380_OK);
  EXPECT_EQ(back.mode, 1);
  EXPECT_EQ(back.selectA, 0);
  EXPECT_EQ(back.selectB, 1);
  EXPECT_EQ(back.switchA, 1);
  EXPECT_EQ(back.switchB, 0);
  EXPECT_EQ(back.presetEnable, 0x07);  // the whole byte
  EXPECT_EQ(back.reserved, 0xEE);      // never filled
}

TEST_F(Dac, ModeTwoIgnoresSwitchAAndSendsTheModeParameter) {
  DacChannelSettings s = Settings(2, 0, 2, 1, 1, 0);
  s.modeParameter = 0x1234;
  EXPECT_EQ(KORVELAN380_DacChSet(kId, 1, &s), KORVELAN380_OK);
  EXPECT_EQ(Wire(), (std::vector<Bytes>{W(17, {0xA2}), W(39, {0x00}), W(32, {0x12, 0x34})}));
  s.switchA = 9;  // not checked in mode 2
  EXPECT_EQ(KORVELAN380_DacChSet(kId, 1, &s), KORVELAN380_OK);
}

TEST_F(Dac, ModeThreeChecksSelectorsOnlyUpToOne) {
  DacChannelSettings s = Settings(3, 2);
  EXPECT_EQ(KORVELAN380_DacChSet(kId, 0, &s), KORVELAN380_INVALID_ARGUMENT);
  s = Settings(3, 1, 1, 9, 7);
  EXPECT_EQ(KORVELAN380_DacChSet(kId, 0, &s), KORVELAN380_OK);
  EXPECT_EQ(Wire(), (std::vector<Bytes>{W(16, {0x03 | 0x04 | 0x10}), W(38, {0x00})}));
}

TEST_F(Dac, ModeZeroAcceptsAnythingAndWritesOnlyAZeroControlByte) {
  const DacChannelSettings s = Settings(0, 9, 9, 9, 9, 9);
  EXPECT_EQ(KORVELAN380_DacChSet(kId, 0, &s), KORVELAN380_OK);
  EXPECT_EQ(Wire(), std::vector<Bytes>{W(16, {0x00})});
}

TEST_F(Dac, PresetIsConvertedForTheRangeTheModuleReports) {
  SetCalibrationEntry(kId, 0 * 7 + 5, static_cast<float>(5.0 / 16384.0), 0);
  sim::SetRegister(serial, 34, 5);
  DacChannelSettings s = Settings(0, 0, 0, 0, 0, 1);
  s.presetValue = 0x1234;
  EXPECT_EQ(KORVELAN380_DacChSet(kId, 0, &s), KORVELAN380_OK);
  EXPECT_EQ(Wire(), (std::vector<Bytes>{W(16, {0x00}), R(34, 34), W(50, {0x12, 0x34})}));

  DacChannelSettings back{};
  EXPECT_EQ(KORVELAN380_DacChSet_R(kId, 0, &back), KORVELAN380_OK);
  EXPECT_EQ(back.presetValue, 0x1234);
  const std::vector<Bytes> wire = Wire();
  EXPECT_EQ(std::vector<Bytes>(wire.begin() + 3, wire.end()),
            (std::vector<Bytes>{R(16, 16), R(38, 38), R(30, 31), R(50, 51), R(34, 34)}));
}

TEST_F(Dac, RefusedSettingsSendNothing) {
  DacChannelSettings s = Settings(1);
  s.presetValue = 0x4000;  // in every mode, whatever presetEnable holds
  for (uint8_t mode = 0; mode < 4; ++mode) {
    s.mode = mode;
    EXPECT_EQ(KORVELAN380_DacChSet(kId, 0, &s), KORVELAN380_INVALID_ARGUMENT);
  }
  s = Settings(0);
  s.reserved = 1;
  for (uint8_t mode = 0; mode < 4; ++mode) {
    s.mode = mode;
    EXPECT_EQ(KORVELAN380_DacChSet(kId, 0, &s), KORVELAN380_INVALID_ARGUMENT);
  }
  s = Settings(4);
  EXPECT_EQ(KORVELAN380_DacChSet(kId, 0, &s), KORVELAN380_INVALID_ARGUMENT);
  s = Settings(1, 3);
  EXPECT_EQ(KORVELAN380_DacChSet(kId, 0, &s), KORVELAN380_INVALID_ARGUMENT);
  s = Settings(1, 0, 0, 2);
  EXPECT_EQ(KORVELAN380_DacChSet(kId, 0, &s), KORVELAN380_INVALID_ARGUMENT);
  s = Settings(2, 0, 0, 0, 2);
  EXPECT_EQ(KORVELAN380_DacChSet(kId, 0, &s), KORVELAN380_INVALID_ARGUMENT);
  s = Settings(3, 0, 0, 0, 0, 2);
  EXPECT_EQ(KORVELAN380_DacChSet(kId, 0, &s), KORVELAN380_INVALID_ARGUMENT);
  s = Settings(1);
  EXPECT_EQ(KORVELAN380_DacChSet(kId, 2, &s), KORVELAN380_INVALID_ARGUMENT);
  EXPECT_EQ(KORVELAN380_DacChSet_R(kId, 2, &s), KORVELAN380_INVALID_ARGUMENT);
  EXPECT_EQ(KORVELAN380_DacChSet(kId, 0, nullptr), KORVELAN380_INVALID_ARGUMENT);
  EXPECT_EQ(KORVELAN380_DacChSet_R(kId, 0, nullptr), KORVELAN380_INVALID_ARGUMENT);
  EXPECT_TRUE(Calls().empty());
  EXPECT_EQ(KORVELAN380_DacChSet("nobody", 2, nullptr), KORVELAN380_NOT_CONNECTED);
}

TEST_F(Dac, ReadBackFillsTheModeParameterInEveryMode) {
  for (uint8_t control : {0x00, 0x01, 0x03}) {
    sim::SetRegister(serial, 17, control);
    sim::SetRegister(serial, 32, 0xBE);
    sim::SetRegister(serial, 33, 0xEF);
    DacChannelSettings back{};
    EXPECT_EQ(KORVELAN380_DacChSet_R(kId, 1, &back), KORVELAN380_OK);
    EXPECT_EQ(back.modeParameter, 0xBEEF);
    EXPECT_EQ(back.mode, control & 3);
  }
}

TEST_F(Dac, PresetLoadOnAnUnconvertibleRangeFailsAfterTheSettingsAreWritten) {
  sim::SetRegister(serial, 35, 7);
  DacChannelSettings s = Settings(1, 0, 0, 0, 0, 1);
  EXPECT_EQ(KORVELAN380_DacChSet(kId, 1, &s), KORVELAN380_TRANSFER_FAILED);
  EXPECT_EQ(Wire(), (std::vector<Bytes>{W(17, {0x01}), W(39, {0x01}), R(35, 35)}));
}

TEST_F(Dac, ReadBackPassesOnARangeOrConversionFailureUnchanged) {
  DacChannelSettings back{};
  back.presetValue = 0x0EEE;
  sim::SetRegister(serial, 34, 9);
  EXPECT_EQ(KORVELAN380_DacChSet_R(kId, 0, &back), KORVELAN380_INVALID_ARGUMENT);
  EXPECT_EQ(back.presetValue, 0x0EEE);
  sim::SetRegister(serial, 34, 0);
  // A failed range read after the four other reads: 5, preset untouched.
  sim::FailCall(serial, sim::Fn::Read, 5);
  EXPECT_EQ(KORVELAN380_DacChSet_R(kId, 0, &back), KORVELAN380_TRANSFER_FAILED);
  EXPECT_EQ(back.presetValue, 0x0EEE);
}

// ---- Output range ---------------------------------------------------------------------------

TEST_F(Dac, RangeSetSendsGainWordOffsetWordThenTheRange) {
  SetCalibrationEntry(kId, 1 * 7 + 3, 1.9f, 0xABCD);
  EXPECT_EQ(KORVELAN380_RangeSet(kId, 1, 3), KORVELAN380_OK);
  EXPECT_EQ(Wire(),
            (std::vector<Bytes>{W(128, {0x00, 0x01}), W(130, {0xAB, 0xCD}), W(35, {0x03})}));
  uint8_t range = 0xEE;
  EXPECT_EQ(KORVELAN380_RangeSet_R(kId, 1, &range), KORVELAN380_OK);
  EXPECT_EQ(range, 3);
}

TEST_F(Dac, GainWordIsTheTruncatedGainsLowSixteenBits) {
  const struct {
    float gain;
    uint8_t high, low;
  } cases[] = {{1.9f, 0x00, 0x01},         {-1.5f, 0xFF, 0xFF}, {70000.7f, 0x11, 0x70},
               {0.9f, 0x00, 0x00},         {-0.9f, 0x00, 0x00}, {NAN, 0x00, 0x00},
               {INFINITY, 0x00, 0x00},     {3e9f, 0x00, 0x00},  {-2147483648.0f, 0x00, 0x00},
               {2147483520.0f, 0xFF, 0x80}};
  for (const auto& c : cases) {
    SetCalibrationEntry(kId, 2, c.gain, 0);
    sim::ClearTrace();
    EXPECT_EQ(KORVELAN380_RangeSet(kId, 0, 2), KORVELAN380_OK);
    EXPECT_EQ(Wire().front(), W(128, {c.high, c.low})) << c.gain;
  }
}

TEST_F(Dac, ChannelTwoTakesChannelZerosCalibrationEntry) {
  SetCalibrationEntry(kId, 6, 2.0f, 0x0102);
  EXPECT_EQ(KORVELAN380_RangeSet(kId, 2, 6), KORVELAN380_OK);
  EXPECT_EQ(Wire(),
            (std::vector<Bytes>{W(128, {0x00, 0x02}), W(130, {0x01, 0x02}), W(36, {0x06})}));
}

TEST_F(Dac, RangeArgumentsAreChecked) {
  uint8_t range = 0xEE;
  EXPECT_EQ(KORVELAN380_RangeSet(kId, 0, 7), KORVELAN380_INVALID_ARGUMENT);
  EXPECT_EQ(KORVELAN380_RangeSet(kId, 3, 0), KORVELAN380_INVALID_ARGUMENT);
  EXPECT_EQ(KORVELAN380_RangeSet_R(kId, 2, &range), KORVELAN380_INVALID_ARGUMENT);
  EXPECT_EQ(KORVELAN380_RangeSet_R(kId, 0, nullptr), KORVELAN380_INVALID_ARGUMENT);
  EXPECT_TRUE(Calls().empty());
  EXPECT_EQ(range, 0xEE);
  EXPECT_EQ(KORVELAN380_RangeSet("nobody", 9, 9), KORVELAN380_NOT_CONNECTED);
  sim::SetRegister(serial, 34, 9);
  EXPECT_EQ(KORVELAN380_RangeSet_R(kId, 0, &range), KORVELAN380_OK);
  EXPECT_EQ(range, 9);  // passed on as the module holds it
}

TEST_F(Dac, FailedRangeWriteLeavesTheNewGainAndOffset) {
  SetCalibrationEntry(kId, 0, 5.0f, 0x0505);
  sim::FailCall(serial, sim::Fn::Write, 3);
  EXPECT_EQ(KORVELAN380_RangeSet(kId, 0, 0), KORVELAN380_TRANSFER_FAILED);
  EXPECT_EQ(sim::Register(serial, 129), 5);
  EXPECT_EQ(sim::Register(serial, 131), 5);
}

// ---- Output values --------------------------------------------------------------------------

TEST_F(Dac, IdentityCalibrationWritesTheRawValueAndReadsItBack) {
  SetIdentity(kId);
  EXPECT_EQ(KORVELAN380_DacValSet(kId, 1, 0x2ABC), KORVELAN380_OK);
  EXPECT_EQ(Wire(), (std::vector<Bytes>{R(35, 35), W(44, {0x2A, 0xBC})}));
  uint16_t raw = 0;
  EXPECT_EQ(KORVELAN380_DacValSet_R(kId, 1, &raw), KORVELAN380_OK);
  EXPECT_EQ(raw, 0x2ABC);
  EXPECT_EQ(Wire().back(), R(35, 35));  // the value registers first, then the range
}

TEST_F(Dac, WorkedExampleTruncatesForwardAndRoundsBack) {
  SetCalibrationEntry(kId, 0, 0.0012f, 8200);
  EXPECT_EQ(KORVELAN380_DacValSet(kId, 0, 0x3000), KORVELAN380_OK);
  EXPECT_EQ(sim::Register(serial, 42) << 8 | sim::Register(serial, 43), 12366);
  uint16_t raw = 0;
  EXPECT_EQ(KORVELAN380_DacValSet_R(kId, 0, &raw), KORVELAN380_OK);
  EXPECT_EQ(raw, 12287);
  // Below the bottom of the range: held at code 0, which reads back as 131.
  EXPECT_EQ(KORVELAN380_DacValSet(kId, 0, 100), KORVELAN380_OK);
  EXPECT_EQ(Wire().back(), W(42, {0x00, 0x00}));
  EXPECT_EQ(KORVELAN380_DacValSet_R(kId, 0, &raw), KORVELAN380_OK);
  EXPECT_EQ(raw, 131);
}

TEST_F(Dac, DefaultCalibrationWritesZeroWhateverTheValue) {
  for (uint16_t raw : {0, 0x1234, 0x3FFF, 0xFFFF}) {
    EXPECT_EQ(KORVELAN380_DacValSet(kId, 0, raw), KORVELAN380_OK);
    EXPECT_EQ(Wire().back(), W(42, {0x00, 0x00}));
  }
}

TEST_F(Dac, OnlyTheLowFourteenBitsAreConverted) {
  SetIdentity(kId);
  EXPECT_EQ(KORVELAN380_DacValSet(kId, 0, 0x4000), KORVELAN380_OK);
  EXPECT_EQ(KORVELAN380_DacValSet(kId, 0, 0), KORVELAN380_OK);
  const std::vector<Bytes> wire = Wire();
  EXPECT_EQ(wire[1], wire[3]);
}

TEST_F(Dac, UncalibratedCodesPassUnchanged) {
  EXPECT_EQ(KORVELAN380_DacValSet_NoCalibed(kId, 0, 0xFFFF), KORVELAN380_OK);
  EXPECT_EQ(Wire(), std::vector<Bytes>{W(42, {0xFF, 0xFF})});
  uint16_t code = 0;
  EXPECT_EQ(KORVELAN380_DacValSet_NoCalibed_R(kId, 0, &code), KORVELAN380_OK);
  EXPECT_EQ(code, 0xFFFF);
  EXPECT_EQ(KORVELAN380_DacValSet_NoCalibed(kId, 1, 0x1234), KORVELAN380_OK);
  EXPECT_EQ(KORVELAN380_DacValSet_NoCalibed_R(kId, 1, &code), KORVELAN380_OK);
  EXPECT_EQ(code, 0x1234);
}

TEST_F(Dac, UnconvertibleRangeWritesNothingAndReadsBackNothing) {
  sim::SetRegister(serial, 34, 7);
  EXPECT_EQ(KORVELAN380_DacValSet(kId, 0, 0x1000), KORVELAN380_TRANSFER_FAILED);
  EXPECT_EQ(Wire(), std::vector<Bytes>{R(34, 34)});
  sim::ClearTrace();
  uint16_t raw = 0xEEEE;
  EXPECT_EQ(KORVELAN380_DacValSet_R(kId, 0, &raw), KORVELAN380_TRANSFER_FAILED);
  EXPECT_EQ(Wire(), (std::vector<Bytes>{R(42, 43), R(34, 34)}));
  EXPECT_EQ(raw, 0xEEEE);
}

TEST_F(Dac, ValueArgumentsAreCheckedAfterTheModule) {
  uint16_t out = 0xEEEE;
  EXPECT_EQ(KORVELAN380_DacValSet("nobody", 2, 0), KORVELAN380_NOT_CONNECTED);
  EXPECT_EQ(KORVELAN380_DacValSet_R("nobody", 2, nullptr), KORVELAN380_NOT_CONNECTED);
  EXPECT_EQ(KORVELAN380_DacValSet(kId, 2, 0), KORVELAN380_INVALID_ARGUMENT);
  EXPECT_EQ(KORVELAN380_DacValSet_R(kId, 2, &out), KORVELAN380_INVALID_ARGUMENT);
  EXPECT_EQ(KORVELAN380_DacValSet_NoCalibed(kId, 2, 0), KORVELAN380_INVALID_ARGUMENT);
  EXPECT_EQ(KORVELAN380_DacValSet_NoCalibed_R(kId, 2, &out), KORVELAN380_INVALID_ARGUMENT);
  EXPECT_EQ(KORVELAN380_DacValSet_R(kId, 0, nullptr), KORVELAN380_INVALID_ARGUMENT);
  EXPECT_EQ(KORVELAN380_DacValSet_NoCalibed_R(kId, 0, nullptr), KORVELAN380_INVALID_ARGUMENT);
  EXPECT_TRUE(Calls().empty());
  EXPECT_EQ(out, 0xEEEE);
}

TEST_F(Dac, FailedValueReadLeavesTheOutput) {
  uint16_t out = 0xEEEE;
  sim::CorruptNextReply(serial, 1);
  EXPECT_EQ(KORVELAN380_DacValSet_NoCalibed_R(kId, 0, &out), KORVELAN380_TRANSFER_FAILED);
  sim::CorruptNextReply(serial, 0);
  EXPECT_EQ(KORVELAN380_DacValSet_R(kId, 0, &out), KORVELAN380_TRANSFER_FAILED);
  EXPECT_EQ(out, 0xEEEE);
}

// ---- What the outputs put out ----------------------------------------------------------------

TEST_F(Dac, TheMeasuredOutputFollowsTheCodesAndRangesTheLibrarySets) {
  for (uint8_t range : {1, 6}) {
    ASSERT_TRUE(sim::SetOutputError(serial, 0, range, {0.0, 0.0}));  // a perfect converter
  }
  ASSERT_TRUE(sim::SetOutputError(serial, 1, 4, {0.002, -3.0}));
  ASSERT_EQ(KORVELAN380_RangeSet(kId, 0, 1), KORVELAN380_OK);  // -5..5 V
  ASSERT_EQ(KORVELAN380_DacValSet_NoCalibed(kId, 0, 0x3000), KORVELAN380_OK);
  EXPECT_EQ(sim::Measure(serial, 0), 2.5);
  ASSERT_EQ(KORVELAN380_RangeSet(kId, 0, 6), KORVELAN380_OK);  // 0..2.5 V, the same code
  EXPECT_EQ(sim::Measure(serial, 0), 1.875);
  ASSERT_EQ(KORVELAN380_RangeSet(kId, 1, 4), KORVELAN380_OK);  // 0..10 V
  ASSERT_EQ(KORVELAN380_DacValSet_NoCalibed(kId, 1, 0x0800), KORVELAN380_OK);
  EXPECT_DOUBLE_EQ(*sim::Measure(serial, 1), (0x0800 + 3.0) * (10.0 / 16384) * 1.002);
  EXPECT_EQ(sim::Measure(serial, 0), 1.875);  // channel 0 untouched
}

TEST_F(Dac, WithTheIdealCalibrationEveryRangeIsOffByMoreThanACode) {
  constexpr double kSpan[7] = {20.0, 10.0, 5.0, 2.5, 10.0, 5.0, 2.5};
  SetIdentity(kId);
  for (uint8_t channel = 0; channel < 2; ++channel) {
    for (uint8_t range = 0; range < 7; ++range) {
      ASSERT_EQ(KORVELAN380_RangeSet(kId, channel, range), KORVELAN380_OK);
      const double bottom = range < 4 ? -kSpan[range] / 2 : 0.0;
      const double lsb = kSpan[range] / 16384;
      double worst = 0.0;
      for (uint16_t raw : {0, 0x1000, 0x2000, 0x3FFF}) {
        ASSERT_EQ(KORVELAN380_DacValSet(kId, channel, raw), KORVELAN380_OK);
        worst = std::max(worst, std::abs(*sim::Measure(serial, channel) - (bottom + raw * lsb)));
      }
      EXPECT_GT(worst / lsb, 1.0) << "channel " << int{channel} << " range " << int{range};
    }
  }
}

}  // namespace
}  // namespace korvelan380::test
