// KORVELAN380_Connect and KORVELAN380_DisConnect.
#include <cstring>
#include <optional>

#include "api/export_call.h"
#include "calibration/eeprom.h"
#include "device/connection.h"
#include "device/initialise.h"
#include "link/driver.h"

namespace korvelan380 {

void BuildSerialNumber(const char* deviceId, char (&serialNumber)[kSerialNumberSize]) {
  std::memcpy(serialNumber, kSerialPrefix, sizeof kSerialPrefix);  // with its NUL
  const size_t length = strnlen(deviceId, kMaxDeviceIdLength);
  std::memcpy(serialNumber + sizeof kSerialPrefix - 1, deviceId, length);
  serialNumber[sizeof kSerialPrefix - 1 + length] = '\0';
}

void CloseEntry(DeviceEntry& entry) {
  if (!entry.isOpen.exchange(false, std::memory_order_acq_rel)) return;
  ModuleLock lock(entry);
  entry.driver->close(entry.ftHandle);  // the result is not consulted
}

}  // namespace korvelan380

using namespace korvelan380;

extern "C" KORVELAN380_API StatusCode KORVELAN380_Connect(const char* deviceId) {
  // 1. An identifier that cannot be a serial-number tail is refused before anything happens.
  uint64_t key;
  if (!PackDeviceId(deviceId, key)) return kInvalidArgument;
  // 2. A deviceId already in the table, open or not, is left as it is.
  if (FindEntry(key) != nullptr) return kAlreadyConnected;
  // 3. The driver is bound on first need; without it nothing can be opened.
  const DriverApi* driver = BoundDriver();
  if (driver == nullptr) return kOpenFailed;
  // 4. Enter the module, still closed (checked again under the table's lock). The new entry
  // comes held by this thread, which keeps the module until the connect is done.
  DeviceEntry* entry = nullptr;
  std::optional<ModuleLock> hold;
  switch (InsertEntry(key, driver, entry, hold)) {
    case InsertResult::Present:
      return kAlreadyConnected;
    case InsertResult::NoResources:
      return kOpenFailed;
    case InsertResult::Inserted:
      break;
  }
  // 5. Open it by serial number; on failure it leaves no trace.
  char serialNumber[kSerialNumberSize];
  BuildSerialNumber(deviceId, serialNumber);
  FT_HANDLE handle = nullptr;
  if (driver->openEx(serialNumber, FT_OPEN_BY_SERIAL_NUMBER, &handle) != FT_OK) {
    hold.reset();
    if (RemoveEntry(*entry, key)) RecycleEntry(*entry);
    return kOpenFailed;
  }
  // 6. Discard both driver queues (the result is not consulted) and mark the entry open,
  // unless a disconnect removed it meanwhile.
  driver->purge(handle, FT_PURGE_RX | FT_PURGE_TX);
  if (!PublishOpen(*entry, handle)) {
    driver->close(handle);
    return kOpenFailed;
  }
  // 7. The calibration record (its result is not consulted), then the outputs' first state.
  LoadCalibration(*entry);
  return InitialiseOutputs(*entry);
}

extern "C" KORVELAN380_API StatusCode KORVELAN380_DisConnect(const char* deviceId) {
  // 1. Presence only: a closed entry is disconnected too.
  uint64_t key;
  if (!PackDeviceId(deviceId, key)) return kNotConnected;
  DeviceEntry* entry = FindEntry(key);
  if (entry == nullptr) return kNotConnected;
  // 2. Out of the table first (another thread may have got there first), then closed, and the
  // entry kept for a later connect.
  if (!RemoveEntry(*entry, key)) return kNotConnected;
  CloseEntry(*entry);
  RecycleEntry(*entry);
  return kOk;
}
