// The two-point calibration against a module whose outputs have a known gain and offset error:
// the fit, the refusals, and what the caller's keep or throw-away leaves behind.
#include <bit>
#include <cmath>
#include <cstring>

#include "support/module_chat.h"

namespace korvelan380::test {
namespace {

constexpr double kSpan[7] = {20.0, 10.0, 5.0, 2.5, 10.0, 5.0, 2.5};

double Lsb(uint8_t range) {
  return kSpan[range] / 16384;
}

// A module's output stage: V = (code - offset) * gain, its errors relative to the ideal.
struct Output {
  uint8_t range;
  double gainError;    // relative: 0.01 is 1 % too steep
  double offsetCodes;  // the code of 0 V minus the ideal one
  double Gain() const { return Lsb(range) * (1 + gainError); }
  double Offset() const { return (range < 4 ? 0x2000 : 0) + offsetCodes; }
  double Volts(uint16_t code) const { return (code - Offset()) * Gain(); }
};

class CalibAdjust : public ModuleTest {
 protected:
  void SetUp() override {
    ModuleTest::SetUp();
    sim::SetIdealCalibration(serial);
    Connect();
  }
  uint16_t OutputCode(uint8_t channel) const {
    const uint8_t first = channel == 0 ? 42 : 44;
    return static_cast<uint16_t>(sim::Register(serial, first) << 8 |
                                 sim::Register(serial, first + 1));
  }
  // What a voltmeter on the channel reads now.
  double Measure(uint8_t channel, const Output& out) const {
    return out.Volts(OutputCode(channel));
  }
  // Begin and the three readings; the calibration as it is done.
  KORVELAN380_CALIB_ADJUST Calibrate(uint8_t channel, const Output& out) {
    KORVELAN380_CALIB_ADJUST a;
    EXPECT_EQ(KORVELAN380_CalibAdjustBegin(kId, channel, out.range, &a), KORVELAN380_OK);
    for (int point = 0; point < 3; ++point) {
      EXPECT_EQ(a.step, point);
      EXPECT_EQ(KORVELAN380_CalibAdjustReading(kId, &a, Measure(channel, out)), KORVELAN380_OK);
    }
    EXPECT_EQ(a.step, 3);
    return a;
  }
  static bool SameGains(const CalibrationGains& a, const CalibrationGains& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
  }
  static CalibrationGains Gains() {
    CalibrationOffsets offsets;
    CalibrationGains gains;
    KORVELAN380_Calib_Val_Get(kId, &offsets, &gains);
    return gains;
  }
};

// Several codes of offset and a fraction of a percent of gain, of either sign; a unipolar range
// cannot reach below 0 V, so its offset errors are positive.
std::vector<Output> Outputs() {
  std::vector<Output> outputs;
  for (uint8_t range = 0; range < 7; ++range) {
    const bool bipolar = range < 4;
    outputs.push_back({range, 0.004, bipolar ? -6.3 : 5.7});
    outputs.push_back({range, -0.003, 4.5});
    outputs.push_back({range, 0.0, 0.0});
  }
  return outputs;
}

TEST_F(CalibAdjust, FitBringsEveryPointOfEveryRangeWithinOneLsb) {
  for (uint8_t channel = 0; channel < 2; ++channel) {
    for (const Output& out : Outputs()) {
      SCOPED_TRACE("channel " + std::to_string(channel) + " range " + std::to_string(out.range) +
                   " gain error " + std::to_string(out.gainError) + " offset error " +
                   std::to_string(out.offsetCodes));
      const KORVELAN380_CALIB_ADJUST a = Calibrate(channel, out);
      for (int point = 0; point < 3; ++point) {
        EXPECT_LT(std::fabs(a.errorLsb[point]), 1.0) << "point " << point;
        EXPECT_NEAR(a.errorMillivolts[point], a.errorLsb[point] * Lsb(out.range) * 1000, 1e-9);
        // What the module puts out through the calibration now in use, measured anew.
        uint16_t code = 0;
        ASSERT_EQ(KORVELANGetCalibedVal(kId, channel, out.range, a.rawCodes[point], &code),
                  KORVELAN380_OK);
        EXPECT_LT(std::fabs(out.Volts(code) - a.expectedVolts[point]), Lsb(out.range));
      }
      // Every rawValue the module can put out, not only the three points, within one of its
      // own steps.
      for (uint16_t raw = 0; raw < 16384; ++raw) {
        const double nominal = (out.range < 4 ? -kSpan[out.range] / 2 : 0) + raw * Lsb(out.range);
        const double needed = nominal / out.Gain() + out.Offset();
        if (needed < 0 || needed > 16383) continue;
        uint16_t code = 0;
        KORVELANGetCalibedVal(kId, channel, out.range, raw, &code);
        ASSERT_LT(std::fabs(out.Volts(code) - nominal), out.Gain()) << "raw " << raw;
      }
      // An ideal module gets the ideal entry, exactly.
      if (out.gainError == 0 && out.offsetCodes == 0) {
        EXPECT_EQ(a.gain, static_cast<float>(Lsb(out.range)));
        EXPECT_EQ(a.offset, out.Offset());
      }
    }
  }
}

TEST_F(CalibAdjust, BeginSetsTheRangeAndPutsOutPointZeroUncalibrated) {
  const float skewed = 0.0011f;  // the entry's own gain must not shape the first two points
  CalibrationOffsets offsets;
  CalibrationGains gains;
  KORVELAN380_Calib_Val_Get(kId, &offsets, &gains);
  gains.gain[7 + 1] = skewed;
  ASSERT_EQ(KORVELAN380_Calib_Val_Set(kId, &offsets, &gains, 0), KORVELAN380_OK);
  KORVELAN380_CALIB_ADJUST a;
  ASSERT_EQ(KORVELAN380_CalibAdjustBegin(kId, 1, 1, &a), KORVELAN380_OK);
  EXPECT_EQ(sim::Register(serial, 35), 1);
  EXPECT_EQ(a.rawCodes[0], 1638);
  EXPECT_EQ(a.rawCodes[1], 14746);
  EXPECT_EQ(a.rawCodes[2], 0x2000);
  EXPECT_EQ(a.sentCodes[0], 1638);
  EXPECT_EQ(a.sentCodes[1], 14746);
  EXPECT_EQ(OutputCode(1), 1638);
  EXPECT_DOUBLE_EQ(a.expectedVolts[0], -5.0 + 1638 * 10.0 / 16384);
  EXPECT_DOUBLE_EQ(a.expectedVolts[2], 0.0);
  EXPECT_EQ(a.oldGain, skewed);
  EXPECT_EQ(a.channel, 1);
  EXPECT_EQ(a.rangeIndex, 1);
  EXPECT_EQ(a.step, 0);
  EXPECT_EQ(a.refusal, KORVELAN380_ADJUST_ACCEPTED);
  ASSERT_EQ(KORVELAN380_CalibAdjustReading(kId, &a, a.expectedVolts[0]), KORVELAN380_OK);
  EXPECT_EQ(OutputCode(1), 14746);
  // Nothing is fitted before the second reading.
  EXPECT_EQ(Gains().gain[8], skewed);
}

TEST_F(CalibAdjust, EachRefusalNamesItsReasonAndChangesNothing) {
  struct Case {
    const char* what;
    double reading;
    bool atPoint1;  // after an ideal module's first reading
    uint8_t range;
    uint8_t refusal;
  };
  const Case cases[] = {
      {"NaN", NAN, false, 0, KORVELAN380_ADJUST_NOT_A_NUMBER},
      {"infinity", INFINITY, true, 0, KORVELAN380_ADJUST_NOT_A_NUMBER},
      {"below the range", -10.01, false, 0, KORVELAN380_ADJUST_OUTSIDE_RANGE},
      {"above the range", 10.0, true, 0, KORVELAN380_ADJUST_OUTSIDE_RANGE},
      {"below a unipolar range", -0.001, false, 4, KORVELAN380_ADJUST_OUTSIDE_RANGE},
      {"the same twice", -8.00048828125, true, 0, KORVELAN380_ADJUST_NO_SLOPE},
      {"falling", -9.0, true, 0, KORVELAN380_ADJUST_WRONG_SIGN},
      {"a gain 0.4 times the ideal", -1.6, true, 0, KORVELAN380_ADJUST_IMPLAUSIBLE},
      {"0 V below code 0", 5.8, true, 4, KORVELAN380_ADJUST_IMPLAUSIBLE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Output ideal{c.range, 0, 0};
    KORVELAN380_CALIB_ADJUST a;
    ASSERT_EQ(KORVELAN380_CalibAdjustBegin(kId, 0, c.range, &a), KORVELAN380_OK);
    if (c.atPoint1) {
      ASSERT_EQ(KORVELAN380_CalibAdjustReading(kId, &a, Measure(0, ideal)), KORVELAN380_OK);
    }
    const KORVELAN380_CALIB_ADJUST before = a;
    const CalibrationGains gains = Gains();
    sim::ClearTrace();
    EXPECT_EQ(KORVELAN380_CalibAdjustReading(kId, &a, c.reading), KORVELAN380_INVALID_ARGUMENT);
    EXPECT_EQ(a.refusal, c.refusal);
    KORVELAN380_CALIB_ADJUST unchanged = a;
    unchanged.refusal = before.refusal;
    EXPECT_EQ(std::memcmp(&unchanged, &before, sizeof a), 0);
    EXPECT_TRUE(Wire().empty());
    EXPECT_TRUE(SameGains(gains, Gains()));
    // The same point, read again, is taken.
    EXPECT_EQ(KORVELAN380_CalibAdjustReading(kId, &a, Measure(0, ideal)), KORVELAN380_OK);
    EXPECT_EQ(a.refusal, KORVELAN380_ADJUST_ACCEPTED);
    EXPECT_EQ(a.step, before.step + 1);
  }
}

TEST_F(CalibAdjust, ThrowingAwayRestoresTheOldRecordBitForBit) {
  CalibrationOffsets oldOffsets;
  CalibrationGains oldGains;
  ASSERT_EQ(KORVELAN380_Calib_Val_Get(kId, &oldOffsets, &oldGains), KORVELAN380_OK);
  oldGains.gain[13] = std::bit_cast<float>(0x7FC12345u);  // a NaN with a payload elsewhere
  oldGains.gain[2] = -0.0f;
  ASSERT_EQ(KORVELAN380_Calib_Val_Set(kId, &oldOffsets, &oldGains, 1), KORVELAN380_OK);
  const Bytes eeprom = sim::Eeprom(serial);
  const KORVELAN380_CALIB_ADJUST a = Calibrate(0, {0, 0.004, -6.3});
  EXPECT_NE(std::bit_cast<uint32_t>(Gains().gain[0]), std::bit_cast<uint32_t>(oldGains.gain[0]));
  ASSERT_EQ(KORVELAN380_Calib_Val_Set(kId, &oldOffsets, &oldGains, 0), KORVELAN380_OK);
  CalibrationOffsets offsets;
  CalibrationGains gains;
  ASSERT_EQ(KORVELAN380_Calib_Val_Get(kId, &offsets, &gains), KORVELAN380_OK);
  EXPECT_EQ(std::memcmp(&gains, &oldGains, sizeof gains), 0);
  EXPECT_EQ(std::memcmp(&offsets, &oldOffsets, sizeof offsets), 0);
  EXPECT_EQ(sim::Eeprom(serial), eeprom);  // the procedure itself never stores
  EXPECT_EQ(a.oldOffset, oldOffsets.offset[0]);
}

TEST_F(CalibAdjust, KeepingStoresTheFitForTheNextConnect) {
  const KORVELAN380_CALIB_ADJUST a = Calibrate(1, {5, -0.003, 4.5});
  CalibrationOffsets offsets;
  CalibrationGains gains;
  ASSERT_EQ(KORVELAN380_Calib_Val_Get(kId, &offsets, &gains), KORVELAN380_OK);
  ASSERT_EQ(KORVELAN380_Calib_Val_Set(kId, &offsets, &gains, 1), KORVELAN380_OK);
  ASSERT_EQ(KORVELAN380_DisConnect(kId), KORVELAN380_OK);
  ASSERT_EQ(KORVELAN380_Connect(kId), KORVELAN380_OK);
  EXPECT_EQ(Gains().gain[7 + 5], a.gain);
  EXPECT_EQ(a.offset, 5);  // 4.5 codes above 0: the next whole code
}

TEST_F(CalibAdjust, BadArgumentsSendNothing) {
  KORVELAN380_CALIB_ADJUST a;
  std::memset(&a, 0xEE, sizeof a);
  const KORVELAN380_CALIB_ADJUST marked = a;
  EXPECT_EQ(KORVELAN380_CalibAdjustBegin("8", 0, 0, &a), KORVELAN380_NOT_CONNECTED);
  EXPECT_EQ(KORVELAN380_CalibAdjustBegin(kId, 2, 0, &a), KORVELAN380_INVALID_ARGUMENT);
  EXPECT_EQ(KORVELAN380_CalibAdjustBegin(kId, 0, 7, &a), KORVELAN380_INVALID_ARGUMENT);
  EXPECT_EQ(KORVELAN380_CalibAdjustBegin(kId, 0, 0, nullptr), KORVELAN380_INVALID_ARGUMENT);
  EXPECT_EQ(KORVELAN380_CalibAdjustReading(kId, nullptr, 1.0), KORVELAN380_INVALID_ARGUMENT);
  EXPECT_EQ(KORVELAN380_CalibAdjustReading(kId, &a, 1.0), KORVELAN380_INVALID_ARGUMENT);
  EXPECT_EQ(std::memcmp(&a, &marked, sizeof a), 0);
  EXPECT_TRUE(Wire().empty());
  // Done: a fourth reading is no reading of anything.
  KORVELAN380_CALIB_ADJUST done = Calibrate(0, {0, 0, 0});
  EXPECT_EQ(KORVELAN380_CalibAdjustReading(kId, &done, 0.0), KORVELAN380_INVALID_ARGUMENT);
  EXPECT_EQ(KORVELAN380_CalibAdjustReading("8", &done, 0.0), KORVELAN380_NOT_CONNECTED);
}

TEST_F(CalibAdjust, FailedWriteOfTheVerificationPointLeavesTheSecondReadingToTake) {
  const Output out{2, 0.004, -6.3};
  KORVELAN380_CALIB_ADJUST a;
  ASSERT_EQ(KORVELAN380_CalibAdjustBegin(kId, 0, 2, &a), KORVELAN380_OK);
  ASSERT_EQ(KORVELAN380_CalibAdjustReading(kId, &a, Measure(0, out)), KORVELAN380_OK);
  const KORVELAN380_CALIB_ADJUST before = a;
  const CalibrationGains gains = Gains();
  const double reading = Measure(0, out);
  sim::FailCall(serial, sim::Fn::Write, 1);
  EXPECT_EQ(KORVELAN380_CalibAdjustReading(kId, &a, reading), KORVELAN380_TRANSFER_FAILED);
  EXPECT_EQ(std::memcmp(&a, &before, sizeof a), 0);
  EXPECT_TRUE(SameGains(gains, Gains()));
  EXPECT_EQ(KORVELAN380_CalibAdjustReading(kId, &a, reading), KORVELAN380_OK);
  EXPECT_EQ(a.step, 2);
}

}  // namespace
}  // namespace korvelan380::test
