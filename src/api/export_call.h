// The steps every export shares: the status codes, the entry check and taking the module.
#ifndef KORVELAN380_API_EXPORT_CALL_H
#define KORVELAN380_API_EXPORT_CALL_H

#include <optional>

#include "device/device_table.h"
#include "korvelan380.h"
#include "link/transactions.h"

namespace korvelan380 {

inline constexpr StatusCode kOk = KORVELAN380_OK;
inline constexpr StatusCode kInvalidArgument = KORVELAN380_INVALID_ARGUMENT;
inline constexpr StatusCode kNotConnected = KORVELAN380_NOT_CONNECTED;
inline constexpr StatusCode kOpenFailed = KORVELAN380_OPEN_FAILED;
inline constexpr StatusCode kTransferFailed = KORVELAN380_TRANSFER_FAILED;
inline constexpr StatusCode kAlreadyConnected = KORVELAN380_ALREADY_CONNECTED;

// An internal step's false becomes 5.
inline StatusCode StepStatus(bool ok) {
  return ok ? kOk : kTransferFailed;
}

// One export's hold on its module: the entry of a connected, open deviceId, pinned by the
// module's I/O lock from the entry check to the end of the call, so that calls on one module
// never interleave and a disconnect on another thread never recycles the entry under it.
class ExportCall {
 public:
  explicit ExportCall(const char* deviceId) : pinned_(PinEntry(deviceId, true)) {}

  // False when deviceId is not connected or its module is not open: the export returns 2.
  bool Connected() const { return pinned_.entry != nullptr; }
  DeviceEntry& Entry() const { return *pinned_.entry; }

  // False when the wait for the module ran out: nothing may be sent, and the export returns 5.
  bool TakeModule() const { return pinned_.lock.has_value(); }

 private:
  PinnedEntry pinned_;
};

}  // namespace korvelan380

#endif  // KORVELAN380_API_EXPORT_CALL_H
