#include "device/connection.h"
#include "device/device_table.h"

namespace korvelan380 {

void UnloadHook() {
  TakeAllEntries([](EntryRef entry) { CloseEntry(*entry); });
  ReleaseTableMemory();
}

}  // namespace korvelan380
