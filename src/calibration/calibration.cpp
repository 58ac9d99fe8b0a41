// KORVELAN380_Calib_Val_Set and KORVELAN380_Calib_Val_Get.
#include <cstring>

#include "api/export_call.h"
#include "calibration/eeprom.h"

using namespace korvelan380;

extern "C" KORVELAN380_API StatusCode KORVELAN380_Calib_Val_Set(const char* deviceId,
                                                                const CalibrationOffsets* offsets,
                                                                const CalibrationGains* gains,
                                                                uint8_t save) {
  // 1. Presence only: the values may be replaced while the module is not open.
  uint64_t key;
  if (!PackDeviceId(deviceId, key)) return kNotConnected;
  DeviceEntry* entry = FindEntry(key);
  if (entry == nullptr) return kNotConnected;
  if (offsets == nullptr || gains == nullptr) return kInvalidArgument;
  // 2. The record, with the values taken as they are.
  CalibrationRecord record = DefaultCalibration();
  std::memcpy(record.gain, gains->gain, sizeof record.gain);
  std::memcpy(record.offset, offsets->offset, sizeof record.offset);
  // 3. The working copy is replaced, stored or not, provided the entry is still this
  // module's (checked under the copies' lock, which a reconnect takes to reset them).
  bool differsFromLoaded = false;
  while (!entry->calibration.ReplaceWorkingIf(
      record, [&] { return BelongsTo(*entry, key); }, differsFromLoaded)) {
    entry = FindEntry(key);
    if (entry == nullptr) return kNotConnected;
  }
  // 4. Stored only when asked for and different from the record found at connect. A store that
  // was asked for and could not be made is reported.
  if (save == 0 || !differsFromLoaded) return kOk;
  PinnedEntry pinned = PinEntry(deviceId, false);
  if (pinned.entry != entry || !pinned.lock) return kTransferFailed;  // gone, or kept busy
  return StepStatus(StoreCalibration(*entry, record));
}

extern "C" KORVELAN380_API StatusCode KORVELAN380_Calib_Val_Get(const char* deviceId,
                                                                CalibrationOffsets* offsets,
                                                                CalibrationGains* gains) {
  CalibrationRecord record;
  if (!ReadEntry(deviceId, false,
                 [&](const DeviceEntry& entry) { record = entry.calibration.Working(); })) {
    return kNotConnected;
  }
  if (offsets == nullptr || gains == nullptr) return kInvalidArgument;
  // The working copy; the EEPROM is not read.
  std::memcpy(offsets->offset, record.offset, sizeof record.offset);
  std::memcpy(gains->gain, record.gain, sizeof record.gain);
  return kOk;
}
