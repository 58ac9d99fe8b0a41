// One module as its transfers see it: the driver, the handle it opened, whether the handle may
// still be used, and whether its reads wait in the driver.
#ifndef KORVELAN380_LINK_LINK_H
#define KORVELAN380_LINK_LINK_H

#include <atomic>

#include "platform/driver_api.h"

namespace korvelan380 {

struct Link {
  // Read by a reply poll on one thread while a disconnect on another clears it, so that the
  // poll stops at its next round.
  std::atomic<bool> isOpen{false};
  FT_HANDLE ftHandle = nullptr;
  const DriverApi* driver = nullptr;
  // The driver took the timeouts: FT_Read waits for its bytes (up to kReadTimeoutMs) by itself.
  bool readsWait = false;
};

}  // namespace korvelan380

#endif  // KORVELAN380_LINK_LINK_H
