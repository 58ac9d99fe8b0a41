// What every export shares: the entry check, and holding the module for the whole call.
#ifndef KORVELAN380_API_EXPORT_CALL_H
#define KORVELAN380_API_EXPORT_CALL_H

#include <memory>
#include <optional>

#include "base/status.h"
#include "device/device_table.h"

namespace korvelan380 {

// One export's hold on its module: the entry of a connected deviceId, kept alive for the call,
// and the module's lock from the entry check to the end of the call, so that calls on one
// module never interleave on the wire.
class ExportCall {
 public:
  explicit ExportCall(const char* deviceId) : entry_(FindEntry(deviceId)) {
    if (!entry_) return;
    lock_.emplace(*entry_);
    if (!*lock_) lock_.reset();
  }

  // False when deviceId is not connected or its module is not open: the export returns 2.
  bool Connected() const { return entry_ && entry_->link.isOpen.load(); }
  DeviceEntry& Entry() const { return *entry_; }
  Link& Wire() const { return entry_->link; }

  // False when the wait for the module ran out: nothing may be sent, and the export returns 5.
  bool TakeModule() const { return lock_.has_value(); }

 private:
  std::shared_ptr<DeviceEntry> entry_;
  std::optional<ModuleLock> lock_;
};

}  // namespace korvelan380

#endif  // KORVELAN380_API_EXPORT_CALL_H
