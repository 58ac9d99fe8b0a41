#include "link/driver.h"

#include <mutex>

namespace korvelan380 {

const DriverApi* BoundDriver() {
  static std::mutex bindMutex;
  static DriverApi api;
  static bool bound = false;
  std::lock_guard<std::mutex> lock(bindMutex);
  if (!bound) bound = platform::LoadDriverFunctions(api);
  return bound ? &api : nullptr;
}

}  // namespace korvelan380
