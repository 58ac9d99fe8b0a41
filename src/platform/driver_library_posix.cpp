#include <dlfcn.h>

#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/driver_api.h"

namespace korvelan380::platform {
namespace {

// FTDI's driver, or anything offering the same functions under its name (the simulated module).
constexpr const char* kVendorDriver = "libftd2xx.so";
// The open backend over libftdi1, installed beside this library.
constexpr const char* kOpenDriver = "libkorvelan380-ftdi.so";

bool LoadDriverLibrary(const char* name, DriverApi& api) {
  void* library = dlopen(name, RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) return false;
  if (d2xx::Bind(api, [library](const char* fn) { return dlsym(library, fn); }) != nullptr) {
    dlclose(library);
    return false;
  }
  // Kept loaded for the life of the process: modules may be open until the very end.
  return true;
}

// The open backend in the folder this library was loaded from, as installed and in the build
// tree; else wherever the loader finds it.
bool LoadOpenDriver(DriverApi& api) {
  Dl_info self{};
  if (dladdr(reinterpret_cast<void*>(&LoadDriverFunctions), &self) != 0 &&
      self.dli_fname != nullptr) {
    const std::string path = self.dli_fname;
    const size_t slash = path.rfind('/');
    if (slash != std::string::npos &&
        LoadDriverLibrary((path.substr(0, slash + 1) + kOpenDriver).c_str(), api)) {
      return true;
    }
  }
  return LoadDriverLibrary(kOpenDriver, api);
}

}  // namespace

// KORVELAN380_DRIVER chooses: "vendor" libftd2xx.so alone, "open" the open backend alone,
// anything else a library's path, loaded as it is. Unset or empty: libftd2xx.so by its bare
// name, so that the loader's search (and a library already loaded under that soname) decides
// which serves, and the open backend when none does.
bool LoadDriverFunctions(DriverApi& api) {
  const char* chosen = std::getenv("KORVELAN380_DRIVER");
  const std::string_view choice = chosen != nullptr ? chosen : "";
  if (choice == "vendor") return LoadDriverLibrary(kVendorDriver, api);
  if (choice == "open") return LoadOpenDriver(api);
  if (!choice.empty()) return LoadDriverLibrary(chosen, api);
  return LoadDriverLibrary(kVendorDriver, api) || LoadOpenDriver(api);
}

}  // namespace korvelan380::platform
