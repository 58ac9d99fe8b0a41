/*
 * korvelan380 - host-side control library for the KORVELAN380 USB analog-output module.
 *
 * Status codes
 *   Every export returns a StatusCode:
 *     0 KORVELAN380_OK                 success
 *     1 KORVELAN380_INVALID_ARGUMENT   an argument outside its accepted values (also a null
 *                                      pointer), or a conversion result outside 0..16383
 *     2 KORVELAN380_NOT_CONNECTED      the deviceId is not connected, or its module is not open
 *     4 KORVELAN380_OPEN_FAILED        the driver could not open the module (Connect only)
 *     5 KORVELAN380_TRANSFER_FAILED    a register transaction, the stream, a queue step or a
 *                                      needed conversion failed
 *     6 KORVELAN380_ALREADY_CONNECTED  the deviceId is already connected (Connect only)
 *   No export returns 3. A refused call (1 or 2) sends nothing and writes no output; a call that
 *   fails part-way (5) leaves what it already wrote to the module and to the outputs as it is.
 *
 * Modules
 *   A module is named by deviceId, the tail of its USB serial number "KORVELAN380<deviceId>":
 *   a NUL-terminated string of at most 8 characters, compared byte for byte ("a" and "A" are two
 *   modules). The library reaches the module through the FTDI D2XX driver (libftd2xx.so on
 *   Linux, FTD2XX.dll on Windows), loaded when the first module is connected.
 *
 * Thread safety
 *   Every export may be called from any thread. Calls on one module run one at a time, each
 *   from its first transfer to its last; calls on different modules never wait for each other.
 *   Disconnecting a module while another thread is inside a call on it is safe: that call ends
 *   with 2 or 5.
 *
 * Lifetime and unloading
 *   KORVELAN380_Connect opens a module and KORVELAN380_DisConnect closes it. Unloading the
 *   library (or ending the process) closes every module still connected.
 *
 * Units
 *   rawValue: the nominal 14-bit output value, 0 to 0x3FFF, evenly spaced across the selected
 *   range. calibratedValue: the 16-bit code held in the module's output registers. rangeIndex:
 *   0 -10..10 V, 1 -5..5 V, 2 -2.5..2.5 V, 3 -1.25..1.25 V, 4 0..10 V, 5 0..5 V, 6 0..2.5 V.
 */
#ifndef KORVELAN380_H
#define KORVELAN380_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#if defined(KORVELAN380_BUILDING)
#define KORVELAN380_API __declspec(dllexport)
#else
#define KORVELAN380_API __declspec(dllimport)
#endif
#elif defined(KORVELAN380_BUILDING)
#define KORVELAN380_API __attribute__((visibility("default")))
#else
#define KORVELAN380_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The 32-bit result of every export: unsigned long in the Windows ABI, uint32_t elsewhere. */
#if defined(_WIN32)
typedef unsigned long StatusCode;
#else
typedef uint32_t StatusCode;
#endif

enum {
  KORVELAN380_OK = 0,
  KORVELAN380_INVALID_ARGUMENT = 1,
  KORVELAN380_NOT_CONNECTED = 2,
  KORVELAN380_OPEN_FAILED = 4,
  KORVELAN380_TRANSFER_FAILED = 5,
  KORVELAN380_ALREADY_CONNECTED = 6
};

/* Number of entries in the calibration tables: entry channel * 7 + rangeIndex. */
#define KORVELAN380_CALIBRATION_ENTRIES 14

/* A DAC channel's configuration, for KORVELAN380_DacChSet and KORVELAN380_DacChSet_R. */
typedef struct DacChannelSettings {
  uint8_t mode;           /* 0 to 3 */
  uint8_t selectA;        /* control bits 2-3 */
  uint8_t selectB;        /* control bits 4-5 */
  uint8_t switchA;        /* control bit 6, mode 1 only */
  uint8_t switchB;        /* control bit 7, modes 1 and 2 */
  uint8_t reserved;       /* must be 0 */
  uint8_t presetEnable;   /* 1 loads presetValue into the preset code registers */
  uint16_t presetValue;   /* a rawValue, 0 to 0x3FFF */
  uint16_t modeParameter; /* sent in mode 2 */
} DacChannelSettings;

/* The 14 gains of a module's calibration, entry channel * 7 + rangeIndex. */
typedef struct CalibrationGains {
  float gain[KORVELAN380_CALIBRATION_ENTRIES];
} CalibrationGains;

/* The 14 offsets of a module's calibration, entry channel * 7 + rangeIndex. */
typedef struct CalibrationOffsets {
  uint16_t offset[KORVELAN380_CALIBRATION_ENTRIES];
} CalibrationOffsets;

#if defined(__cplusplus)
#define KORVELAN380_STATIC_ASSERT(cond, msg) static_assert(cond, msg)
#else
#define KORVELAN380_STATIC_ASSERT(cond, msg) _Static_assert(cond, msg)
#endif
KORVELAN380_STATIC_ASSERT(sizeof(DacChannelSettings) == 12, "DacChannelSettings is 12 bytes");
KORVELAN380_STATIC_ASSERT(offsetof(DacChannelSettings, reserved) == 5, "reserved at 5");
KORVELAN380_STATIC_ASSERT(offsetof(DacChannelSettings, presetEnable) == 6, "presetEnable at 6");
KORVELAN380_STATIC_ASSERT(offsetof(DacChannelSettings, presetValue) == 8, "presetValue at 8");
KORVELAN380_STATIC_ASSERT(offsetof(DacChannelSettings, modeParameter) == 10, "modeParameter at 10");
KORVELAN380_STATIC_ASSERT(sizeof(CalibrationGains) == 56, "CalibrationGains is 56 bytes");
KORVELAN380_STATIC_ASSERT(sizeof(CalibrationOffsets) == 28, "CalibrationOffsets is 28 bytes");
KORVELAN380_STATIC_ASSERT(sizeof(float) == 4, "gains are IEEE 754 single precision");

/* ---- Connection ---------------------------------------------------------------------------- */

/* Opens the module "KORVELAN380<deviceId>" and enters it in the library's table.
 * Returns 0 connected; 1 deviceId null or longer than 8 characters (nothing is done);
 * 6 already connected (the existing connection is untouched); 4 the driver is missing or could
 * not open the module (nothing is left behind); 5 the first-connect initialisation of the
 * outputs failed (the module stays connected: call KORVELAN380_DisConnect before retrying). */
KORVELAN380_API StatusCode KORVELAN380_Connect(const char* deviceId);

/* Closes the module and forgets it. Returns 0 done; 2 deviceId is not connected. */
KORVELAN380_API StatusCode KORVELAN380_DisConnect(const char* deviceId);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* KORVELAN380_H */
