// DAC output values: KORVELAN380_DacValSet, _DacValSet_R, _DacValSet_NoCalibed and
// _DacValSet_NoCalibed_R (exported with C++ linkage, under its decorated name).
#include "api/dac_channel.h"
#include "api/export_call.h"
#include "calibration/conversion.h"
#include "link/frame.h"
#include "link/registers.h"
#include "link/transactions.h"

namespace korvelan380 {

bool WriteOutputCode(Link& link, uint8_t channel, uint16_t code) {
  uint8_t bytes[2];
  SplitWord(code, bytes);
  const uint8_t first = reg::kOutputValue[channel];
  return WriteRegisters(link, bytes, first, first + 1);
}

namespace {

bool ReadOutputCode(Link& link, uint8_t channel, uint16_t& code) {
  uint8_t bytes[2];
  const uint8_t first = reg::kOutputValue[channel];
  if (!ReadRegisters(link, bytes, first, first + 1)) return false;
  code = JoinWord(bytes);
  return true;
}

}  // namespace
}  // namespace korvelan380

using namespace korvelan380;

extern "C" KORVELAN380_API StatusCode KORVELAN380_DacValSet(const char* deviceId, uint8_t channel,
                                                            uint16_t rawValue) {
  // Connected and open; channel 0 or 1.
  ExportCall call(deviceId);
  if (!call.Connected()) return kNotConnected;
  if (channel >= kChannels) return kInvalidArgument;
  if (!call.TakeModule()) return kTransferFailed;
  DeviceEntry& entry = call.Entry();
  // The range the module reports for the channel now.
  uint8_t rangeIndex;
  if (!ReadRange(entry.link, channel, rangeIndex)) return kTransferFailed;
  // The code for rawValue's low 14 bits; a range the conversion refuses writes nothing.
  uint16_t code;
  if (ConvertToCalibrated(entry.calibration, channel, rangeIndex, rawValue, code) != kOk) {
    return kTransferFailed;
  }
  // The code, high byte first, in one transaction.
  return StepStatus(WriteOutputCode(entry.link, channel, code));
}

extern "C" KORVELAN380_API StatusCode KORVELAN380_DacValSet_R(const char* deviceId, uint8_t channel,
                                                              uint16_t* rawValue) {
  ExportCall call(deviceId);
  if (!call.Connected()) return kNotConnected;
  if (rawValue == nullptr || channel >= kChannels) return kInvalidArgument;
  if (!call.TakeModule()) return kTransferFailed;
  DeviceEntry& entry = call.Entry();
  // The code first, then the range it is read in.
  uint16_t code;
  if (!ReadOutputCode(entry.link, channel, code)) return kTransferFailed;
  uint8_t rangeIndex;
  if (!ReadRange(entry.link, channel, rangeIndex)) return kTransferFailed;
  // A code that converts to no rawValue is a failed read-back here, not a bad argument.
  uint16_t value;
  if (ConvertToRaw(entry.calibration, channel, rangeIndex, code, value) != kOk)
    return kTransferFailed;
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
  return StepStatus(WriteOutputCode(call.Wire(), channel, calibratedValue));
}

KORVELAN380_API StatusCode KORVELAN380_DacValSet_NoCalibed_R(const char* deviceId, uint8_t channel,
                                                             uint16_t* calibratedValue) {
  ExportCall call(deviceId);
  if (!call.Connected()) return kNotConnected;
  if (calibratedValue == nullptr || channel >= kChannels) return kInvalidArgument;
  if (!call.TakeModule()) return kTransferFailed;
  return StepStatus(ReadOutputCode(call.Wire(), channel, *calibratedValue));
}
