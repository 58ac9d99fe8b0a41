// One connected module: its driver handle, its calibration copies and the lock that keeps its
// transfers apart.
#ifndef KORVELAN380_DEVICE_DEVICE_ENTRY_H
#define KORVELAN380_DEVICE_DEVICE_ENTRY_H

#include <atomic>
#include <cstdint>

#include "calibration/record.h"
#include "link/driver.h"
#include "platform/platform.h"

namespace korvelan380 {

struct DeviceEntry {
  // Readable from any thread: a reply poll on one thread stops when another closes the module.
  std::atomic<bool> isOpen{false};
  FT_HANDLE ftHandle = nullptr;
  const DriverApi* driver = nullptr;
  CalibrationCopies calibration;
  platform::ModuleMutex* ioMutex = nullptr;

  // Bookkeeping of the table: the packed deviceId, the references held by the table and by the
  // calls in flight, and whether the table still holds the entry.
  std::atomic<uint64_t> key{0};
  std::atomic<uint32_t> refs{0};
  std::atomic<bool> inTable{false};
  DeviceEntry* nextFree = nullptr;
};

}  // namespace korvelan380

#endif  // KORVELAN380_DEVICE_DEVICE_ENTRY_H
