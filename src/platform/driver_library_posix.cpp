#include <dlfcn.h>

#include "platform/driver_api.h"

namespace korvelan380::platform {
namespace {

template <typename Function>
bool Bind(void* library, const char* name, Function& slot) {
  slot = reinterpret_cast<Function>(dlsym(library, name));
  return slot != nullptr;
}

}  // namespace

bool LoadDriverFunctions(DriverApi& api) {
  // The bare name, so that the loader's search (and a library already loaded under that
  // soname) decides which driver serves: the vendor's, or anything offering the same functions.
  void* library = dlopen("libftd2xx.so", RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) return false;
  const bool complete =
      Bind(library, "FT_OpenEx", api.openEx) && Bind(library, "FT_Close", api.close) &&
      Bind(library, "FT_Read", api.read) && Bind(library, "FT_Write", api.write) &&
      Bind(library, "FT_Purge", api.purge) &&
      Bind(library, "FT_GetQueueStatus", api.getQueueStatus) &&
      Bind(library, "FT_GetStatus", api.getStatus) && Bind(library, "FT_EE_UASize", api.eeUaSize) &&
      Bind(library, "FT_EE_UARead", api.eeUaRead) && Bind(library, "FT_EE_UAWrite", api.eeUaWrite);
  if (!complete) {
    dlclose(library);
    api = DriverApi{};
    return false;
  }
  // Kept loaded for the life of the process: modules may be open until the very end.
  return true;
}

}  // namespace korvelan380::platform
