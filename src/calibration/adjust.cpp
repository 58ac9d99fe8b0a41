#include "calibration/adjust.h"

#include <cmath>

#include "calibration/conversion.h"
#include "calibration_rules.h"

namespace korvelan380 {
namespace {

// Near 10 % and 90 % of the range, where the fit's two points are far apart yet clear of the
// ends; the middle verifies it.
constexpr uint16_t kPointRaw[kAdjustPoints] = {1638, 14746, 0x2000};
constexpr uint16_t kTopRaw = 0x3FFF;

double IdealGain(uint8_t rangeIndex) {
  return rules::IdealGain(kRangeSpan[rangeIndex]);
}

uint16_t IdealOffset(uint8_t rangeIndex) {
  return IsBipolar(rangeIndex) ? 0x2000 : 0;
}

// What a module puts out for a code: (code - offset) * gain, in the module's own terms.
struct Line {
  double gain;    // volts per code
  double offset;  // the code of 0 V, not a whole number
};

Line LineThrough(const CalibAdjust& a) {
  const double gain = (a.readings[1] - a.readings[0]) / (a.sentCodes[1] - a.sentCodes[0]);
  return {gain, a.sentCodes[0] - a.readings[0] / gain};
}

// The entry for the module's line. The conversion sends trunc(V / gain + offset) for the
// module's x + O (x = V / gain): the error, trunc(x + offset) - (x + O), lies in
// (offset - O - 1, offset - O]. The smallest whole offset not below O keeps it inside (-1, 1)
// code steps; any other lets it reach beyond one. O is taken a hair lower, so that a whole O
// that the arithmetic puts a rounding error above itself (an ideal module's) stays itself.
constexpr double kOffsetSlack = 1e-6;  // codes: far below what any voltmeter tells apart

uint8_t FitEntry(uint8_t rangeIndex, const Line& line, float& gain, uint16_t& offset) {
  if (!std::isfinite(line.gain) || line.gain == 0) return KORVELAN380_ADJUST_NO_SLOPE;
  if (line.gain < 0) return KORVELAN380_ADJUST_WRONG_SIGN;
  const double code = std::ceil(line.offset - kOffsetSlack);
  gain = static_cast<float>(line.gain);  // the nearest float
  if (!rules::GainPlausible(gain, IdealGain(rangeIndex)) || !rules::OffsetPlausible(code)) {
    return KORVELAN380_ADJUST_IMPLAUSIBLE;
  }
  offset = static_cast<uint16_t>(code);
  return KORVELAN380_ADJUST_ACCEPTED;
}

void SetError(CalibAdjust& a, uint8_t point, double volts) {
  const double error = volts - a.expectedVolts[point];
  a.errorMillivolts[point] = error * 1000.0;
  a.errorLsb[point] = error / IdealGain(a.rangeIndex);
}

// Points 0 and 1 as the module's line puts out the fit's codes for them; point 2 as measured.
void SetErrors(CalibAdjust& a) {
  const Line line = LineThrough(a);
  for (uint8_t point = 0; point < 2; ++point) {
    const uint16_t code = CalibratedFromRaw(a.rangeIndex, a.rawCodes[point], a.gain, a.offset);
    SetError(a, point, (code - line.offset) * line.gain);
  }
  SetError(a, 2, a.readings[2]);
}

}  // namespace

CalibAdjust StartAdjust(uint8_t channel, uint8_t rangeIndex, float gain, uint16_t offset) {
  CalibAdjust a{};
  a.channel = channel;
  a.rangeIndex = rangeIndex;
  a.oldGain = a.gain = gain;
  a.oldOffset = a.offset = offset;
  for (uint8_t point = 0; point < kAdjustPoints; ++point) {
    a.rawCodes[point] = kPointRaw[point];
    a.expectedVolts[point] = NominalVolts(rangeIndex, kPointRaw[point]);
  }
  // Uncalibrated: the codes an ideal module needs, whatever the entry holds now.
  const float idealGain = static_cast<float>(IdealGain(rangeIndex));
  for (uint8_t point = 0; point < 2; ++point) {
    a.sentCodes[point] =
        CalibratedFromRaw(rangeIndex, kPointRaw[point], idealGain, IdealOffset(rangeIndex));
  }
  return a;
}

bool AwaitsReading(const CalibAdjust& a) {
  return a.step < kAdjustDone && a.channel < kChannels && a.rangeIndex < kRanges;
}

uint8_t TakeReading(const CalibAdjust& a, double volts, CalibAdjust& next) {
  if (!std::isfinite(volts)) return KORVELAN380_ADJUST_NOT_A_NUMBER;
  if (volts < NominalVolts(a.rangeIndex, 0) || volts > NominalVolts(a.rangeIndex, kTopRaw)) {
    return KORVELAN380_ADJUST_OUTSIDE_RANGE;
  }
  CalibAdjust taken = a;
  taken.readings[a.step] = volts;
  taken.refusal = KORVELAN380_ADJUST_ACCEPTED;
  if (a.step == 1) {
    const uint8_t refusal = FitEntry(a.rangeIndex, LineThrough(taken), taken.gain, taken.offset);
    if (refusal != KORVELAN380_ADJUST_ACCEPTED) return refusal;
    taken.sentCodes[2] = CalibratedFromRaw(a.rangeIndex, a.rawCodes[2], taken.gain, taken.offset);
  } else if (a.step == 2) {
    SetErrors(taken);
  }
  ++taken.step;
  next = taken;
  return KORVELAN380_ADJUST_ACCEPTED;
}

}  // namespace korvelan380
