// The driver the library talks through, bound once for the process.
#ifndef KORVELAN380_LINK_DRIVER_H
#define KORVELAN380_LINK_DRIVER_H

#include "platform/driver_api.h"

namespace korvelan380 {

// The bound driver, binding it on first need; null when the driver library is missing or lacks
// one of the ten required functions (a later call tries again). Safe from several threads at
// once.
const DriverApi* BoundDriver();

}  // namespace korvelan380

#endif  // KORVELAN380_LINK_DRIVER_H
