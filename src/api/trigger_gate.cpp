// Trigger and gate: KORVELAN380_Trigger, _Trigger_Stat, _GateSet, _GateSet_R. Channel 2
// addresses a third register of each kind.
#include "api/export_call.h"
#include "link/registers.h"
#include "link/transactions.h"

namespace korvelan380 {
namespace {

constexpr uint8_t kTriggerStart = 0x01;
constexpr uint8_t kTriggerStop = 0x02;
constexpr uint8_t kTriggerStatusBit = 0x10;

// One register write or read after the entry check and the argument checks.
StatusCode WriteOne(ExportCall& call, uint8_t reg, uint8_t value) {
  if (!call.TakeModule()) return kTransferFailed;
  return StepStatus(WriteRegisters(call.Wire(), &value, reg, reg));
}

bool ReadOne(ExportCall& call, uint8_t reg, uint8_t& value) {
  return call.TakeModule() && ReadRegisters(call.Wire(), &value, reg, reg);
}

}  // namespace
}  // namespace korvelan380

using namespace korvelan380;

extern "C" KORVELAN380_API StatusCode KORVELAN380_Trigger(const char* deviceId, uint8_t channel,
                                                          uint8_t action) {
  ExportCall call(deviceId);
  if (!call.Connected()) return kNotConnected;
  if (channel > 2 || action > 1) return kInvalidArgument;
  return WriteOne(call, reg::kTrigger[channel], action == 1 ? kTriggerStart : kTriggerStop);
}

extern "C" KORVELAN380_API StatusCode KORVELAN380_Trigger_Stat(const char* deviceId,
                                                               uint8_t channel,
                                                               uint8_t* triggerStatus) {
  ExportCall call(deviceId);
  if (!call.Connected()) return kNotConnected;
  if (channel > 2 || triggerStatus == nullptr) return kInvalidArgument;
  // Channel 2's status is read from channel 0's register; its own is never read.
  uint8_t byte;
  if (!ReadOne(call, reg::kTrigger[channel == 1 ? 1 : 0], byte)) return kTransferFailed;
  *triggerStatus = (byte & kTriggerStatusBit) ? 1 : 0;
  return kOk;
}

extern "C" KORVELAN380_API StatusCode KORVELAN380_GateSet(const char* deviceId, uint8_t channel,
                                                          uint8_t gate) {
  ExportCall call(deviceId);
  if (!call.Connected()) return kNotConnected;
  if (channel > 2 || gate > 1) return kInvalidArgument;
  return WriteOne(call, reg::kGate[channel], gate);
}

extern "C" KORVELAN380_API StatusCode KORVELAN380_GateSet_R(const char* deviceId, uint8_t channel,
                                                            uint8_t* gate) {
  ExportCall call(deviceId);
  if (!call.Connected()) return kNotConnected;
  if (channel > 2 || gate == nullptr) return kInvalidArgument;
  uint8_t byte;
  if (!ReadOne(call, reg::kGate[channel], byte)) return kTransferFailed;
  // The channel registers report the gate in bit 1; the third register in bit 0.
  *gate = channel == 2 ? (byte & 1) : ((byte >> 1) & 1);
  return kOk;
}
