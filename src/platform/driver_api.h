// The driver seam: the ten D2XX functions the library uses, as one table.
#ifndef KORVELAN380_PLATFORM_DRIVER_API_H
#define KORVELAN380_PLATFORM_DRIVER_API_H

#include "platform/d2xx.h"

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

namespace platform {

// Fills `api` with the ten driver functions; false when the driver or a function is missing.
bool LoadDriverFunctions(DriverApi& api);

}  // namespace platform
}  // namespace korvelan380

#endif  // KORVELAN380_PLATFORM_DRIVER_API_H
