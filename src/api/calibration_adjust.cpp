// The two-point calibration: KORVELAN380_CalibAdjustBegin and KORVELAN380_CalibAdjustReading.
#include "api/dac_channel.h"
#include "api/export_call.h"
#include "calibration/adjust.h"
#include "calibration/conversion.h"

using namespace korvelan380;

extern "C" KORVELAN380_API StatusCode KORVELAN380_CalibAdjustBegin(
    const char* deviceId, uint8_t channel, uint8_t rangeIndex, KORVELAN380_CALIB_ADJUST* adjust) {
  ExportCall call(deviceId);
  if (!call.Connected()) return kNotConnected;
  if (adjust == nullptr || channel >= kChannels || rangeIndex >= kRanges) return kInvalidArgument;
  if (!call.TakeModule()) return kTransferFailed;
  DeviceEntry& entry = call.Entry();
  float gain;
  uint16_t offset;
  entry.calibration.Entry(CalibrationIndex(channel, rangeIndex), gain, offset);
  const CalibAdjust started = StartAdjust(channel, rangeIndex, gain, offset);
  if (!SetRange(entry, channel, rangeIndex)) return kTransferFailed;
  if (!WriteOutputCode(entry.link, channel, started.sentCodes[0])) return kTransferFailed;
  *adjust = started;
  return kOk;
}

extern "C" KORVELAN380_API StatusCode KORVELAN380_CalibAdjustReading(
    const char* deviceId, KORVELAN380_CALIB_ADJUST* adjust, double volts) {
  ExportCall call(deviceId);
  if (!call.Connected()) return kNotConnected;
  if (adjust == nullptr || !AwaitsReading(*adjust)) return kInvalidArgument;
  CalibAdjust next;
  const uint8_t refusal = TakeReading(*adjust, volts, next);
  if (refusal != KORVELAN380_ADJUST_ACCEPTED) {
    adjust->refusal = refusal;
    return kInvalidArgument;
  }
  if (next.step == kAdjustDone) {
    *adjust = next;
    return kOk;
  }
  // The next point's code goes out before anything is kept: a failed write leaves the same
  // point to be read again.
  if (!call.TakeModule()) return kTransferFailed;
  DeviceEntry& entry = call.Entry();
  if (!WriteOutputCode(entry.link, next.channel, next.sentCodes[next.step])) {
    return kTransferFailed;
  }
  if (next.step == 2) {
    CalibrationRecord record = entry.calibration.Working();
    const uint16_t index = CalibrationIndex(next.channel, next.rangeIndex);
    record.gain[index] = next.gain;
    record.offset[index] = next.offset;
    entry.calibration.ReplaceWorking(record);
  }
  *adjust = next;
  return kOk;
}
