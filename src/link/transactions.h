// Register transactions and queue steps on one module. All return true on success; the exports
// turn false into status 5.
#ifndef KORVELAN380_LINK_TRANSACTIONS_H
#define KORVELAN380_LINK_TRANSACTIONS_H

#include <cstddef>
#include <cstdint>

#include "device/device_entry.h"

namespace korvelan380 {

inline constexpr uint32_t kModuleLockTimeoutMs = 5000;

inline constexpr int kReplyPolls = 1000;
inline constexpr uint32_t kReplyPollIntervalMs = 10;
inline constexpr uint32_t kDrainTimeoutMs = 5000;

// Holds the module's I/O lock for a scope. The lock is recursive: an export takes it for its
// whole sequence and each transaction inside takes it again. When the wait runs out, the lock
// is not held and nothing may be sent. Holding it also keeps the entry from being recycled.
class ModuleLock {
 public:
  explicit ModuleLock(DeviceEntry& entry, uint32_t timeoutMs = kModuleLockTimeoutMs);
  ModuleLock(ModuleLock&& other) noexcept : entry_(other.entry_) { other.entry_ = nullptr; }
  ModuleLock& operator=(ModuleLock&&) = delete;
  ModuleLock(const ModuleLock&) = delete;
  ModuleLock& operator=(const ModuleLock&) = delete;
  ~ModuleLock();
  explicit operator bool() const { return entry_ != nullptr; }

 private:
  DeviceEntry* entry_;  // null when not held
};

// One FT_Write of a complete frame, while the entry is open.
bool SendFrame(DeviceEntry& entry, const uint8_t* frame, size_t length);

// Registers first..last receive values[0..n-1]; a run of 1 to 255 registers.
bool WriteRegisters(DeviceEntry& entry, const uint8_t* values, uint8_t first, uint8_t last);

// out[0..n-1] receive registers first..last; a run of 1 to 256 registers. Bytes already waiting
// in the receive queue are taken as the start of the reply. A read that fails after its frame
// went out discards what is left in the receive queue.
bool ReadRegisters(DeviceEntry& entry, uint8_t* out, uint8_t first, uint8_t last);

// Waits, for about 5 s at most, until the driver's transmit queue for the module is empty.
bool DrainTransmit(DeviceEntry& entry);

// Discards whatever the driver has received from the module and not yet read.
bool FlushReceive(DeviceEntry& entry);

}  // namespace korvelan380

#endif  // KORVELAN380_LINK_TRANSACTIONS_H
