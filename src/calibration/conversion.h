// Conversion between rawValues (nominal 14-bit output values) and calibratedValues (the 16-bit
// codes held in the module), with a channel's gain and offset for one range.
#ifndef KORVELAN380_CALIBRATION_CONVERSION_H
#define KORVELAN380_CALIBRATION_CONVERSION_H

#include <cstddef>
#include <cstdint>

#include "base/status.h"
#include "calibration/record.h"

namespace korvelan380 {

inline constexpr uint8_t kRanges = 7;
inline constexpr uint8_t kChannels = 2;
// Full-scale width of each range; ranges 0 to 3 are bipolar (centred on zero).
inline constexpr double kRangeSpan[kRanges] = {20.0, 10.0, 5.0, 2.5, 10.0, 5.0, 2.5};
inline bool IsBipolar(uint8_t rangeIndex) {
  return rangeIndex < 4;
}
inline uint16_t CalibrationIndex(uint8_t channel, uint8_t rangeIndex) {
  return static_cast<uint16_t>(channel * kRanges + rangeIndex);
}

// The volts rawValue (its low 14 bits) stands for in the range: the conversion's nominal value.
inline double NominalVolts(uint8_t rangeIndex, uint16_t rawValue) {
  const uint16_t code = static_cast<uint16_t>(rawValue * 4u);  // the low 14 bits, shifted up
  const int32_t centred = IsBipolar(rangeIndex) ? int32_t{code} - 32768 : int32_t{code};
  return static_cast<double>(centred) * 0x1p-16 * kRangeSpan[rangeIndex];
}

// The code to send for rawValue (only its low 14 bits count). A result outside 0 to 65535 is
// held at the nearer end, and a result that is not a number gives 0: a negative code must not
// wrap to the top of the range.
uint16_t CalibratedFromRaw(uint8_t rangeIndex, uint16_t rawValue, float gain, uint16_t offset);

inline constexpr size_t kRawValues = 16384;  // only the low 14 bits of a rawValue count

// The rawValue a code stands for; false when it falls outside 0 to 16383.
bool RawFromCalibrated(uint8_t rangeIndex, uint16_t calibratedValue, float gain, uint16_t offset,
                       uint16_t& rawValue);

// The two conversions with a module's working calibration: 1 for a channel above 1 or a range
// above 6 (and, backwards, a result outside 0 to 16383), 0 with the output written.
StatusCode ConvertToCalibrated(const CalibrationCopies& calibration, uint8_t channel,
                               uint8_t rangeIndex, uint16_t rawValue, uint16_t& calibratedValue);
StatusCode ConvertToRaw(const CalibrationCopies& calibration, uint8_t channel, uint8_t rangeIndex,
                        uint16_t calibratedValue, uint16_t& rawValue);

}  // namespace korvelan380

#endif  // KORVELAN380_CALIBRATION_CONVERSION_H
