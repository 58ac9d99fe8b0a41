// The outputs' first state, set on a connect that finds the module's initialised flag clear.
#include "device/initialise.h"

#include "calibration/conversion.h"
#include "link/frame.h"
#include "link/registers.h"
#include "link/transactions.h"

namespace korvelan380 {
namespace {

// The calibrated zero code of a channel: rawValue 0 in range 6, whatever range is selected.
constexpr uint8_t kZeroCodeRange = 6;

// The channel's zero code into its output value and preset code registers.
StatusCode InitialiseChannel(DeviceEntry& entry, uint8_t channel) {
  uint16_t zeroCode;
  const StatusCode status =
      ConvertToCalibrated(entry.calibration, channel, kZeroCodeRange, 0, zeroCode);
  if (status != kOk) return status;
  uint8_t bytes[2];
  SplitWord(zeroCode, bytes);
  const uint8_t output = reg::kOutputValue[channel];
  const uint8_t preset = reg::kPresetCode[channel];
  if (!WriteRegisters(entry.link, bytes, output, output + 1)) return kTransferFailed;
  return StepStatus(WriteRegisters(entry.link, bytes, preset, preset + 1));
}

}  // namespace

StatusCode InitialiseOutputs(DeviceEntry& entry) {
  // A module whose flag is set, by whichever process, is left alone.
  uint8_t flag;
  if (!ReadRegisters(entry.link, &flag, reg::kInitialised, reg::kInitialised)) {
    return kTransferFailed;
  }
  if (flag != 0) return kOk;
  for (uint8_t channel = 0; channel < kChannels; ++channel) {
    const StatusCode status = InitialiseChannel(entry, channel);
    if (status != kOk) return status;
  }
  // The flag last, so that a sequence cut short runs again at the next connect.
  const uint8_t set = 1;
  return StepStatus(WriteRegisters(entry.link, &set, reg::kInitialised, reg::kInitialised));
}

}  // namespace korvelan380
