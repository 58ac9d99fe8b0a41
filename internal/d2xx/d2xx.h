// The FTDI D2XX driver as this project uses it: its types and status codes, and the functions of
// d2xx_functions.inc as pointer types, one table and one numbering. Declared here so that no
// driver headers are needed to build. FT_STATUS and DWORD are 32-bit unsigned on every platform
// the driver supports, UCHAR 8-bit; a handle is an opaque pointer.
#ifndef KORVELAN380_D2XX_H
#define KORVELAN380_D2XX_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef uint32_t FT_STATUS;
typedef uint32_t DWORD;
typedef uint8_t UCHAR;
typedef void* FT_HANDLE;

enum {
  FT_OK = 0,
  FT_INVALID_HANDLE = 1,
  FT_DEVICE_NOT_FOUND = 2,
  FT_DEVICE_NOT_OPENED = 3,
  FT_IO_ERROR = 4,
  FT_INSUFFICIENT_RESOURCES = 5,
  FT_INVALID_PARAMETER = 6,
  FT_EEPROM_READ_FAILED = 11,
  FT_EEPROM_WRITE_FAILED = 12,
  FT_NOT_SUPPORTED = 17,
  FT_OTHER_ERROR = 18
};

enum { FT_OPEN_BY_SERIAL_NUMBER = 1 };
enum { FT_PURGE_RX = 1, FT_PURGE_TX = 2 };

// FT_OpenEx_t and so on: a pointer to each function.
#define D2XX_FUNCTION(name, ordinal, params, args) typedef FT_STATUS(*name##_t) params;
#include "d2xx_functions.inc"
#undef D2XX_FUNCTION

// The functions by number, in the list's order: D2XX_FT_OpenEx is 0.
enum D2xxFunction {
#define D2XX_FUNCTION(name, ordinal, params, args) D2XX_##name,
#include "d2xx_functions.inc"
#undef D2XX_FUNCTION
  D2XX_FUNCTION_COUNT
};

// The functions before this one are required: a driver lacking one of them is not used. From it
// on they are optional: bound when the driver has them, null otherwise. It is the count of the
// required ones, which the list puts first.
enum {
  D2XX_FIRST_OPTIONAL = 0
#define D2XX_FUNCTION(name, ordinal, params, args) +1
#define D2XX_OPTIONAL_FUNCTION(name, ordinal, params, args)
#include "d2xx_functions.inc"
#undef D2XX_OPTIONAL_FUNCTION
#undef D2XX_FUNCTION
};

// A driver bound in one piece: a member for each function, under the function's name.
typedef struct D2xxFunctions {
#define D2XX_FUNCTION(name, ordinal, params, args) name##_t name;
#include "d2xx_functions.inc"
#undef D2XX_FUNCTION
} D2xxFunctions;

#ifdef __cplusplus
}  // extern "C"

#include <cstring>

namespace korvelan380::d2xx {

inline constexpr const char* kFunctionNames[] = {
#define D2XX_FUNCTION(name, ordinal, params, args) #name,
#include "d2xx_functions.inc"
#undef D2XX_FUNCTION
};
inline constexpr int kFunctionCount = D2XX_FUNCTION_COUNT;
inline constexpr int kRequiredCount = D2XX_FIRST_OPTIONAL;
static_assert(sizeof(kFunctionNames) / sizeof(kFunctionNames[0]) == kFunctionCount);
// Whether each function is optional, in the list's order.
inline constexpr bool kOptional[] = {
#define D2XX_FUNCTION(name, ordinal, params, args) false,
#define D2XX_OPTIONAL_FUNCTION(name, ordinal, params, args) true,
#include "d2xx_functions.inc"
#undef D2XX_OPTIONAL_FUNCTION
#undef D2XX_FUNCTION
};

// The required functions come first, so that a count of them tells which are which.
constexpr bool RequiredComeFirst() {
  for (int fn = 0; fn < kFunctionCount; ++fn) {
    if (kOptional[fn] != (fn >= kRequiredCount)) return false;
  }
  return true;
}
static_assert(RequiredComeFirst(), "an optional function listed before a required one");

// "FT_OpenEx" for D2XX_FT_OpenEx; "" for a number out of range.
inline const char* FunctionName(int fn) {
  return fn >= 0 && fn < kFunctionCount ? kFunctionNames[fn] : "";
}

// The number of "FT_OpenEx"; -1 for a name not in the list.
inline int FunctionFromName(const char* name) {
  for (int fn = 0; fn < kFunctionCount; ++fn) {
    if (std::strcmp(kFunctionNames[fn], name) == 0) return fn;
  }
  return -1;
}

// Whether a driver lacking this function is still used.
inline bool IsOptional(int fn) {
  return fn >= kRequiredCount;
}

// Fills `table` with what `lookup(name)` finds for each function (a void* or any function
// pointer). Returns null when every required function was found (an optional one missing stays
// null), or else the first missing required name, with the table cleared: a driver is used
// whole or not at all.
template <typename Lookup>
const char* Bind(D2xxFunctions& table, Lookup&& lookup) {
#define D2XX_FUNCTION(name, ordinal, params, args)         \
  table.name = reinterpret_cast<name##_t>(lookup(#name));  \
  if (table.name == nullptr && !IsOptional(D2XX_##name)) { \
    table = D2xxFunctions{};                               \
    return #name;                                          \
  }
#include "d2xx_functions.inc"
#undef D2XX_FUNCTION
  return nullptr;
}

}  // namespace korvelan380::d2xx

#endif  // __cplusplus

#endif  // KORVELAN380_D2XX_H
