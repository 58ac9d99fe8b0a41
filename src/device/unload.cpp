#include "device/connection.h"
#include "device/device_table.h"

namespace korvelan380 {

void UnloadHook() {
  TakeAllEntries([](DeviceEntry& entry) {
    CloseEntry(entry);
    RecycleEntry(entry);
  });
  ReleaseTableMemory();
}

}  // namespace korvelan380
