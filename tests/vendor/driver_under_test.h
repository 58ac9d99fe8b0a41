// The driver the vendor tests run on: FTDI's, or with KORVELAN380_DRIVER=open in the environment
// the open backend (libkorvelan380-ftdi.so over libftdi1), whose libusb, built without udev,
// lists the emulated chips' nodes. The library chooses by the same variable.
#ifndef KORVELAN380_TESTS_VENDOR_DRIVER_UNDER_TEST_H
#define KORVELAN380_TESTS_VENDOR_DRIVER_UNDER_TEST_H

#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <string_view>

namespace korvelan380::test {

inline bool OnOpenBackend() {
  const char* driver = std::getenv("KORVELAN380_DRIVER");
  return driver != nullptr && std::string_view(driver) == "open";
}

inline std::string VendorMissing() {
  return access(KORVELAN380_VENDOR_DRIVER, F_OK) == 0
             ? ""
             : "FTDI's driver was not fetched (" KORVELAN380_VENDOR_DRIVER
               " is missing): npm could not reach its registry";
}

inline std::string OpenBackendMissing() {
  if (access(KORVELAN380_OPEN_DRIVER, F_OK) != 0) {
    return "the open backend was not built: libftdi1 (Debian: libftdi1-dev) is not installed";
  }
  if (access(KORVELAN380_NOUDEV_LIBUSB, F_OK) != 0) {
    return "libusb without udev (" KORVELAN380_NOUDEV_LIBUSB
           ") was not built: scripts/fetch-libusb.sh could not fetch Debian's source";
  }
  // Loaded first, it serves libftdi1 under its soname (libusb-1.0.so.0) in place of Debian's.
  if (dlopen(KORVELAN380_NOUDEV_LIBUSB, RTLD_NOW | RTLD_LOCAL) == nullptr) return dlerror();
  return "";
}

// Why the driver under test cannot be used here; "" when it can.
inline std::string DriverMissing() {
  return OnOpenBackend() ? OpenBackendMissing() : VendorMissing();
}

// The driver under test's file.
inline const char* DriverPath() {
  return OnOpenBackend() ? KORVELAN380_OPEN_DRIVER : KORVELAN380_VENDOR_DRIVER;
}

}  // namespace korvelan380::test

#endif  // KORVELAN380_TESTS_VENDOR_DRIVER_UNDER_TEST_H
