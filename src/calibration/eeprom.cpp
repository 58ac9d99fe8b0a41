#include "calibration/eeprom.h"

namespace korvelan380 {
namespace {

bool UserAreaHoldsRecord(DeviceEntry& entry) {
  DWORD size = 0;
  return entry.driver->eeUaSize(entry.ftHandle, &size) == FT_OK && size >= kRecordSize;
}

}  // namespace

bool LoadCalibration(DeviceEntry& entry) {
  CalibrationRecord buffer = DefaultCalibration();
  if (!entry.isOpen.load(std::memory_order_acquire)) return false;
  if (!UserAreaHoldsRecord(entry)) return false;
  DWORD bytesRead = 0;  // not examined: bytes not delivered keep their default values
  if (entry.driver->eeUaRead(entry.ftHandle, reinterpret_cast<unsigned char*>(&buffer), kRecordSize,
                             &bytesRead) != FT_OK) {
    return false;
  }
  if (buffer.marker == kRecordMarker) {
    entry.calibration.Load(buffer);
    return true;
  }
  // A blank user area gets the default record, so that later connects find a valid one.
  return StoreCalibration(entry, DefaultCalibration());
}

bool StoreCalibration(DeviceEntry& entry, const CalibrationRecord& record) {
  if (!entry.isOpen.load(std::memory_order_acquire)) return false;
  if (!UserAreaHoldsRecord(entry)) return false;
  CalibrationRecord bytes = record;  // the driver takes a non-const buffer
  return entry.driver->eeUaWrite(entry.ftHandle, reinterpret_cast<unsigned char*>(&bytes),
                                 kRecordSize) == FT_OK;
}

}  // namespace korvelan380
