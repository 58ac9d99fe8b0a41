// DAC channel configuration and output range: KORVELAN380_DacChSet, _DacChSet_R, _RangeSet,
// _RangeSet_R.
#include "api/dac_channel.h"

#include "api/export_call.h"
#include "calibration/conversion.h"
#include "link/frame.h"
#include "link/registers.h"
#include "link/transactions.h"

namespace korvelan380 {

bool ReadRange(Link& link, uint8_t channel, uint8_t& rangeIndex) {
  return ReadRegisters(link, &rangeIndex, reg::kRange[channel], reg::kRange[channel]);
}

namespace {

constexpr uint16_t kMaxRawValue = 0x3FFF;

// The checks of every mode: true when the settings may be sent.
bool SettingsAccepted(uint8_t channel, const DacChannelSettings& s) {
  if (s.presetValue > kMaxRawValue || channel >= kChannels || s.reserved != 0) return false;
  switch (s.mode) {
    case 0:
      return true;
    case 1:
      return s.selectA <= 2 && s.selectB <= 2 && s.switchA <= 1 && s.switchB <= 1 &&
             s.presetEnable <= 1;
    case 2:
      return s.selectA <= 2 && s.selectB <= 2 && s.switchB <= 1 && s.presetEnable <= 1;
    case 3:
      return s.selectA <= 1 && s.selectB <= 1 && s.presetEnable <= 1;
    default:
      return false;
  }
}

// The control byte: mode in bits 0-1, the selectors in 2-3 and 4-5, the switches in 6 and 7,
// with the fields a mode does not use taken as 0.
uint8_t ControlByte(const DacChannelSettings& s) {
  switch (s.mode) {
    case 1:
      return static_cast<uint8_t>(1 | s.selectA << 2 | s.selectB << 4 | s.switchA << 6 |
                                  s.switchB << 7);
    case 2:
      return static_cast<uint8_t>(2 | s.selectA << 2 | s.selectB << 4 | s.switchB << 7);
    case 3:
      return static_cast<uint8_t>(3 | s.selectA << 2 | s.selectB << 4);
    default:
      return 0x00;
  }
}

// The gain word: the gain truncated toward zero to a 32-bit integer, its low 16 bits; a gain
// outside that integer range (or not a number) gives 0x80000000, so 0.
uint16_t GainWord(float gain) {
  const double g = gain;
  if (!(g > -2147483649.0 && g < 2147483648.0)) return 0;
  return static_cast<uint16_t>(static_cast<uint32_t>(static_cast<int32_t>(g)) & 0xFFFF);
}

}  // namespace

bool SetRange(DeviceEntry& entry, uint8_t channel, uint8_t rangeIndex) {
  // The calibration entry: channel 2 has none of its own and takes channel 0's.
  float gain;
  uint16_t offset;
  entry.calibration.Entry(CalibrationIndex(channel == 2 ? 0 : channel, rangeIndex), gain, offset);
  // The gain word and the offset word go out before the range.
  uint8_t bytes[2];
  SplitWord(GainWord(gain), bytes);
  if (!WriteRegisters(entry.link, bytes, reg::kGainWord, reg::kGainWord + 1)) return false;
  SplitWord(offset, bytes);
  if (!WriteRegisters(entry.link, bytes, reg::kOffsetWord, reg::kOffsetWord + 1)) return false;
  return WriteRegisters(entry.link, &rangeIndex, reg::kRange[channel], reg::kRange[channel]);
}

}  // namespace korvelan380

using namespace korvelan380;

extern "C" KORVELAN380_API StatusCode KORVELAN380_DacChSet(const char* deviceId, uint8_t channel,
                                                           const DacChannelSettings* settings) {
  // Connected and open.
  ExportCall call(deviceId);
  if (!call.Connected()) return kNotConnected;
  // Every check before anything is sent.
  if (settings == nullptr) return kInvalidArgument;
  const DacChannelSettings s = *settings;
  if (!SettingsAccepted(channel, s)) return kInvalidArgument;
  if (!call.TakeModule()) return kTransferFailed;
  DeviceEntry& entry = call.Entry();
  // The control byte.
  const uint8_t control = ControlByte(s);
  if (!WriteRegisters(entry.link, &control, reg::kControl[channel], reg::kControl[channel])) {
    return kTransferFailed;
  }
  // The preset enable, in modes 1 to 3.
  const uint8_t enableReg = reg::kPresetEnable[channel];
  if (s.mode != 0 && !WriteRegisters(entry.link, &s.presetEnable, enableReg, enableReg)) {
    return kTransferFailed;
  }
  // The mode parameter, in mode 2.
  if (s.mode == 2) {
    uint8_t bytes[2];
    SplitWord(s.modeParameter, bytes);
    const uint8_t first = reg::kModeParameter[channel];
    if (!WriteRegisters(entry.link, bytes, first, first + 1)) return kTransferFailed;
  }
  // The preset code is loaded only when asked for with exactly 1.
  if (s.presetEnable != 1) return kOk;
  // Converted for the range the module reports now.
  uint8_t rangeIndex;
  if (!ReadRange(entry.link, channel, rangeIndex)) return kTransferFailed;
  uint16_t code;
  if (ConvertToCalibrated(entry.calibration, channel, rangeIndex, s.presetValue, code) != kOk) {
    return kTransferFailed;
  }
  // The preset code, high byte first.
  uint8_t bytes[2];
  SplitWord(code, bytes);
  const uint8_t first = reg::kPresetCode[channel];
  return StepStatus(WriteRegisters(entry.link, bytes, first, first + 1));
}

extern "C" KORVELAN380_API StatusCode KORVELAN380_DacChSet_R(const char* deviceId, uint8_t channel,
                                                             DacChannelSettings* settings) {
  // Connected and open; a channel with a control register.
  ExportCall call(deviceId);
  if (!call.Connected()) return kNotConnected;
  if (settings == nullptr || channel >= kChannels) return kInvalidArgument;
  if (!call.TakeModule()) return kTransferFailed;
  DeviceEntry& entry = call.Entry();
  // The control register, read back bit by bit (not in the two-bit groups written).
  uint8_t control;
  if (!ReadRegisters(entry.link, &control, reg::kControl[channel], reg::kControl[channel])) {
    return kTransferFailed;
  }
  settings->mode = control & 3;
  settings->selectA = (control >> 2) & 1;
  settings->selectB = (control >> 3) & 1;
  settings->switchA = (control >> 4) & 1;
  settings->switchB = (control >> 5) & 1;
  // The preset enable, the whole byte.
  const uint8_t enableReg = reg::kPresetEnable[channel];
  if (!ReadRegisters(entry.link, &settings->presetEnable, enableReg, enableReg)) {
    return kTransferFailed;
  }
  // The mode parameter, whatever the mode.
  uint8_t bytes[2];
  const uint8_t parameter = reg::kModeParameter[channel];
  if (!ReadRegisters(entry.link, bytes, parameter, parameter + 1)) return kTransferFailed;
  settings->modeParameter = JoinWord(bytes);
  // The preset code.
  const uint8_t preset = reg::kPresetCode[channel];
  if (!ReadRegisters(entry.link, bytes, preset, preset + 1)) return kTransferFailed;
  // Back to a rawValue for the range the module reports; a failure of either step
  // is passed on as it is.
  uint8_t rangeIndex;
  if (!ReadRange(entry.link, channel, rangeIndex)) return kTransferFailed;
  uint16_t rawValue;
  const StatusCode status =
      ConvertToRaw(entry.calibration, channel, rangeIndex, JoinWord(bytes), rawValue);
  if (status == kOk) settings->presetValue = rawValue;
  return status;
}

extern "C" KORVELAN380_API StatusCode KORVELAN380_RangeSet(const char* deviceId, uint8_t channel,
                                                           uint8_t rangeIndex) {
  // Connected and open; channel 0 to 2, range 0 to 6.
  ExportCall call(deviceId);
  if (!call.Connected()) return kNotConnected;
  if (channel > 2 || rangeIndex >= kRanges) return kInvalidArgument;
  if (!call.TakeModule()) return kTransferFailed;
  return StepStatus(SetRange(call.Entry(), channel, rangeIndex));
}

extern "C" KORVELAN380_API StatusCode KORVELAN380_RangeSet_R(const char* deviceId, uint8_t channel,
                                                             uint8_t* rangeIndex) {
  ExportCall call(deviceId);
  if (!call.Connected()) return kNotConnected;
  if (rangeIndex == nullptr || channel >= kChannels) return kInvalidArgument;
  if (!call.TakeModule()) return kTransferFailed;
  return StepStatus(ReadRange(call.Wire(), channel, *rangeIndex));
}
