// The operations, their order and their precision are fixed (double forward; a single-precision
// product, then double, backward), so that every result matches to the last code; this file is
// built without FMA contraction.
#include "calibration/conversion.h"

#include <cmath>

namespace korvelan380 {

uint16_t CalibratedFromRaw(uint8_t rangeIndex, uint16_t rawValue, float gain, uint16_t offset) {
  const double nominalValue = NominalVolts(rangeIndex, rawValue);
  const double sum = nominalValue / static_cast<double>(gain) + static_cast<double>(offset);
  if (!std::isfinite(sum) || sum < 0.0) return 0;
  if (sum >= 65535.0) return 65535;
  return static_cast<uint16_t>(static_cast<int32_t>(sum));  // toward zero
}

bool RawFromCalibrated(uint8_t rangeIndex, uint16_t calibratedValue, float gain, uint16_t offset,
                       uint16_t& rawValue) {
  const int32_t difference = int32_t{calibratedValue} - int32_t{offset};
  const float product = static_cast<float>(difference) * gain;
  double value = static_cast<double>(product) * 65536.0 / kRangeSpan[rangeIndex];
  if (IsBipolar(rangeIndex)) value += 32768.0;
  value *= 0.25;
  if (value < 0.0 || value > 16383.0) return false;  // before rounding: 16383.4 is refused
  rawValue = std::isnan(value) ? 0 : static_cast<uint16_t>(std::round(value));
  return true;
}

StatusCode ConvertToCalibrated(const CalibrationCopies& calibration, uint8_t channel,
                               uint8_t rangeIndex, uint16_t rawValue, uint16_t& calibratedValue) {
  if (channel >= kChannels || rangeIndex >= kRanges) return kInvalidArgument;
  float gain;
  uint16_t offset;
  calibration.Entry(CalibrationIndex(channel, rangeIndex), gain, offset);
  calibratedValue = CalibratedFromRaw(rangeIndex, rawValue, gain, offset);
  return kOk;
}

StatusCode ConvertToRaw(const CalibrationCopies& calibration, uint8_t channel, uint8_t rangeIndex,
                        uint16_t calibratedValue, uint16_t& rawValue) {
  if (channel >= kChannels || rangeIndex >= kRanges) return kInvalidArgument;
  float gain;
  uint16_t offset;
  calibration.Entry(CalibrationIndex(channel, rangeIndex), gain, offset);
  return RawFromCalibrated(rangeIndex, calibratedValue, gain, offset, rawValue) ? kOk
                                                                                : kInvalidArgument;
}

}  // namespace korvelan380
