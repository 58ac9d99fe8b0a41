// The driver is FTD2XX.dll, bound by the loader when the library itself is loaded: its functions
// are imported by the ordinals FTD2XX.dll exports them under (an import library made from the
// function list), so nothing is looked up by name at run time.
#include "platform/driver_api.h"

extern "C" {
// x64 has a single calling convention, so the driver's WINAPI needs no spelling here.
#define D2XX_FUNCTION(name, ordinal, params, args) __declspec(dllimport) FT_STATUS name params;
#include "d2xx_functions.inc"
#undef D2XX_FUNCTION
}

namespace korvelan380::platform {

bool LoadDriverFunctions(DriverApi& api) {
  // Already bound: without FTD2XX.dll the library does not load at all.
#define D2XX_FUNCTION(name, ordinal, params, args) api.name = name;
#include "d2xx_functions.inc"
#undef D2XX_FUNCTION
  return true;
}

}  // namespace korvelan380::platform
