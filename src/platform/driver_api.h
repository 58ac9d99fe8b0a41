// The driver seam: the D2XX functions the library uses, as one table.
#ifndef KORVELAN380_PLATFORM_DRIVER_API_H
#define KORVELAN380_PLATFORM_DRIVER_API_H

#include "d2xx.h"

namespace korvelan380 {

// A member per driver function, named as the function (driver->FT_Read).
using DriverApi = D2xxFunctions;

namespace platform {

// Fills `api` with the driver's functions; false when the driver or a function is missing.
bool LoadDriverFunctions(DriverApi& api);

}  // namespace platform
}  // namespace korvelan380

#endif  // KORVELAN380_PLATFORM_DRIVER_API_H
