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
/* The DLL's exports are named by its .def file, which gives KORVELAN380_DacValSet_NoCalibed_R
 * its decorated name and nothing else; a dllexport here would export the compiler's name too. */
#define KORVELAN380_API
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

/* ---- Calibration --------------------------------------------------------------------------- */

/* Replaces the module's working calibration (used by every conversion from now on) with these
 * offsets and gains, taken as they are. With save nonzero, and values that differ from those
 * found in the EEPROM at connect, also stores them in the EEPROM user area.
 * Returns 0; 2 deviceId not connected (nothing changed); 1 a null pointer (nothing changed);
 * 5 a store was asked for and could not be made (the working copy is still replaced). */
KORVELAN380_API StatusCode KORVELAN380_Calib_Val_Set(const char* deviceId,
                                                     const CalibrationOffsets* offsets,
                                                     const CalibrationGains* gains, uint8_t save);

/* Copies the working calibration into *offsets and *gains (the EEPROM is not read).
 * Returns 0; 2 not connected; 1 a null pointer. Nothing is written unless 0 is returned. */
KORVELAN380_API StatusCode KORVELAN380_Calib_Val_Get(const char* deviceId,
                                                     CalibrationOffsets* offsets,
                                                     CalibrationGains* gains);

/* ---- Conversion ---------------------------------------------------------------------------- */

/* The calibrated code to send for rawValue (only its low 14 bits count) on channel 0 or 1 in
 * range 0 to 6. A code below 0 is held at 0 and one above 65535 at 65535.
 * Returns 0; 1 channel, range or pointer invalid (checked before the module is looked up);
 * 2 not connected. *calibratedValue is written only on 0. No driver call is made. */
KORVELAN380_API StatusCode KORVELANGetCalibedVal(const char* deviceId, uint8_t channel,
                                                 uint8_t rangeIndex, uint16_t rawValue,
                                                 uint16_t* calibratedValue);

/* The rawValue (0 to 16383) that a calibrated code stands for.
 * Returns 0; 1 channel, range or pointer invalid, or a result outside 0 to 16383; 2 not
 * connected. *rawValue is written only on 0. No driver call is made. */
KORVELAN380_API StatusCode KORVELANGetRawValFromCalibed(const char* deviceId, uint8_t channel,
                                                        uint8_t rangeIndex,
                                                        uint16_t calibratedValue,
                                                        uint16_t* rawValue);

/* ---- Digital I/O --------------------------------------------------------------------------- */
/* The bytes are sent and returned unchanged. The writes return once the driver's transmit queue
 * is empty and 1 ms more has passed. All return 0; 2 not connected; 1 a null pointer; 5 a
 * transfer failed (an output is written only on 0). */

KORVELAN380_API StatusCode KORVELAN380_Dio_Dir(const char* deviceId, uint8_t direction);
KORVELAN380_API StatusCode KORVELAN380_Dio_Dir_R(const char* deviceId, uint8_t* direction);
KORVELAN380_API StatusCode KORVELAN380_Dio_Out(const char* deviceId, uint8_t outputValue);
KORVELAN380_API StatusCode KORVELAN380_Dio_Out_R(const char* deviceId, uint8_t* outputValue);
KORVELAN380_API StatusCode KORVELAN380_Dio_In(const char* deviceId, uint8_t* inputValue);

/* ---- DAC channel and range ----------------------------------------------------------------- */

/* Configures channel 0 or 1; with presetEnable 1 also loads presetValue, calibrated for the
 * channel's current range, as its preset code. Returns 0; 2 not connected; 1 a setting outside
 * what its mode accepts, channel above 1 or a null pointer (nothing sent); 5 a transfer failed
 * or the channel's range could not be converted (registers already written stay written). */
KORVELAN380_API StatusCode KORVELAN380_DacChSet(const char* deviceId, uint8_t channel,
                                                const DacChannelSettings* settings);

/* Reads channel 0's or 1's configuration back (reserved is not filled). Returns 0; 2 not
 * connected; 1 channel above 1 or a null pointer, or a preset code that converts to no
 * rawValue; 5 a transfer failed. Fields read before a failure stay filled. */
KORVELAN380_API StatusCode KORVELAN380_DacChSet_R(const char* deviceId, uint8_t channel,
                                                  DacChannelSettings* settings);

/* Selects range 0 to 6 for channel 0, 1 or 2, after loading the module's gain and offset words
 * from the calibration (channel 2 uses channel 0's). Returns 0; 2; 1; 5. */
KORVELAN380_API StatusCode KORVELAN380_RangeSet(const char* deviceId, uint8_t channel,
                                                uint8_t rangeIndex);

/* Reads channel 0's or 1's range register, as the module holds it. Returns 0; 2; 1; 5. */
KORVELAN380_API StatusCode KORVELAN380_RangeSet_R(const char* deviceId, uint8_t channel,
                                                  uint8_t* rangeIndex);

/* ---- DAC values ---------------------------------------------------------------------------- */

/* Sets channel 0's or 1's output to rawValue (low 14 bits), calibrated for the range the module
 * reports now. Returns 0; 2; 1 channel above 1; 5 a transfer failed or the range reported
 * cannot be converted (nothing written then). */
KORVELAN380_API StatusCode KORVELAN380_DacValSet(const char* deviceId, uint8_t channel,
                                                 uint16_t rawValue);

/* Reads channel 0's or 1's output back as a rawValue. Returns 0; 2; 1 channel above 1 or a
 * null pointer; 5 a transfer failed or the code converts to no rawValue (output untouched). */
KORVELAN380_API StatusCode KORVELAN380_DacValSet_R(const char* deviceId, uint8_t channel,
                                                   uint16_t* rawValue);

/* Writes a 16-bit code to channel 0's or 1's output unchanged. Returns 0; 2; 1; 5. */
KORVELAN380_API StatusCode KORVELAN380_DacValSet_NoCalibed(const char* deviceId, uint8_t channel,
                                                           uint16_t calibratedValue);

/* ---- Waveform and FIFO --------------------------------------------------------------------- */

/* Loads count (1 to 524288) rawValues into channel 0's or 1's waveform memory, each calibrated
 * for the range the module reports now, and streams them in one transfer. Returns 0; 2; 1
 * channel, count or a null pointer; 5 a transfer failed, the range cannot be converted or
 * memory ran out (the length registers stay written when only the stream failed). */
KORVELAN380_API StatusCode KORVELAN380_WavImgSet(const char* deviceId, uint8_t channel,
                                                 const uint16_t* samples, int32_t count);

/* Streams count (1 to 524288) codes to channel 0's or 1's FIFO unchanged. Channel 2 is accepted
 * and returns 5 with nothing sent. Returns 0; 2; 1; 5. */
KORVELAN380_API StatusCode KORVELAN380_Fifo_ImgSet(const char* deviceId, uint8_t channel,
                                                   const uint16_t* codes, int32_t count);

/* Clears channel 0's or 1's FIFO (channel 2 clears channel 0's). Returns 0; 2; 1; 5. */
KORVELAN380_API StatusCode KORVELAN380_Fifo_Clr(const char* deviceId, uint8_t channel);

/* Reads both channels' FIFO status: two flags (0 or 1) and a 20-bit counter each, index 0 for
 * channel 0. Returns 0; 2; 1 a null pointer; 5 (nothing written). */
KORVELAN380_API StatusCode KORVELAN380_Fifo_Status(const char* deviceId, uint8_t fifoFlag7[2],
                                                   uint8_t fifoFlag6[2], uint32_t fifoCounter[2]);

/* ---- Trigger and gate ---------------------------------------------------------------------- */
/* channel 0 and 1 address the channels' registers, 2 a third register of the same kind. All
 * return 0; 2; 1 an argument outside its values or a null pointer (nothing sent); 5. */

/* action 1 starts, 0 stops. */
KORVELAN380_API StatusCode KORVELAN380_Trigger(const char* deviceId, uint8_t channel,
                                               uint8_t action);
/* *triggerStatus 0 or 1; channel 2 reads channel 0's status. */
KORVELAN380_API StatusCode KORVELAN380_Trigger_Stat(const char* deviceId, uint8_t channel,
                                                    uint8_t* triggerStatus);
/* gate 0 or 1. */
KORVELAN380_API StatusCode KORVELAN380_GateSet(const char* deviceId, uint8_t channel, uint8_t gate);
KORVELAN380_API StatusCode KORVELAN380_GateSet_R(const char* deviceId, uint8_t channel,
                                                 uint8_t* gate);

/* ---- Selection and clock ------------------------------------------------------------------- */
/* All return 0; 2; 1 an argument outside its values or a null pointer (nothing sent); 5. */

/* External-signal selection: lowSelect and highSelect 0 to 4. */
KORVELAN380_API StatusCode KORVELAN380_Exs_Sel(const char* deviceId, uint8_t lowSelect,
                                               uint8_t highSelect);
/* Reads it back (any nibble 0 to 15 the module holds). */
KORVELAN380_API StatusCode KORVELAN380_Exs_Sel_R(const char* deviceId, uint8_t* lowSelect,
                                                 uint8_t* highSelect);
/* Loads a clock setting of at least 99 into channel 0's, 1's or 2's clock block. */
KORVELAN380_API StatusCode KORVELAN380_Clock_Gen(const char* deviceId, uint8_t channel,
                                                 uint32_t clockSetting);
/* EXIO selection: lowSelect and highSelect 0 to 6. */
KORVELAN380_API StatusCode KORVELAN380_EXIO_Sel(const char* deviceId, uint8_t lowSelect,
                                                uint8_t highSelect);
/* Reads it back, and also prints the register byte in decimal ("%d", no line end) to standard
 * output, flushed. */
KORVELAN380_API StatusCode KORVELAN380_EXIO_Sel_R(const char* deviceId, uint8_t* lowSelect,
                                                  uint8_t* highSelect);
/* Reads the EXIO input byte. */
KORVELAN380_API StatusCode KORVELAN380_EXIO_In(const char* deviceId, uint8_t* exioValue);

#ifdef __cplusplus
} /* extern "C" */
#endif

#ifdef __cplusplus
/* Reads channel 0's or 1's output code unchanged. Returns 0; 2; 1 channel above 1 or a null
 * pointer; 5 (output untouched). Exported with C++ linkage only: on Windows under the decorated
 * name ?KORVELAN380_DacValSet_NoCalibed_R@@YAKPEBDEPEAG@Z, on Linux as
 * _Z33KORVELAN380_DacValSet_NoCalibed_RPKchPt. From C, bind that symbol by name. */
KORVELAN380_API StatusCode KORVELAN380_DacValSet_NoCalibed_R(const char* deviceId, uint8_t channel,
                                                             uint16_t* calibratedValue);
#endif

#endif /* KORVELAN380_H */
