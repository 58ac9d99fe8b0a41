// The driver seam: the ten D2XX functions as one table, bound once for the process.
#ifndef KORVELAN380_LINK_DRIVER_H
#define KORVELAN380_LINK_DRIVER_H

#include "link/d2xx.h"

namespace korvelan380 {

struct DriverApi {
  FT_OpenEx_t openEx = nullptr;
  FT_Close_t close = nullptr;
  FT_Read_t read = nullptr;
  FT_Write_t write = nullptr;
  FT_Purge_t purge = nullptr;
  FT_GetQueueStatus_t getQueueStatus = nullptr;
  FT_GetStatus_t getStatus = nullptr;
  FT_EE_UASize_t eeUaSize = nullptr;
  FT_EE_UARead_t eeUaRead = nullptr;
  FT_EE_UAWrite_t eeUaWrite = nullptr;
};

// The bound driver, binding it on first need; null when the driver library is missing or lacks
// one of the ten functions (a later call tries again). Safe from several threads at once.
const DriverApi* BoundDriver();

}  // namespace korvelan380

#endif  // KORVELAN380_LINK_DRIVER_H
