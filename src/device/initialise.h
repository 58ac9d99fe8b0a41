#ifndef KORVELAN380_DEVICE_INITIALISE_H
#define KORVELAN380_DEVICE_INITIALISE_H

#include "base/status.h"
#include "device/device_entry.h"

namespace korvelan380 {

// The last step of a connect, with the module held: when the module's initialised flag is
// clear, writes both channels' calibrated zero codes into their output value and preset code
// registers, then sets the flag. 0 done or not needed, 5 a transaction failed.
StatusCode InitialiseOutputs(DeviceEntry& entry);

}  // namespace korvelan380

#endif  // KORVELAN380_DEVICE_INITIALISE_H
