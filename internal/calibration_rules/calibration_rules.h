// What a real module's calibration entry can hold. The library refuses a two-point fit outside
// these limits and the tool refuses an imported calibration outside them: one rule for both.
#ifndef KORVELAN380_INTERNAL_CALIBRATION_RULES_H
#define KORVELAN380_INTERNAL_CALIBRATION_RULES_H

#include <cmath>
#include <cstdint>

namespace korvelan380::rules {

// A code the module's 14-bit output can hold.
inline constexpr uint16_t kMaxOffset = 0x3FFF;

// The gain of a range whose span (volts) is spread evenly over 16384 codes.
inline double IdealGain(double span) {
  return span / 16384.0;
}

// Finite, positive and within a factor of 2 of the ideal; written so that NaN fails it too.
inline bool GainPlausible(double gain, double idealGain) {
  return std::isfinite(gain) && gain >= idealGain / 2 && gain <= idealGain * 2;
}

inline bool OffsetPlausible(double offset) {
  return offset >= 0 && offset <= kMaxOffset;
}

}  // namespace korvelan380::rules

#endif  // KORVELAN380_INTERNAL_CALIBRATION_RULES_H
