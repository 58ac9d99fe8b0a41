// The calibrated conversions, exhaustively where the input space is small.
#include <bit>
#include <cmath>

#include "support/module_chat.h"

namespace korvelan380::test {
namespace {

constexpr double kSpan[7] = {20.0, 10.0, 5.0, 2.5, 10.0, 5.0, 2.5};

// Sets the module's working calibration (not stored).
void SetCalibration(const char* id, float gain, uint16_t offset, int only = -1) {
  CalibrationGains gains{};
  CalibrationOffsets offsets{};
  for (int i = 0; i < 14; ++i) {
    if (only >= 0 && i != only) continue;
    gains.gain[i] = gain;
    offsets.offset[i] = offset;
  }
  ASSERT_EQ(KORVELAN380_Calib_Val_Set(id, &offsets, &gains, 0), KORVELAN380_OK);
}

// The calibration that makes both conversions the identity on 0 to 16383.
void SetIdentityCalibration(const char* id) {
  CalibrationGains gains;
  CalibrationOffsets offsets;
  for (int channel = 0; channel < 2; ++channel) {
    for (int range = 0; range < 7; ++range) {
      gains.gain[channel * 7 + range] = static_cast<float>(kSpan[range] / 16384.0);
      offsets.offset[channel * 7 + range] = range < 4 ? 0x2000 : 0;
    }
  }
  ASSERT_EQ(KORVELAN380_Calib_Val_Set(id, &offsets, &gains, 0), KORVELAN380_OK);
}

class Conversion : public ModuleTest {
 protected:
  void SetUp() override {
    ModuleTest::SetUp();
    Connect();
  }
  uint16_t Forward(uint8_t channel, uint8_t range, uint16_t raw) {
    uint16_t code = 0xEEEE;
    EXPECT_EQ(KORVELANGetCalibedVal(kId, channel, range, raw, &code), KORVELAN380_OK);
    return code;
  }
  StatusCode Backward(uint8_t channel, uint8_t range, uint16_t code, uint16_t& raw) {
    return KORVELANGetRawValFromCalibed(kId, channel, range, code, &raw);
  }
};

TEST_F(Conversion, IdentityCalibrationRoundTripsEveryCodeOfEveryRangeAndChannel) {
  SetIdentityCalibration(kId);
  for (uint8_t channel = 0; channel < 2; ++channel) {
    for (uint8_t range = 0; range < 7; ++range) {
      for (uint32_t raw = 0; raw < 16384; ++raw) {
        uint16_t code = 0, back = 0;
        ASSERT_EQ(KORVELANGetCalibedVal(kId, channel, range, static_cast<uint16_t>(raw), &code),
                  KORVELAN380_OK);
        ASSERT_EQ(code, raw) << int(channel) << " " << int(range);
        ASSERT_EQ(Backward(channel, range, code, back), KORVELAN380_OK);
        ASSERT_EQ(back, raw);
      }
    }
  }
  EXPECT_TRUE(Calls().empty());  // pure arithmetic: no driver call
}

TEST_F(Conversion, WorkedExampleWithNegativeResultsHeldAtZero) {
  SetCalibration(kId, 0.0012f, 8200, 0);  // channel 0, range 0
  EXPECT_EQ(Forward(0, 0, 0), 0);         // the sum is -133.33: held at 0, not wrapped
  EXPECT_EQ(Forward(0, 0, 0x2000), 8200);
  EXPECT_EQ(Forward(0, 0, 0x3FFF), 16532);  // 16532.32, truncated

  uint16_t raw = 0xEEEE;
  EXPECT_EQ(Backward(0, 0, 8200, raw), KORVELAN380_OK);
  EXPECT_EQ(raw, 8192);
  EXPECT_EQ(Backward(0, 0, 16532, raw), KORVELAN380_OK);
  EXPECT_EQ(raw, 16383);  // 16382.69, rounded
  EXPECT_EQ(Backward(0, 0, 0, raw), KORVELAN380_OK);
  EXPECT_EQ(raw, 131);  // 131.07
  raw = 0xEEEE;
  EXPECT_EQ(Backward(0, 0, 16533, raw), KORVELAN380_INVALID_ARGUMENT);  // 16383.67
  EXPECT_EQ(Backward(0, 0, 65403, raw), KORVELAN380_INVALID_ARGUMENT);
  EXPECT_EQ(raw, 0xEEEE);
}

TEST_F(Conversion, ResultsAboveTheCodeRangeAreHeldAtTheTop) {
  SetCalibration(kId, 1e-6f, 60000);
  EXPECT_EQ(Forward(1, 4, 0x3FFF), 65535);
  EXPECT_EQ(Forward(1, 4, 0), 60000);
  SetCalibration(kId, -1e-6f, 100);  // a negative gain sends a bipolar top far below zero
  EXPECT_EQ(Forward(0, 0, 0x3FFF), 0);
  EXPECT_EQ(Forward(0, 0, 0), 65535);
}

TEST_F(Conversion, DefaultCalibrationGivesZeroForwardAndMidOrZeroBackward) {
  for (uint8_t range = 0; range < 7; ++range) {
    for (uint16_t raw : {0, 1, 0x2000, 0x3FFF}) EXPECT_EQ(Forward(1, range, raw), 0);
    uint16_t back = 0;
    for (uint16_t code : {0, 0x1234, 0xFFFF}) {
      ASSERT_EQ(Backward(0, range, code, back), KORVELAN380_OK);
      EXPECT_EQ(back, range < 4 ? 8192 : 0);
    }
  }
}

TEST_F(Conversion, OnlyTheLowFourteenBitsOfARawValueCount) {
  SetCalibration(kId, 0.0012f, 8200);
  EXPECT_EQ(Forward(0, 0, 0x4000), Forward(0, 0, 0));
  EXPECT_EQ(Forward(0, 0, 0xFFFF), Forward(0, 0, 0x3FFF));
  EXPECT_EQ(Forward(1, 5, 0x7123), Forward(1, 5, 0x3123));
}

TEST_F(Conversion, NotANumberGainGivesZeroBothWays) {
  SetCalibration(kId, std::bit_cast<float>(0x7FC00001u), 1234);
  EXPECT_EQ(Forward(0, 2, 0x2000), 0);
  uint16_t raw = 0xEEEE;
  EXPECT_EQ(Backward(0, 2, 0x2000, raw), KORVELAN380_OK);
  EXPECT_EQ(raw, 0);
}

TEST_F(Conversion, ArgumentsAreCheckedBeforeTheModuleIsLookedUp) {
  uint16_t out = 0xEEEE;
  EXPECT_EQ(KORVELANGetCalibedVal("nobody", 2, 0, 0, &out), KORVELAN380_INVALID_ARGUMENT);
  EXPECT_EQ(KORVELANGetRawValFromCalibed("nobody", 0, 7, 0, &out), KORVELAN380_INVALID_ARGUMENT);
  EXPECT_EQ(KORVELANGetCalibedVal(kId, 0, 7, 0, &out), KORVELAN380_INVALID_ARGUMENT);
  EXPECT_EQ(KORVELANGetRawValFromCalibed(kId, 255, 0, 0, &out), KORVELAN380_INVALID_ARGUMENT);
  EXPECT_EQ(KORVELANGetCalibedVal("nobody", 0, 0, 0, nullptr), KORVELAN380_INVALID_ARGUMENT);
  EXPECT_EQ(KORVELANGetRawValFromCalibed(kId, 0, 0, 0, nullptr), KORVELAN380_INVALID_ARGUMENT);
  EXPECT_EQ(out, 0xEEEE);
  EXPECT_EQ(KORVELANGetCalibedVal("nobody", 1, 6, 0, &out), KORVELAN380_NOT_CONNECTED);
  EXPECT_EQ(KORVELANGetRawValFromCalibed(nullptr, 1, 6, 0, &out), KORVELAN380_NOT_CONNECTED);
  EXPECT_EQ(out, 0xEEEE);
}

}  // namespace
}  // namespace korvelan380::test
