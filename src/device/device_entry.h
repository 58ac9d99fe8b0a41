// One connected module: its link to the driver, its calibration copies and the lock that keeps
// its calls apart.
#ifndef KORVELAN380_DEVICE_DEVICE_ENTRY_H
#define KORVELAN380_DEVICE_DEVICE_ENTRY_H

#include <cstdint>

#include "calibration/record.h"
#include "link/link.h"
#include "platform/platform.h"

namespace korvelan380 {

inline constexpr uint32_t kModuleLockTimeoutMs = 5000;

struct DeviceEntry {
  DeviceEntry() : ioMutex(platform::CreateModuleMutex()) {}
  DeviceEntry(const DeviceEntry&) = delete;
  DeviceEntry& operator=(const DeviceEntry&) = delete;
  // Runs when the last holder lets the entry go. A handle that a disconnect could not close
  // (a call was stuck in the driver) is closed here, once no call can be using it.
  ~DeviceEntry() {
    if (link.ftHandle != nullptr) link.driver->FT_Close(link.ftHandle);
    platform::DestroyModuleMutex(ioMutex);
  }

  Link link;
  CalibrationCopies calibration;
  platform::ModuleMutex* ioMutex;  // null when the system had none to give
};

// Holds a module's I/O lock for a scope; the lock is recursive. When the wait runs out, the
// lock is not held and nothing may be sent.
class ModuleLock {
 public:
  explicit ModuleLock(DeviceEntry& entry, uint32_t timeoutMs = kModuleLockTimeoutMs)
      : mutex_(platform::LockModuleMutex(entry.ioMutex, timeoutMs) == platform::WaitResult::Acquired
                   ? entry.ioMutex
                   : nullptr) {}
  ModuleLock(const ModuleLock&) = delete;
  ModuleLock& operator=(const ModuleLock&) = delete;
  ~ModuleLock() {
    if (mutex_ != nullptr) platform::UnlockModuleMutex(mutex_);
  }
  explicit operator bool() const { return mutex_ != nullptr; }

 private:
  platform::ModuleMutex* mutex_;
};

}  // namespace korvelan380

#endif  // KORVELAN380_DEVICE_DEVICE_ENTRY_H
