// DAC output values: KORVELAN380_DacValSet, _DacValSet_R, _DacValSet_NoCalibed and
// _DacValSet_NoCalibed_R (exported with C++ linkage, under its decorated name).
#include "api/dac_channel.h"
#include "api/export_call.h"
#include "api/registers.h"
#include "calibration/conversion.h"

namespace korvelan380 {
namespace {

bool WriteOutputCode(DeviceEntry& entry, uint8_t channel, uint16_t code) {
  uint8_t bytes[2];
  SplitWord(code, bytes);
  const uint8_t first = reg::kOutputValue[channel];
  return WriteRegisters(entry, bytes, first, first + 1);
}

bool ReadOutputCode(DeviceEntry& entry, uint8_t channel, uint16_t& code) {
  uint8_t bytes[2];
  const uint8_t first = reg::kOutputValue[channel];
  if (!ReadRegisters(entry, bytes, first, first + 1)) return false;
  code = JoinWord(bytes);
  return true;
}

}  // namespace
}  // namespace korvelan380

using namespace korvelan380;

extern "C" KORVELAN380_API StatusCode KORVELAN380_DacValSet(const char* deviceId, uint8_t channel,
                                                            uint16_t rawValue) {
  // 1. and 2. Connected and open; channel 0 or 1.
  ExportCall call(deviceId);
  if (!call.Connected()) return kNotConnected;
  if (channel >= kChannels) return kInvalidArgument;
  if (!call.TakeModule()) return kTransferFailed;
  DeviceEntry& entry = call.Entry();
  // 3. The range the module reports for the channel now.
  uint8_t rangeIndex;
  if (!ReadRange(entry, channel, rangeIndex)) return kTransferFailed;
  // 4. The code for rawValue's low 14 bits; a range the conversion refuses writes nothing.
  uint16_t code;
  if (ConvertToCalibrated(entry, channel, rangeIndex, rawValue, code) != kOk) {
    return kTransferFailed;
  }
  // 5. The code, high byte first, in one transaction.
  return StepStatus(WriteOutputCode(entry, channel, code));
}

extern "C" KORVELAN380_API StatusCode KORVELAN380_DacValSet_R(const char* deviceId, uint8_t channel,
                                                              uint16_t* rawValue) {
  ExportCall call(deviceId);
  if (!call.Connected()) return kNotConnected;
  if (rawValue == nullptr || channel >= kChannels) return kInvalidArgument;
  if (!call.TakeModule()) return kTransferFailed;
  DeviceEntry& entry = call.Entry();
  // 1. The code first, then the range it is read in.
  uint16_t code;
  if (!ReadOutputCode(entry, channel, code)) return kTransferFailed;
  uint8_t rangeIndex;
  if (!ReadRange(entry, channel, rangeIndex)) return kTransferFailed;
  // 2. A code that converts to no rawValue is a failed read-back here, not a bad argument.
  uint16_t value;
  if (ConvertToRaw(entry, channel, rangeIndex, code, value) != kOk) return kTransferFailed;
  *rawValue = value;
  return kOk;
}

extern "C" KORVELAN380_API StatusCode KORVELAN380_DacValSet_NoCalibed(const char* deviceId,
                                                                      uint8_t channel,
                                                                      uint16_t calibratedValue) {
  ExportCall call(deviceId);
  if (!call.Connected()) return kNotConnected;
  if (channel >= kChannels) return kInvalidArgument;
  if (!call.TakeModule()) return kTransferFailed;
  return StepStatus(WriteOutputCode(call.Entry(), channel, calibratedValue));
}

KORVELAN380_API StatusCode KORVELAN380_DacValSet_NoCalibed_R(const char* deviceId, uint8_t channel,
                                                             uint16_t* calibratedValue) {
  ExportCall call(deviceId);
  if (!call.Connected()) return kNotConnected;
  if (calibratedValue == nullptr || channel >= kChannels) return kInvalidArgument;
  if (!call.TakeModule()) return kTransferFailed;
  return StepStatus(ReadOutputCode(call.Entry(), channel, *calibratedValue));
}
