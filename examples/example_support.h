/* What the C and C++ examples share: the command line ([--sim] [deviceId] ...), the meaning of
 * a status code, and --sim, which runs an example against the simulated module instead of a
 * real one.
 *
 * --sim loads the simulated module's libftd2xx.so before the first connect, globally
 * (RTLD_GLOBAL), so that the library binds it, as it binds any library already loaded under
 * that name, instead of the vendor's driver. The simulator is $KORVELAN380_SIM_LIBRARY, else
 * KORVELAN380_SIM_LIBRARY as the example was compiled (the examples' CMakeLists.txt sets it to
 * the installed or built korvelan380::sim). Without --sim nothing here touches the driver. */
#ifndef KORVELAN380_EXAMPLE_SUPPORT_H
#define KORVELAN380_EXAMPLE_SUPPORT_H

#include <dlfcn.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "korvelan380.h"

#ifndef KORVELAN380_SIM_LIBRARY
#define KORVELAN380_SIM_LIBRARY ""
#endif

/* What the simulated module's digital and EXIO inputs see (its registers 9 and 10). */
#define EXAMPLE_SIM_DIO_INPUTS 0xA5
#define EXAMPLE_SIM_EXIO_INPUTS 0x3C

/* The meaning of a status code, for messages. */
static inline const char* StatusText(StatusCode status) {
  switch (status) {
    case KORVELAN380_OK:
      return "success";
    case KORVELAN380_INVALID_ARGUMENT:
      return "an argument outside its accepted values";
    case KORVELAN380_NOT_CONNECTED:
      return "the module is not connected";
    case KORVELAN380_OPEN_FAILED:
      return "the driver could not open the module";
    case KORVELAN380_TRANSFER_FAILED:
      return "a transfer with the module failed";
    case KORVELAN380_ALREADY_CONNECTED:
      return "the module is already connected";
    default:
      return "an unknown status";
  }
}

/* Prints "call failed: status N (meaning)" to standard error; returns 1 (an exit status). */
static inline int ReportFailure(const char* call, StatusCode status) {
  fprintf(stderr, "%s failed: status %u (%s)\n", call, (unsigned)status, StatusText(status));
  return 1;
}

/* Takes "--sim" out of the arguments; returns 1 when it was there. */
static inline int TakeSimOption(int* argc, char** argv) {
  int found = 0;
  int kept = 1;
  for (int i = 1; i < *argc; ++i) {
    if (strcmp(argv[i], "--sim") == 0) {
      found = 1;
    } else {
      argv[kept++] = argv[i];
    }
  }
  *argc = kept;
  return found;
}

/* Binds a function of the simulator by name (a plain cast from void* is not ISO C). */
static inline int BindSimFunction(void* library, const char* name, void* slot, size_t size) {
  void* symbol = dlsym(library, name);
  if (symbol == NULL) return 0;
  memcpy(slot, &symbol, size);
  return 1;
}

/* Loads the simulator and attaches the module "KORVELAN380<deviceId>" to it, with an ideal
 * calibration in its EEPROM (so that rawValues and codes coincide) and inputs that read
 * EXAMPLE_SIM_DIO_INPUTS and EXAMPLE_SIM_EXIO_INPUTS. Returns 0, or prints why not and
 * returns 1. */
static inline int UseSimulatedModule(const char* deviceId) {
  const char* path = getenv("KORVELAN380_SIM_LIBRARY");
  if (path == NULL || *path == '\0') path = KORVELAN380_SIM_LIBRARY;
  if (*path == '\0') {
    fprintf(stderr, "--sim: name the simulator with KORVELAN380_SIM_LIBRARY=PATH\n");
    return 1;
  }
  void* library = dlopen(path, RTLD_NOW | RTLD_GLOBAL);
  if (library == NULL) {
    fprintf(stderr, "--sim: cannot load the simulated module: %s\n", dlerror());
    return 1;
  }
  int (*attach)(const char*, size_t) = NULL;
  void (*idealCalibration)(const char*) = NULL;
  void (*setRegister)(const char*, uint8_t, uint8_t) = NULL;
  if (!BindSimFunction(library, "ksim_attach", &attach, sizeof attach) ||
      !BindSimFunction(library, "ksim_set_ideal_calibration", &idealCalibration,
                       sizeof idealCalibration) ||
      !BindSimFunction(library, "ksim_set_register", &setRegister, sizeof setRegister)) {
    fprintf(stderr, "--sim: %s is not the simulated module\n", path);
    return 1;
  }
  char serial[32];
  snprintf(serial, sizeof serial, "KORVELAN380%s", deviceId);
  attach(serial, 128); /* an EEPROM user area of 128 bytes */
  idealCalibration(serial);
  setRegister(serial, 9, EXAMPLE_SIM_DIO_INPUTS);
  setRegister(serial, 10, EXAMPLE_SIM_EXIO_INPUTS);
  return 0;
}

/* An output range: index 0 to 6. */
typedef struct ExampleRange {
  double bottom;
  double top;
  const char* name;
} ExampleRange;

static inline ExampleRange RangeOf(uint8_t rangeIndex) {
  static const ExampleRange ranges[7] = {{-10.0, 10.0, "-10..10 V"}, {-5.0, 5.0, "-5..5 V"},
                                         {-2.5, 2.5, "-2.5..2.5 V"}, {-1.25, 1.25, "-1.25..1.25 V"},
                                         {0.0, 10.0, "0..10 V"},     {0.0, 5.0, "0..5 V"},
                                         {0.0, 2.5, "0..2.5 V"}};
  return ranges[rangeIndex < 7 ? rangeIndex : 0];
}

/* The rawValue nearest to volts in a range (14 bits evenly spaced across it: volts = bottom +
 * raw * span / 16384), held to 0..0x3FFF. */
static inline uint16_t RawFromVolts(uint8_t rangeIndex, double volts) {
  const ExampleRange r = RangeOf(rangeIndex);
  const double raw = (volts - r.bottom) * 16384.0 / (r.top - r.bottom) + 0.5;
  if (raw <= 0.0) return 0;
  if (raw >= 16383.0) return 0x3FFF;
  return (uint16_t)raw;
}

static inline double VoltsFromRaw(uint8_t rangeIndex, uint16_t raw) {
  const ExampleRange r = RangeOf(rangeIndex);
  return r.bottom + raw * (r.top - r.bottom) / 16384.0;
}

#endif /* KORVELAN380_EXAMPLE_SUPPORT_H */
