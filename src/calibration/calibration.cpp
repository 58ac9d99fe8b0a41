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
  EntryRef entry = FindEntry(deviceId);
  if (!entry) return kNotConnected;
  if (offsets == nullptr || gains == nullptr) return kInvalidArgument;
  // 2. The record, with the values taken as they are.
  CalibrationRecord record = DefaultCalibration();
  std::memcpy(record.gain, gains->gain, sizeof record.gain);
  std::memcpy(record.offset, offsets->offset, sizeof record.offset);
  // 3. The working copy is replaced, stored or not.
  const bool differsFromLoaded = entry->calibration.ReplaceWorking(record);
  // 4. Stored only when asked for and different from the record found at connect. A store that
  // was asked for and could not be made is reported.
  if (save == 0 || !differsFromLoaded) return kOk;
  ModuleLock lock(*entry);
  if (!lock) return kTransferFailed;
  return StepStatus(StoreCalibration(*entry, record));
}

extern "C" KORVELAN380_API StatusCode KORVELAN380_Calib_Val_Get(const char* deviceId,
                                                                CalibrationOffsets* offsets,
                                                                CalibrationGains* gains) {
  EntryRef entry = FindEntry(deviceId);
  if (!entry) return kNotConnected;
  if (offsets == nullptr || gains == nullptr) return kInvalidArgument;
  const CalibrationRecord record = entry->calibration.Working();  // the EEPROM is not read
  std::memcpy(offsets->offset, record.offset, sizeof record.offset);
  std::memcpy(gains->gain, record.gain, sizeof record.gain);
  return kOk;
}
