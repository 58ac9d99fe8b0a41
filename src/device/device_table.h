// The process-wide table of connected modules.
//
// Look-ups take no lock and write no shared memory: the slots are read under a sequence
// counter that only connect and disconnect write. Entries are recycled, never freed, while the
// library is loaded, so an entry found is always valid memory; a call pins it by taking the
// module's lock (which it holds for its transfers anyway) and then checks that the entry still
// belongs to its deviceId. An entry is only recycled by a thread that holds its lock.
#ifndef KORVELAN380_DEVICE_DEVICE_TABLE_H
#define KORVELAN380_DEVICE_DEVICE_TABLE_H

#include <cstdint>
#include <optional>

#include "device/device_entry.h"
#include "link/transactions.h"

namespace korvelan380 {

inline constexpr size_t kMaxDeviceIdLength = 8;

// The deviceId as the table's key: its bytes, zero-padded, in one 64-bit word. False for a null
// or over-long identifier.
bool PackDeviceId(const char* deviceId, uint64_t& key);

// The entry under key at some moment during the call, or null. It may be removed or recycled
// at any time unless pinned; check it with BelongsTo once pinned.
DeviceEntry* FindEntry(uint64_t key);
DeviceEntry* FindEntry(const char* deviceId);

// True while the entry is in the table under key.
inline bool BelongsTo(const DeviceEntry& entry, uint64_t key) {
  return entry.inTable.load(std::memory_order_acquire) &&
         entry.key.load(std::memory_order_relaxed) == key;
}

// A module found and pinned by its lock, for a call: the entry of deviceId when it is in the
// table (and, with requireOpen, open), and the lock, unless the wait for it ran out. In that
// case the entry was found but is not pinned, and only its open flag may be read.
struct PinnedEntry {
  DeviceEntry* entry = nullptr;
  std::optional<ModuleLock> lock;
};
PinnedEntry PinEntry(const char* deviceId, bool requireOpen);

// Reads from the entry of deviceId without taking its lock: `read` runs on the entry found and
// its result counts only if the entry still belonged to deviceId (and was open, with
// requireOpen) afterwards; the read retries otherwise. False when deviceId is not there.
template <typename Read>
bool ReadEntry(const char* deviceId, bool requireOpen, Read&& read) {
  uint64_t key;
  if (!PackDeviceId(deviceId, key)) return false;
  for (;;) {
    DeviceEntry* entry = FindEntry(key);
    if (entry == nullptr) return false;
    read(*entry);
    if (!BelongsTo(*entry, key)) continue;  // removed or recycled meanwhile: look again
    return !requireOpen || entry->isOpen.load(std::memory_order_acquire);
  }
}

enum class InsertResult { Inserted, Present, NoResources };
// Inserts a new closed entry under key unless the key is present; the entry comes back held
// by the calling thread through `hold`.
InsertResult InsertEntry(uint64_t key, const DriverApi* driver, DeviceEntry*& inserted,
                         std::optional<ModuleLock>& hold);

// Removes the entry from the table; false when it was no longer there under key. The caller
// that removed it closes it and then gives it back with RecycleEntry.
bool RemoveEntry(DeviceEntry& entry, uint64_t key);
void RecycleEntry(DeviceEntry& entry);

// Marks a freshly opened entry open, unless it has been removed meanwhile; under the table's
// writer lock, so that a disconnect either sees the entry open or the connect sees it gone.
bool PublishOpen(DeviceEntry& entry, FT_HANDLE handle);

// Removes every entry, handing each to `take`, for the unload hook; the entries are recycled
// afterwards.
void TakeAllEntries(void (*take)(DeviceEntry& entry));
// Frees what the table holds once nothing is connected. An entry whose lock some thread still
// holds (a call stuck in the driver) is left alone rather than freed under it.
void ReleaseTableMemory();

}  // namespace korvelan380

#endif  // KORVELAN380_DEVICE_DEVICE_TABLE_H
