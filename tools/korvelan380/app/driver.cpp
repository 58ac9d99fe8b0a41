// Which driver the library bound, told from the libraries this process has loaded (os/).
#include "app/driver.h"

#include <cstdlib>
#include <filesystem>
#include <vector>

#include "d2xx.h"
#include "os/os.h"

namespace korvelan380::tool {

namespace {

constexpr const char* kShimSymbol = "kcap_forwarded_driver";

// The driver the recording shim forwards to, as the shim loaded it (null: it forwards nowhere);
// any other library is its own driver.
void* Forwarded(void* library) {
  using ForwardedFn = const char* (*)();
  auto forwarded = reinterpret_cast<ForwardedFn>(os::Symbol(library, kShimSymbol));
  if (forwarded == nullptr) return library;
  const char* path = forwarded();
  return *path != '\0' ? os::LoadedLibrary(path) : nullptr;
}

// The open driver is known by its file's name, whatever folder it is in.
bool IsOpenBackend(const std::string& file) {
  const std::string name = os::OpenBackendFile();
  return !name.empty() && std::filesystem::path(file).filename().string().rfind(name, 0) == 0;
}

std::string WhyTaken(DriverKind kind, bool simLoaded) {
  const std::string request = DriverRequest();
  if (request == "vendor" || request == "open") return "KORVELAN380_DRIVER=" + request;
  if (!request.empty()) return "the path KORVELAN380_DRIVER names";
  switch (kind) {
    case DriverKind::kSimulated:
      return simLoaded ? "loaded by --sim"
                       : "loaded as " + os::DriverFile() + " before the library";
    case DriverKind::kOpen:
      return "no usable " + os::DriverFile() + " was found, so the library took its open driver";
    default:
      return os::OpenBackendFile().empty()
                 ? "the " + os::DriverFile() + " the system loads"
                 : "found first: the library tries " + os::DriverFile() + " before its open driver";
  }
}

}  // namespace

DriverKind KindOf(void* library) {
  void* driver = Forwarded(library);
  if (driver == nullptr) return DriverKind::kNone;
  D2xxFunctions functions{};
  if (d2xx::Bind(functions, [driver](const char* name) { return os::Symbol(driver, name); })) {
    return DriverKind::kNone;
  }
  if (os::Symbol(driver, "ksim_reset") != nullptr) return DriverKind::kSimulated;
  return IsOpenBackend(os::FileOf(os::Symbol(driver, "FT_OpenEx"))) ? DriverKind::kOpen
                                                                    : DriverKind::kVendor;
}

DriverInUse ObserveDriver() {
  const std::vector<std::string> files = os::LoadedDriverFiles();
  if (files.empty()) return {};
  std::string chosen = files.back();
  for (const std::string& file : files) {
    void* library = os::LoadedLibrary(file);
    if (library != nullptr && os::Symbol(library, kShimSymbol) != nullptr) chosen = file;
  }
  DriverInUse in;
  void* library = os::LoadedLibrary(chosen);
  if (library == nullptr) return in;
  in.kind = KindOf(library);
  void* driver = Forwarded(library);
  if (driver != library) in.shim = chosen;
  if (driver != nullptr) in.path = os::FileOf(os::Symbol(driver, "FT_OpenEx"));
  return in;
}

std::string DriverRequest() {
  // On Windows the library imports its driver, and no variable changes which.
  const char* request = std::getenv("KORVELAN380_DRIVER");
  return request != nullptr && !os::OpenBackendFile().empty() ? request : "";
}

std::string DescribeDriver(const DriverInUse& driver, bool simLoaded) {
  std::string what = driver.kind == DriverKind::kSimulated ? "the simulated module"
                     : driver.kind == DriverKind::kOpen    ? "the open driver (libftdi1)"
                     : DriverRequest().empty() || DriverRequest() == "vendor" ? "FTDI's D2XX driver"
                                                                              : "the driver";
  what += " from " + driver.path;
  if (!driver.shim.empty()) what += ", through the recording shim " + driver.shim;
  return what + " (" + WhyTaken(driver.kind, simLoaded) + ")";
}

}  // namespace korvelan380::tool
