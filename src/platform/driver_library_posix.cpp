#include <dlfcn.h>

#include "platform/driver_api.h"

namespace korvelan380::platform {

bool LoadDriverFunctions(DriverApi& api) {
  // The bare name, so that the loader's search (and a library already loaded under that
  // soname) decides which driver serves: the vendor's, or anything offering the same functions.
  void* library = dlopen("libftd2xx.so", RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) return false;
  if (d2xx::Bind(api, [library](const char* name) { return dlsym(library, name); }) != nullptr) {
    dlclose(library);
    return false;
  }
  // Kept loaded for the life of the process: modules may be open until the very end.
  return true;
}

}  // namespace korvelan380::platform
