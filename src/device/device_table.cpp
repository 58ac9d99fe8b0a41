#include "device/device_table.h"

#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <unordered_map>

namespace korvelan380 {
namespace {

struct Table {
  std::mutex mutex;
  std::unordered_map<std::string, std::shared_ptr<DeviceEntry>> entries;
};

// Made on first use and never destroyed: an export that another thread calls while the process
// exits then finds an empty table (the unload hook empties it) instead of freed memory.
Table& TheTable() {
  alignas(Table) static unsigned char storage[sizeof(Table)];
  static Table* table = new (storage) Table;
  return *table;
}

}  // namespace

bool DeviceIdFits(const char* deviceId) {
  // At most nine bytes are read, however long the string is.
  return deviceId != nullptr && strnlen(deviceId, kMaxDeviceIdLength + 1) <= kMaxDeviceIdLength;
}

std::shared_ptr<DeviceEntry> FindEntry(const char* deviceId) {
  if (!DeviceIdFits(deviceId)) return nullptr;
  Table& table = TheTable();
  std::lock_guard<std::mutex> lock(table.mutex);
  auto found = table.entries.find(deviceId);
  return found == table.entries.end() ? nullptr : found->second;
}

bool InsertEntry(const char* deviceId, std::shared_ptr<DeviceEntry> entry) {
  Table& table = TheTable();
  std::lock_guard<std::mutex> lock(table.mutex);
  return table.entries.try_emplace(deviceId, std::move(entry)).second;
}

std::shared_ptr<DeviceEntry> RemoveEntry(const char* deviceId, const DeviceEntry* only) {
  if (!DeviceIdFits(deviceId)) return nullptr;
  Table& table = TheTable();
  std::lock_guard<std::mutex> lock(table.mutex);
  auto found = table.entries.find(deviceId);
  if (found == table.entries.end() || (only != nullptr && found->second.get() != only)) {
    return nullptr;
  }
  std::shared_ptr<DeviceEntry> entry = std::move(found->second);
  table.entries.erase(found);
  return entry;
}

std::vector<std::shared_ptr<DeviceEntry>> TakeAllEntries() {
  Table& table = TheTable();
  std::vector<std::shared_ptr<DeviceEntry>> taken;
  std::lock_guard<std::mutex> lock(table.mutex);
  for (auto& [id, entry] : table.entries) taken.push_back(std::move(entry));
  // Swapped with an empty map, so that the buckets are freed too.
  std::unordered_map<std::string, std::shared_ptr<DeviceEntry>>().swap(table.entries);
  return taken;
}

}  // namespace korvelan380
