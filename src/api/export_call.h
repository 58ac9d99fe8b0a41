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

// One export's hold on its module: the entry found by EntryCheck, kept alive for the call, and
// the module's I/O lock from the first transfer to the last, so that calls on one module never
// interleave.
class ExportCall {
 public:
  explicit ExportCall(const char* deviceId) : entry_(EntryCheck(deviceId)) {}

  // False when deviceId is not connected or its module is not open: the export returns 2.
  bool Connected() const { return static_cast<bool>(entry_); }
  DeviceEntry& Entry() const { return *entry_; }

  // Takes the module for the rest of the call; false when the wait for it ran out, in which
  // case nothing may be sent and the export returns 5.
  bool TakeModule() {
    if (!lock_) lock_.emplace(*entry_);
    return static_cast<bool>(*lock_);
  }

 private:
  EntryRef entry_;
  std::optional<ModuleLock> lock_;
};

}  // namespace korvelan380

#endif  // KORVELAN380_API_EXPORT_CALL_H
