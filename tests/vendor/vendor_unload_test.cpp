// Unloading the library with a module connected closes it on FTDI's driver too, and on the open
// backend with KORVELAN380_DRIVER=open (driver_under_test.h): the chip's node is released, and
// the library loaded again connects it afresh.
#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "driver_under_test.h"
#include "korvelan380.h"
#include "korvelan380_ftdi_chips.h"

namespace {

using ConnectFn = StatusCode (*)(const char*);

bool ConnectThroughFreshLoad(void*& library) {
  library = dlopen(KORVELAN380_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) return false;
  auto connect = reinterpret_cast<ConnectFn>(dlsym(library, "KORVELAN380_Connect"));
  return connect != nullptr && connect("7") == KORVELAN380_OK;
}

bool ClosedSoon() {
  for (int i = 0; i < 200; ++i) {
    if (!kft_is_open("7")) return true;
    usleep(5000);
  }
  return false;
}

}  // namespace

int main() {
  const std::string missing = korvelan380::test::DriverMissing();
  if (!missing.empty()) {
    std::printf("skipped: %s\n", missing.c_str());
    return 77;
  }
  kft_attach("7");
  for (int round = 1; round <= 2; ++round) {
    void* library = nullptr;
    if (!ConnectThroughFreshLoad(library) || !kft_is_open("7")) {
      std::fprintf(stderr, "round %d: connect failed\n", round);
      return 1;
    }
    dlclose(library);
    if (!ClosedSoon()) {
      std::fprintf(stderr, "round %d: the unload left the module open\n", round);
      return 1;
    }
  }
  return 0;
}
