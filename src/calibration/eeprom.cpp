#include "calibration/eeprom.h"

namespace korvelan380 {
namespace {

bool UserAreaHoldsRecord(const DriverApi& driver, FT_HANDLE handle) {
  DWORD size = 0;
  return driver.FT_EE_UASize(handle, &size) == FT_OK && size >= kRecordSize;
}

}  // namespace

bool LoadCalibration(const DriverApi& driver, FT_HANDLE handle, CalibrationCopies& copies) {
  if (!UserAreaHoldsRecord(driver, handle)) return false;
  CalibrationRecord buffer = DefaultCalibration();
  DWORD bytesRead = 0;  // not examined: bytes not delivered keep their default values
  if (driver.FT_EE_UARead(handle, reinterpret_cast<unsigned char*>(&buffer), kRecordSize,
                          &bytesRead) != FT_OK) {
    return false;
  }
  if (buffer.marker == kRecordMarker) {
    copies.Load(buffer);
    return true;
  }
  // A blank user area gets the default record, so that later connects find a valid one.
  return StoreCalibration(driver, handle, DefaultCalibration());
}

bool StoreCalibration(const DriverApi& driver, FT_HANDLE handle, const CalibrationRecord& record) {
  if (!UserAreaHoldsRecord(driver, handle)) return false;
  CalibrationRecord bytes = record;  // the driver takes a non-const buffer
  return driver.FT_EE_UAWrite(handle, reinterpret_cast<unsigned char*>(&bytes), kRecordSize) ==
         FT_OK;
}

}  // namespace korvelan380
