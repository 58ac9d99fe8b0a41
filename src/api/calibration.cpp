// Calibration: KORVELAN380_Calib_Val_Set and KORVELAN380_Calib_Val_Get.
#include <cstring>

#include "api/export_call.h"
#include "calibration/eeprom.h"

using namespace korvelan380;

extern "C" KORVELAN380_API StatusCode KORVELAN380_Calib_Val_Set(const char* deviceId,
                                                                const CalibrationOffsets* offsets,
                                                                const CalibrationGains* gains,
                                                                uint8_t save) {
  // Presence only: the values may be replaced while the module is not open.
  std::shared_ptr<DeviceEntry> entry = FindEntry(deviceId);
  if (!entry) return kNotConnected;
  if (offsets == nullptr || gains == nullptr) return kInvalidArgument;
  CalibrationRecord record = DefaultCalibration();
  std::memcpy(record.gain, gains->gain, sizeof record.gain);
  std::memcpy(record.offset, offsets->offset, sizeof record.offset);
  // The working copy is replaced, stored or not; it is stored only when asked for and
  // different from the record found at connect. A store asked for and not made is reported.
  const bool differsFromLoaded = entry->calibration.ReplaceWorking(record);
  if (save == 0 || !differsFromLoaded) return kOk;
  ModuleLock lock(*entry);
  if (!lock || !entry->link.isOpen.load()) return kTransferFailed;
  return StepStatus(StoreCalibration(*entry->link.driver, entry->link.ftHandle, record));
}

extern "C" KORVELAN380_API StatusCode KORVELAN380_Calib_Val_Get(const char* deviceId,
                                                                CalibrationOffsets* offsets,
                                                                CalibrationGains* gains) {
  std::shared_ptr<DeviceEntry> entry = FindEntry(deviceId);
  if (!entry) return kNotConnected;
  if (offsets == nullptr || gains == nullptr) return kInvalidArgument;
  // The working copy; the EEPROM is not read.
  const CalibrationRecord record = entry->calibration.Working();
  std::memcpy(offsets->offset, record.offset, sizeof record.offset);
  std::memcpy(gains->gain, record.gain, sizeof record.gain);
  return kOk;
}
