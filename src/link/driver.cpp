#include "link/driver.h"

#include <atomic>
#include <mutex>

#include "platform/platform.h"

namespace korvelan380 {
namespace {

DriverApi boundApi;
std::atomic<const DriverApi*> published{nullptr};
std::mutex bindMutex;

}  // namespace

const DriverApi* BoundDriver() {
  if (const DriverApi* api = published.load(std::memory_order_acquire)) return api;
  std::lock_guard<std::mutex> lock(bindMutex);
  if (const DriverApi* api = published.load(std::memory_order_acquire)) return api;
  DriverApi api;
  if (!platform::LoadDriverFunctions(api)) return nullptr;
  boundApi = api;
  published.store(&boundApi, std::memory_order_release);
  return &boundApi;
}

}  // namespace korvelan380
