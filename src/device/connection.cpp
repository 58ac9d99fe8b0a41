#include "device/connection.h"

#include <cstring>
#include <memory>
#include <new>
#include <optional>

#include "calibration/eeprom.h"
#include "device/device_table.h"
#include "device/initialise.h"
#include "link/driver.h"
#include "link/settings.h"

namespace korvelan380 {

void BuildSerialNumber(const char* deviceId, char (&serialNumber)[kSerialNumberSize]) {
  std::memcpy(serialNumber, kSerialPrefix, sizeof kSerialPrefix);  // with its NUL
  const size_t length = strnlen(deviceId, kMaxDeviceIdLength);
  std::memcpy(serialNumber + sizeof kSerialPrefix - 1, deviceId, length);
  serialNumber[sizeof kSerialPrefix - 1 + length] = '\0';
}

StatusCode ConnectModule(const char* deviceId) {
  // An identifier that cannot be a serial-number tail is refused before anything happens.
  if (!DeviceIdFits(deviceId)) return kInvalidArgument;
  // A deviceId already in the table, open or not, is left as it is.
  if (FindEntry(deviceId) != nullptr) return kAlreadyConnected;
  const DriverApi* driver = BoundDriver();
  if (driver == nullptr) return kOpenFailed;

  // The new entry is held by this thread before anyone else can see it, and kept until the
  // connect is done: a call on another thread waits for the module's first state.
  std::shared_ptr<DeviceEntry> entry(new (std::nothrow) DeviceEntry);
  if (!entry || entry->ioMutex == nullptr) return kOpenFailed;
  ModuleLock hold(*entry);
  if (!hold) return kOpenFailed;
  entry->link.driver = driver;
  if (!InsertEntry(deviceId, entry)) return kAlreadyConnected;  // another thread was quicker

  char serialNumber[kSerialNumberSize];
  BuildSerialNumber(deviceId, serialNumber);
  FT_HANDLE handle = nullptr;
  if (driver->FT_OpenEx(serialNumber, FT_OPEN_BY_SERIAL_NUMBER, &handle) != FT_OK) {
    RemoveEntry(deviceId, entry.get());  // no trace left
    return kOpenFailed;
  }
  driver->FT_Purge(handle, FT_PURGE_RX | FT_PURGE_TX);  // the result is not consulted
  entry->link.ftHandle = handle;
  SetLinkTimeouts(entry->link);
  entry->link.isOpen.store(true);
  // For programs that cannot call KORVELAN380_LatencySet; the result is not consulted.
  if (const std::optional<uint32_t> latency = LatencyFromEnvironment()) {
    SetLatencyTimer(entry->link, *latency);
  }
  // The calibration record (its result is not consulted), then the outputs' first state.
  LoadCalibration(*driver, handle, entry->calibration);
  return InitialiseOutputs(*entry);
}

void CloseEntry(DeviceEntry& entry) {
  entry.link.isOpen.store(false);
  ModuleLock lock(entry);
  if (!lock || entry.link.ftHandle == nullptr) return;
  entry.link.driver->FT_Close(entry.link.ftHandle);  // the result is not consulted
  entry.link.ftHandle = nullptr;
}

}  // namespace korvelan380
