// The arithmetic of the two-point calibration, without I/O: its points, the checks of each
// reading, the fit and the errors left after it.
#ifndef KORVELAN380_CALIBRATION_ADJUST_H
#define KORVELAN380_CALIBRATION_ADJUST_H

#include <cstdint>

#include "korvelan380.h"

namespace korvelan380 {

using CalibAdjust = KORVELAN380_CALIB_ADJUST;

inline constexpr uint8_t kAdjustPoints = 3;
inline constexpr uint8_t kAdjustDone = 3;  // the step once every reading is in

// A calibration of channel and range about to start, the entry being (gain, offset): the three
// points, their expected volts, the uncalibrated codes of points 0 and 1, step 0.
CalibAdjust StartAdjust(uint8_t channel, uint8_t rangeIndex, float gain, uint16_t offset);

// Whether `adjust` awaits a reading: its step, channel and range such as StartAdjust leaves.
bool AwaitsReading(const CalibAdjust& adjust);

// The refusal (KORVELAN380_ADJUST_*) of `volts` as the reading of point adjust.step; when it
// is taken (0), `next` is the calibration one step on: after point 1 holding the fit (gain,
// offset, point 2's code through it), after point 2 the errors. `adjust` must await a reading.
uint8_t TakeReading(const CalibAdjust& adjust, double volts, CalibAdjust& next);

}  // namespace korvelan380

#endif  // KORVELAN380_CALIBRATION_ADJUST_H
