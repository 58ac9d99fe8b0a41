// Digital I/O: KORVELAN380_Dio_Dir, _Dio_Dir_R, _Dio_Out, _Dio_Out_R, _Dio_In. The bytes are
// sent and returned unchanged; which bit drives which line is the module's business.
#include "api/export_call.h"
#include "link/registers.h"
#include "link/transactions.h"

namespace korvelan380 {
namespace {

// A write of one DIO register, returning once the driver has sent it and 1 ms more has passed.
StatusCode WriteDioRegister(const char* deviceId, uint8_t reg, uint8_t value) {
  ExportCall call(deviceId);  // Connected and open
  if (!call.Connected()) return kNotConnected;
  if (!call.TakeModule()) return kTransferFailed;  // The module, for the call
  if (!WriteRegisters(call.Wire(), &value, reg, reg)) return kTransferFailed;
  if (!DrainTransmit(call.Wire())) return kTransferFailed;  // The frame has left
  platform::SleepMilliseconds(1);
  return kOk;
}

// A read-back of one DIO register, after discarding whatever was waiting in the receive queue.
StatusCode ReadDioRegister(const char* deviceId, uint8_t reg, uint8_t* value) {
  ExportCall call(deviceId);
  if (!call.Connected()) return kNotConnected;
  if (value == nullptr) return kInvalidArgument;
  if (!call.TakeModule()) return kTransferFailed;
  if (!FlushReceive(call.Wire())) return kTransferFailed;
  return StepStatus(ReadRegisters(call.Wire(), value, reg, reg));
}

}  // namespace
}  // namespace korvelan380

using namespace korvelan380;

extern "C" KORVELAN380_API StatusCode KORVELAN380_Dio_Dir(const char* deviceId, uint8_t direction) {
  return WriteDioRegister(deviceId, reg::kDioDirection, direction);
}

extern "C" KORVELAN380_API StatusCode KORVELAN380_Dio_Dir_R(const char* deviceId,
                                                            uint8_t* direction) {
  return ReadDioRegister(deviceId, reg::kDioDirection, direction);
}

extern "C" KORVELAN380_API StatusCode KORVELAN380_Dio_Out(const char* deviceId,
                                                          uint8_t outputValue) {
  return WriteDioRegister(deviceId, reg::kDioOutput, outputValue);
}

extern "C" KORVELAN380_API StatusCode KORVELAN380_Dio_Out_R(const char* deviceId,
                                                            uint8_t* outputValue) {
  return ReadDioRegister(deviceId, reg::kDioOutput, outputValue);
}

extern "C" KORVELAN380_API StatusCode KORVELAN380_Dio_In(const char* deviceId,
                                                         uint8_t* inputValue) {
  // Connected and open; an output to write to.
  ExportCall call(deviceId);
  if (!call.Connected()) return kNotConnected;
  if (inputValue == nullptr) return kInvalidArgument;
  if (!call.TakeModule()) return kTransferFailed;
  DeviceEntry& entry = call.Entry();
  // Nothing stale may end up in the result.
  if (!FlushReceive(entry.link)) return kTransferFailed;
  // Every read of the input register follows a write of 0x00 to it.
  const uint8_t latch = 0x00;
  if (!WriteRegisters(entry.link, &latch, reg::kDioInput, reg::kDioInput)) return kTransferFailed;
  // The write has left the driver, and the module has had 1 ms.
  if (!DrainTransmit(entry.link)) return kTransferFailed;
  platform::SleepMilliseconds(1);
  // The input byte, straight into the caller's.
  return StepStatus(ReadRegisters(entry.link, inputValue, reg::kDioInput, reg::kDioInput));
}
