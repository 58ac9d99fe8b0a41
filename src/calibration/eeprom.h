// The calibration record in the EEPROM user area, reached with the driver's user-area calls.
#ifndef KORVELAN380_CALIBRATION_EEPROM_H
#define KORVELAN380_CALIBRATION_EEPROM_H

#include "device/device_entry.h"

namespace korvelan380 {

// Reads the record into both copies; a user area without one gets DefaultCalibration written
// into it. True when a record was loaded or the default stored. Called by the connect, which
// holds the module.
bool LoadCalibration(DeviceEntry& entry);

// Writes the record into the first 88 bytes of the user area; false when the entry is closed,
// the size query fails, the user area is smaller than 88 bytes or the write fails.
bool StoreCalibration(DeviceEntry& entry, const CalibrationRecord& record);

}  // namespace korvelan380

#endif  // KORVELAN380_CALIBRATION_EEPROM_H
