// The extension: KORVELAN380_LatencySet, the chip's latency timer.
#include "api/export_call.h"
#include "link/settings.h"

using namespace korvelan380;

extern "C" KORVELAN380_API StatusCode KORVELAN380_LatencySet(const char* deviceId,
                                                             uint32_t milliseconds) {
  ExportCall call(deviceId);
  if (!call.Connected()) return kNotConnected;
  if (!LatencyAccepted(milliseconds)) return kInvalidArgument;
  if (!call.TakeModule()) return kTransferFailed;
  switch (SetLatencyTimer(call.Wire(), milliseconds)) {
    case LatencyResult::kSet:
      return kOk;
    case LatencyResult::kNoSuchSetting:
      return kOpenFailed;  // the driver has no FT_SetLatencyTimer
    case LatencyResult::kRefused:
      break;
  }
  return kTransferFailed;
}
