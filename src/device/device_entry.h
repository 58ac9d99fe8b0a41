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

// Aligned to a cache line: calls on different modules write nothing on a shared line.
struct alignas(64) DeviceEntry {
  // Readable from any thread: a reply poll on one thread stops when another closes the module.
  std::atomic<bool> isOpen{false};
  FT_HANDLE ftHandle = nullptr;
  const DriverApi* driver = nullptr;
  CalibrationCopies calibration;
  platform::ModuleMutex* ioMutex = nullptr;
  // The thread holding ioMutex and how often it has taken it, so that taking it again costs no
  // atomic operation. Only the holder writes them.
  std::atomic<uint32_t> lockOwner{0};
  uint32_t lockDepth = 0;

  // Bookkeeping of the table: the packed deviceId, and whether the table holds the entry under
  // it. Both change only while the table's writer holds the entry's lock.
  std::atomic<uint64_t> key{0};
  std::atomic<bool> inTable{false};
  DeviceEntry* nextFree = nullptr;
};

}  // namespace korvelan380

#endif  // KORVELAN380_DEVICE_DEVICE_ENTRY_H
