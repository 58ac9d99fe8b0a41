// Connection: KORVELAN380_Connect and KORVELAN380_DisConnect.
#include "device/connection.h"
#include "base/status.h"
#include "device/device_table.h"

using namespace korvelan380;

extern "C" KORVELAN380_API StatusCode KORVELAN380_Connect(const char* deviceId) {
  return ConnectModule(deviceId);
}

extern "C" KORVELAN380_API StatusCode KORVELAN380_DisConnect(const char* deviceId) {
  // Presence only: a closed entry is disconnected too. Out of the table first, so that no new
  // call finds it, then closed once the calls in flight are done with it.
  std::shared_ptr<DeviceEntry> entry = RemoveEntry(deviceId);
  if (!entry) return kNotConnected;
  CloseEntry(*entry);
  return kOk;
}
