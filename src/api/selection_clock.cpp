// External signal, clock and EXIO selection: KORVELAN380_Exs_Sel, _Exs_Sel_R, _Clock_Gen,
// _EXIO_Sel, _EXIO_Sel_R, _EXIO_In.
#include <cstdio>

#include "api/export_call.h"
#include "link/registers.h"
#include "link/transactions.h"

namespace korvelan380 {
namespace {

constexpr uint8_t kMaxExternalSelect = 4;
constexpr uint8_t kMaxExioSelect = 6;
constexpr uint32_t kMinClockSetting = 99;

// A selection register holds highSelect in bits 4-7 and lowSelect in bits 0-3.
StatusCode WriteSelection(const char* deviceId, uint8_t reg, uint8_t limit, uint8_t lowSelect,
                          uint8_t highSelect) {
  ExportCall call(deviceId);
  if (!call.Connected()) return kNotConnected;
  if (lowSelect > limit || highSelect > limit) return kInvalidArgument;
  if (!call.TakeModule()) return kTransferFailed;
  const uint8_t byte = static_cast<uint8_t>(highSelect << 4 | lowSelect);
  return StepStatus(WriteRegisters(call.Wire(), &byte, reg, reg));
}

// Reads a selection register back after discarding what was waiting in the receive queue. The
// nibbles are not checked: whatever the module holds is returned.
StatusCode ReadSelection(const char* deviceId, uint8_t reg, bool print, uint8_t* lowSelect,
                         uint8_t* highSelect) {
  ExportCall call(deviceId);
  if (!call.Connected()) return kNotConnected;
  if (lowSelect == nullptr || highSelect == nullptr) return kInvalidArgument;
  if (!call.TakeModule()) return kTransferFailed;
  if (!FlushReceive(call.Wire())) return kTransferFailed;
  uint8_t byte;
  if (!ReadRegisters(call.Wire(), &byte, reg, reg)) return kTransferFailed;
  if (print) {
    // The EXIO read-back reports the byte on standard output, flushed so that it appears in
    // order with the caller's own output.
    std::printf("%d", byte);
    std::fflush(stdout);
  }
  *lowSelect = byte & 0x0F;
  *highSelect = byte >> 4;
  return kOk;
}

}  // namespace
}  // namespace korvelan380

using namespace korvelan380;

extern "C" KORVELAN380_API StatusCode KORVELAN380_Exs_Sel(const char* deviceId, uint8_t lowSelect,
                                                          uint8_t highSelect) {
  return WriteSelection(deviceId, reg::kExternalSelect, kMaxExternalSelect, lowSelect, highSelect);
}

extern "C" KORVELAN380_API StatusCode KORVELAN380_Exs_Sel_R(const char* deviceId,
                                                            uint8_t* lowSelect,
                                                            uint8_t* highSelect) {
  return ReadSelection(deviceId, reg::kExternalSelect, false, lowSelect, highSelect);
}

extern "C" KORVELAN380_API StatusCode KORVELAN380_Clock_Gen(const char* deviceId, uint8_t channel,
                                                            uint32_t clockSetting) {
  // Connected and open; channel 0 to 2; a setting of at least 99.
  ExportCall call(deviceId);
  if (!call.Connected()) return kNotConnected;
  if (channel > 2 || clockSetting < kMinClockSetting) return kInvalidArgument;
  if (!call.TakeModule()) return kTransferFailed;
  // Four bytes, most significant first, into the channel's block in one frame.
  const uint8_t bytes[4] = {
      static_cast<uint8_t>(clockSetting >> 24), static_cast<uint8_t>(clockSetting >> 16),
      static_cast<uint8_t>(clockSetting >> 8), static_cast<uint8_t>(clockSetting)};
  const uint8_t first = reg::kClock[channel];
  return StepStatus(WriteRegisters(call.Wire(), bytes, first, first + 3));
}

extern "C" KORVELAN380_API StatusCode KORVELAN380_EXIO_Sel(const char* deviceId, uint8_t lowSelect,
                                                           uint8_t highSelect) {
  return WriteSelection(deviceId, reg::kExioSelect, kMaxExioSelect, lowSelect, highSelect);
}

extern "C" KORVELAN380_API StatusCode KORVELAN380_EXIO_Sel_R(const char* deviceId,
                                                             uint8_t* lowSelect,
                                                             uint8_t* highSelect) {
  return ReadSelection(deviceId, reg::kExioSelect, true, lowSelect, highSelect);
}

extern "C" KORVELAN380_API StatusCode KORVELAN380_EXIO_In(const char* deviceId,
                                                          uint8_t* exioValue) {
  ExportCall call(deviceId);
  if (!call.Connected()) return kNotConnected;
  if (exioValue == nullptr) return kInvalidArgument;
  if (!call.TakeModule()) return kTransferFailed;
  // No flush first: bytes already waiting are taken as the start of the reply.
  return StepStatus(ReadRegisters(call.Wire(), exioValue, reg::kExioInput, reg::kExioInput));
}
