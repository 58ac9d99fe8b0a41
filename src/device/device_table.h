// The process-wide table of connected modules: one mutex over a map from deviceId to a shared
// entry. A call copies its entry's pointer under the mutex and lets the mutex go at once, so
// modules never wait for each other beyond that; an entry lives until its last holder lets go,
// so a disconnect never frees an entry that a call on another thread is using.
#ifndef KORVELAN380_DEVICE_DEVICE_TABLE_H
#define KORVELAN380_DEVICE_DEVICE_TABLE_H

#include <cstddef>
#include <memory>
#include <vector>

#include "device/device_entry.h"

namespace korvelan380 {

inline constexpr size_t kMaxDeviceIdLength = 8;

// False for a null deviceId or one longer than 8 characters.
bool DeviceIdFits(const char* deviceId);

// The entry of deviceId, or null.
std::shared_ptr<DeviceEntry> FindEntry(const char* deviceId);

// Enters the entry under deviceId; false when deviceId is present already.
bool InsertEntry(const char* deviceId, std::shared_ptr<DeviceEntry> entry);

// Takes deviceId's entry out of the table, or, with `only`, only when that is the entry there.
std::shared_ptr<DeviceEntry> RemoveEntry(const char* deviceId, const DeviceEntry* only = nullptr);

// Takes every entry out of the table, for the unload hook.
std::vector<std::shared_ptr<DeviceEntry>> TakeAllEntries();

}  // namespace korvelan380

#endif  // KORVELAN380_DEVICE_DEVICE_TABLE_H
