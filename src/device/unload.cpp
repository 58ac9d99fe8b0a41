#include "device/unload.h"

#include "device/connection.h"
#include "device/device_table.h"

namespace korvelan380 {

void UnloadHook() {
  for (const std::shared_ptr<DeviceEntry>& entry : TakeAllEntries()) CloseEntry(*entry);
}

}  // namespace korvelan380
