// The process-wide table of connected modules.
//
// Look-ups take no lock and write no memory shared with other modules' calls: the slots are
// read under a sequence counter that only connect and disconnect write, and the entry found is
// pinned by its own reference count. Entries are recycled, never freed, while the library is
// loaded, so a look-up that races with a disconnect reads valid memory and simply retries.
#ifndef KORVELAN380_DEVICE_DEVICE_TABLE_H
#define KORVELAN380_DEVICE_DEVICE_TABLE_H

#include <cstdint>

#include "device/device_entry.h"

namespace korvelan380 {

inline constexpr size_t kMaxDeviceIdLength = 8;

// The deviceId as the table's key: its bytes, zero-padded, in one 64-bit word. False for a null
// or over-long identifier.
bool PackDeviceId(const char* deviceId, uint64_t& key);

// A counted reference to an entry; the entry outlives every reference to it.
class EntryRef {
 public:
  EntryRef() = default;
  explicit EntryRef(DeviceEntry* entry) : entry_(entry) {}
  EntryRef(EntryRef&& other) noexcept : entry_(other.entry_) { other.entry_ = nullptr; }
  EntryRef& operator=(EntryRef&& other) noexcept;
  EntryRef(const EntryRef&) = delete;
  EntryRef& operator=(const EntryRef&) = delete;
  ~EntryRef() { Reset(); }

  void Reset();
  DeviceEntry* get() const { return entry_; }
  DeviceEntry* operator->() const { return entry_; }
  DeviceEntry& operator*() const { return *entry_; }
  explicit operator bool() const { return entry_ != nullptr; }

 private:
  DeviceEntry* entry_ = nullptr;
};

// The entry of deviceId when it is in the table, open or not.
EntryRef FindEntry(const char* deviceId);

// The opening step of the exports: the entry of deviceId when it is in the table and open.
EntryRef EntryCheck(const char* deviceId);

enum class InsertResult { Inserted, Present, NoResources };
// Inserts a new closed entry under key unless the key is present.
InsertResult InsertEntry(uint64_t key, const DriverApi* driver, EntryRef& inserted);

// Removes the entry from the table; false when it was no longer there.
bool RemoveEntry(DeviceEntry& entry);

// Marks a freshly opened entry open, unless it has been removed meanwhile; under the table's
// writer lock, so that a disconnect either sees the entry open or the connect sees it gone.
bool PublishOpen(DeviceEntry& entry, FT_HANDLE handle);

// Removes every entry, handing each to `take` with the table's reference, for the unload hook.
void TakeAllEntries(void (*take)(EntryRef entry));
// Frees what the table holds once nothing is connected; entries still in use by a call in
// flight are freed when that call lets them go.
void ReleaseTableMemory();

}  // namespace korvelan380

#endif  // KORVELAN380_DEVICE_DEVICE_TABLE_H
