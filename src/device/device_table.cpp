#include "device/device_table.h"

#include <mutex>
#include <new>
#include <type_traits>

namespace korvelan380 {
namespace {

struct Slot {
  std::atomic<uint64_t> key{0};
  std::atomic<DeviceEntry*> entry{nullptr};
};

struct SlotArray {
  size_t capacity = 0;  // a power of two
  Slot* slots = nullptr;
  SlotArray* retired = nullptr;  // smaller arrays a reader may still be probing; freed at unload
};

// A removed slot; probing goes on past it.
DeviceEntry* const kTombstone = reinterpret_cast<DeviceEntry*>(uintptr_t{1});
constexpr size_t kInitialCapacity = 16;

// All of it trivially destructible, so nothing is torn down behind the unload hook's back. Where
// std::mutex has a destructor (MinGW's winpthreads), the hook runs from the DLL's entry point,
// which the C runtime calls before it runs the static destructors.
struct TableState {
  std::atomic<uint64_t> version{0};  // odd while the slots are being changed
  std::atomic<SlotArray*> slots{nullptr};
  std::mutex writer;  // connect, disconnect and unload change the table one at a time
  size_t live = 0;    // entries in the slots, under `writer`
  size_t used = 0;    // entries and tombstones, under `writer`
  std::mutex pool;    // the free list and `unloaded`
  DeviceEntry* freeList = nullptr;
  bool unloaded = false;
};
static_assert(std::is_trivially_destructible_v<TableState> ||
              !std::is_trivially_destructible_v<std::mutex>);
TableState table;

size_t Hash(uint64_t key) {
  key ^= key >> 33;
  key *= 0xff51afd7ed558ccdULL;
  key ^= key >> 33;
  return static_cast<size_t>(key);
}

// The entry under key, or null; consistent with some moment during the call.
DeviceEntry* Probe(uint64_t key) {
  for (;;) {
    const uint64_t before = table.version.load(std::memory_order_acquire);
    if (before & 1) continue;  // a writer is changing the slots for a few instructions
    DeviceEntry* found = nullptr;
    if (SlotArray* array = table.slots.load(std::memory_order_acquire)) {
      const size_t mask = array->capacity - 1;
      for (size_t i = Hash(key) & mask, n = 0; n < array->capacity; ++n, i = (i + 1) & mask) {
        DeviceEntry* entry = array->slots[i].entry.load(std::memory_order_acquire);
        if (entry == nullptr) break;
        if (entry != kTombstone && array->slots[i].key.load(std::memory_order_acquire) == key) {
          found = entry;
          break;
        }
      }
    }
    if (table.version.load(std::memory_order_relaxed) == before) return found;
  }
}

void DestroyEntry(DeviceEntry* entry) {
  platform::DestroyModuleMutex(entry->ioMutex);
  delete entry;
}

// An entry for a new connection, held by the calling thread. A recycled one is taken only when
// its lock is free at once: a thread that still holds it (a call stuck in the driver) keeps it.
DeviceEntry* AllocateEntry(std::optional<ModuleLock>& hold) {
  {
    std::lock_guard<std::mutex> lock(table.pool);
    for (DeviceEntry** link = &table.freeList; *link != nullptr; link = &(*link)->nextFree) {
      DeviceEntry* entry = *link;
      hold.emplace(*entry, 0);
      if (!*hold) continue;
      *link = entry->nextFree;
      entry->nextFree = nullptr;
      return entry;
    }
  }
  auto* entry = new (std::nothrow) DeviceEntry;
  if (entry == nullptr) return nullptr;
  entry->ioMutex = platform::CreateModuleMutex();
  if (entry->ioMutex != nullptr) hold.emplace(*entry, 0);
  if (entry->ioMutex == nullptr || !*hold) {
    hold.reset();
    DestroyEntry(entry);
    return nullptr;
  }
  return entry;
}

// The writer's side of the sequence counter: readers retry while a change is under way.
class SlotChange {
 public:
  SlotChange() {
    // The slot stores that follow are release stores, which keeps this odd version ahead of
    // them; readers load the slots with acquire, which keeps their second look behind.
    const uint64_t version = table.version.load(std::memory_order_relaxed);
    table.version.store(version + 1, std::memory_order_relaxed);
  }
  ~SlotChange() {
    table.version.store(table.version.load(std::memory_order_relaxed) + 1,
                        std::memory_order_release);
  }
};

// The slot index holding key, or capacity when absent; `writer` held.
size_t FindSlot(const SlotArray* array, uint64_t key) {
  if (array == nullptr) return 0;
  const size_t mask = array->capacity - 1;
  for (size_t i = Hash(key) & mask, n = 0; n < array->capacity; ++n, i = (i + 1) & mask) {
    DeviceEntry* entry = array->slots[i].entry.load(std::memory_order_relaxed);
    if (entry == nullptr) break;
    if (entry != kTombstone && array->slots[i].key.load(std::memory_order_relaxed) == key) return i;
  }
  return array->capacity;
}

void PlaceInto(SlotArray* array, uint64_t key, DeviceEntry* entry) {
  const size_t mask = array->capacity - 1;
  size_t i = Hash(key) & mask;
  for (;;) {
    DeviceEntry* current = array->slots[i].entry.load(std::memory_order_relaxed);
    if (current == nullptr || current == kTombstone) break;
    i = (i + 1) & mask;
  }
  array->slots[i].key.store(key, std::memory_order_release);
  array->slots[i].entry.store(entry, std::memory_order_release);
}

SlotArray* NewArray(size_t capacity) {
  auto* array = new (std::nothrow) SlotArray;
  if (array == nullptr) return nullptr;
  array->slots = new (std::nothrow) Slot[capacity];
  if (array->slots == nullptr) {
    delete array;
    return nullptr;
  }
  array->capacity = capacity;
  return array;
}

void FreeArrays(SlotArray* array) {
  while (array != nullptr) {
    SlotArray* retired = array->retired;
    delete[] array->slots;
    delete array;
    array = retired;
  }
}

// Makes room for one more entry, keeping the slots at most half full; `writer` held. Growing
// moves to a new array (the old one is kept for readers still probing it); clearing out
// tombstones rebuilds in place while readers wait.
bool MakeRoom() {
  SlotArray* current = table.slots.load(std::memory_order_relaxed);
  if (current != nullptr && (table.used + 1) * 2 <= current->capacity) return true;
  size_t capacity = current ? current->capacity : kInitialCapacity;
  while ((table.live + 1) * 2 > capacity) capacity *= 2;

  struct Live {
    uint64_t key;
    DeviceEntry* entry;
  };
  Live* live = new (std::nothrow) Live[table.live + 1];
  if (live == nullptr) return false;
  size_t count = 0;
  for (size_t i = 0; current != nullptr && i < current->capacity; ++i) {
    DeviceEntry* entry = current->slots[i].entry.load(std::memory_order_relaxed);
    if (entry == nullptr || entry == kTombstone) continue;
    live[count++] = {current->slots[i].key.load(std::memory_order_relaxed), entry};
  }

  bool ok = true;
  if (current != nullptr && capacity == current->capacity) {
    SlotChange change;
    for (size_t i = 0; i < capacity; ++i) {
      current->slots[i].entry.store(nullptr, std::memory_order_release);
    }
    for (size_t i = 0; i < count; ++i) PlaceInto(current, live[i].key, live[i].entry);
  } else if (SlotArray* grown = NewArray(capacity)) {
    for (size_t i = 0; i < count; ++i) PlaceInto(grown, live[i].key, live[i].entry);
    grown->retired = current;
    SlotChange change;
    table.slots.store(grown, std::memory_order_release);
  } else {
    ok = false;
  }
  if (ok) table.used = count;
  delete[] live;
  return ok;
}

// True when no thread holds the entry's lock, so that its memory may go.
bool Unheld(DeviceEntry& entry) {
  ModuleLock held(entry, 0);
  return static_cast<bool>(held);
}

}  // namespace

bool PackDeviceId(const char* deviceId, uint64_t& key) {
  if (deviceId == nullptr) return false;
  // Byte by byte: at most nine bytes are read, however long the string is.
  uint64_t packed = 0;
  for (size_t i = 0; i <= kMaxDeviceIdLength; ++i) {
    const unsigned char c = static_cast<unsigned char>(deviceId[i]);
    if (c == 0) {
      key = packed;
      return true;
    }
    if (i == kMaxDeviceIdLength) break;
    packed |= uint64_t{c} << (8 * i);  // the table's own key layout, the same on every host
  }
  return false;
}

DeviceEntry* FindEntry(uint64_t key) {
  return Probe(key);
}

DeviceEntry* FindEntry(const char* deviceId) {
  uint64_t key;
  return PackDeviceId(deviceId, key) ? Probe(key) : nullptr;
}

PinnedEntry PinEntry(const char* deviceId, bool requireOpen) {
  PinnedEntry pinned;
  uint64_t key;
  if (!PackDeviceId(deviceId, key)) return pinned;
  for (DeviceEntry* entry = Probe(key); entry != nullptr; entry = Probe(key)) {
    ModuleLock lock(*entry);
    if (!lock) {
      // Busy for the whole wait: found, but nothing may be sent.
      if (!requireOpen || entry->isOpen.load(std::memory_order_acquire)) pinned.entry = entry;
      return pinned;
    }
    if (!BelongsTo(*entry, key)) continue;  // removed or recycled meanwhile: look again
    if (requireOpen && !entry->isOpen.load(std::memory_order_acquire)) return pinned;
    pinned.entry = entry;
    pinned.lock.emplace(std::move(lock));
    return pinned;
  }
  return pinned;
}

InsertResult InsertEntry(uint64_t key, const DriverApi* driver, DeviceEntry*& inserted,
                         std::optional<ModuleLock>& hold) {
  std::lock_guard<std::mutex> lock(table.writer);
  SlotArray* current = table.slots.load(std::memory_order_relaxed);
  if (current != nullptr && FindSlot(current, key) != current->capacity) {
    return InsertResult::Present;
  }
  if (!MakeRoom()) return InsertResult::NoResources;
  DeviceEntry* entry = AllocateEntry(hold);
  if (entry == nullptr) return InsertResult::NoResources;

  entry->isOpen.store(false, std::memory_order_relaxed);
  entry->ftHandle = nullptr;
  entry->driver = driver;
  entry->calibration.Reset();
  entry->key.store(key, std::memory_order_relaxed);
  entry->inTable.store(true, std::memory_order_release);
  {
    SlotChange change;
    PlaceInto(table.slots.load(std::memory_order_relaxed), key, entry);
  }
  ++table.live;
  ++table.used;
  inserted = entry;
  return InsertResult::Inserted;
}

bool RemoveEntry(DeviceEntry& entry, uint64_t key) {
  {
    std::lock_guard<std::mutex> lock(table.writer);
    if (!BelongsTo(entry, key)) return false;
    SlotArray* current = table.slots.load(std::memory_order_relaxed);
    const size_t slot = FindSlot(current, entry.key.load(std::memory_order_relaxed));
    {
      SlotChange change;
      current->slots[slot].entry.store(kTombstone, std::memory_order_release);
    }
    entry.inTable.store(false, std::memory_order_release);
    --table.live;
  }
  return true;
}

void RecycleEntry(DeviceEntry& entry) {
  std::lock_guard<std::mutex> lock(table.pool);
  if (!table.unloaded) {
    entry.nextFree = table.freeList;
    table.freeList = &entry;
    return;
  }
  // After the unload no connect reuses it: it goes, unless a call still holds it.
  if (Unheld(entry)) DestroyEntry(&entry);
}

bool PublishOpen(DeviceEntry& entry, FT_HANDLE handle) {
  std::lock_guard<std::mutex> lock(table.writer);
  if (!entry.inTable.load(std::memory_order_relaxed)) return false;
  entry.ftHandle = handle;
  entry.isOpen.store(true, std::memory_order_release);
  return true;
}

void TakeAllEntries(void (*take)(DeviceEntry& entry)) {
  std::lock_guard<std::mutex> lock(table.writer);
  SlotArray* current = table.slots.load(std::memory_order_relaxed);
  for (size_t i = 0; current != nullptr && i < current->capacity; ++i) {
    DeviceEntry* entry = current->slots[i].entry.load(std::memory_order_relaxed);
    if (entry == nullptr || entry == kTombstone) continue;
    {
      SlotChange change;
      current->slots[i].entry.store(kTombstone, std::memory_order_release);
    }
    entry->inTable.store(false, std::memory_order_release);
    --table.live;
    take(*entry);
  }
}

void ReleaseTableMemory() {
  {
    std::lock_guard<std::mutex> lock(table.writer);
    SlotArray* current = table.slots.load(std::memory_order_relaxed);
    {
      SlotChange change;
      table.slots.store(nullptr, std::memory_order_release);
    }
    FreeArrays(current);
    table.live = 0;
    table.used = 0;
  }
  std::lock_guard<std::mutex> lock(table.pool);
  table.unloaded = true;
  while (DeviceEntry* entry = table.freeList) {
    table.freeList = entry->nextFree;
    if (Unheld(*entry)) DestroyEntry(entry);
  }
}

}  // namespace korvelan380
