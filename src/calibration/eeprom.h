// The calibration record in the EEPROM user area, reached with the driver's user-area calls on
// an open handle.
#ifndef KORVELAN380_CALIBRATION_EEPROM_H
#define KORVELAN380_CALIBRATION_EEPROM_H

#include "calibration/record.h"
#include "platform/driver_api.h"

namespace korvelan380 {

// Reads the record into both copies; a user area without one gets DefaultCalibration written
// into it. True when a record was loaded or the default stored.
bool LoadCalibration(const DriverApi& driver, FT_HANDLE handle, CalibrationCopies& copies);

// Writes the record into the first 88 bytes of the user area; false when the size query fails,
// the user area is smaller than 88 bytes or the write fails.
bool StoreCalibration(const DriverApi& driver, FT_HANDLE handle, const CalibrationRecord& record);

}  // namespace korvelan380

#endif  // KORVELAN380_CALIBRATION_EEPROM_H
