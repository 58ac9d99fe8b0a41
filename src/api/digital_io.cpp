// Digital I/O: KORVELAN380_Dio_Dir, _Dio_Dir_R, _Dio_Out, _Dio_Out_R, _Dio_In. The bytes are
// sent and returned unchanged; which bit drives which line is the module's business.
#include "api/export_call.h"
#include "api/registers.h"

namespace korvelan380 {
namespace {

// A write of one DIO register, returning once the driver has sent it and 1 ms more has passed.
StatusCode WriteDioRegister(const char* deviceId, uint8_t reg, uint8_t value) {
  ExportCall call(deviceId);  // 1. connected and open
  if (!call.Connected()) return kNotConnected;
  if (!call.TakeModule()) return kTransferFailed;  // 2. the module, for the call
  if (!WriteRegisters(call.Entry(), &value, reg, reg)) return kTransferFailed;  // 3.
  if (!DrainTransmit(call.Entry())) return kTransferFailed;  // 4. the frame has left
  platform::SleepMilliseconds(1);                            // 5.
  return kOk;
}

// A read-back of one DIO register, after discarding whatever was waiting in the receive queue.
StatusCode ReadDioRegister(const char* deviceId, uint8_t reg, uint8_t* value) {
  ExportCall call(deviceId);  // 1.
  if (!call.Connected()) return kNotConnected;
  if (value == nullptr) return kInvalidArgument;
  if (!call.TakeModule()) return kTransferFailed;
  if (!FlushReceive(call.Entry())) return kTransferFailed;          // 2.
  return StepStatus(ReadRegisters(call.Entry(), value, reg, reg));  // 3.
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
  // 1. Connected and open; an output to write to.
  ExportCall call(deviceId);
  if (!call.Connected()) return kNotConnected;
  if (inputValue == nullptr) return kInvalidArgument;
  if (!call.TakeModule()) return kTransferFailed;
  DeviceEntry& entry = call.Entry();
  // 2. Nothing stale may end up in the result.
  if (!FlushReceive(entry)) return kTransferFailed;
  // 3. Every read of the input register follows a write of 0x00 to it.
  const uint8_t latch = 0x00;
  if (!WriteRegisters(entry, &latch, reg::kDioInput, reg::kDioInput)) return kTransferFailed;
  // 4. and 5. The write has left the driver, and the module has had 1 ms.
  if (!DrainTransmit(entry)) return kTransferFailed;
  platform::SleepMilliseconds(1);
  // 6. The input byte, straight into the caller's.
  return StepStatus(ReadRegisters(entry, inputValue, reg::kDioInput, reg::kDioInput));
}
