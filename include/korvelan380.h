/**
 * @mainpage korvelan380
 *
 * korvelan380 is the host-side control library for the KORVELAN380 USB analog-output module:
 * two 14-bit DAC channels with seven output ranges, an 8-bit digital I/O port, an extension
 * (EXIO) port, clock settings, a waveform memory with a FIFO mode, triggers and gates, and a
 * calibration kept in the module's EEPROM. Everything is declared in korvelan380.h: 33 core
 * exports, of which 32 are plain C functions, usable from C and C++. The 33rd,
 * KORVELAN380_DacValSet_NoCalibed_R, has C++ linkage only: it is declared for C++, and C binds
 * it by its decorated symbol. The extensions (@ref extensions), KORVELAN380_LatencySet and the
 * two-point calibration's KORVELAN380_CalibAdjustBegin and KORVELAN380_CalibAdjustReading, are
 * plain C functions too.
 *
 * @section status_codes Status codes
 * Every export returns a #StatusCode:
 *
 * - 0 #KORVELAN380_OK: success.
 * - 1 #KORVELAN380_INVALID_ARGUMENT: an argument outside its accepted values, a null pointer,
 *   or a conversion result outside 0..16383.
 * - 2 #KORVELAN380_NOT_CONNECTED: the deviceId is not connected, or its module is not open.
 * - 4 #KORVELAN380_OPEN_FAILED: the driver is missing (Linux) or could not open the module
 *   (KORVELAN380_Connect only), or has no FT_SetLatencyTimer (KORVELAN380_LatencySet only).
 * - 5 #KORVELAN380_TRANSFER_FAILED: a transfer with the module failed, the module stayed busy,
 *   or a value the module reported could not be converted.
 * - 6 #KORVELAN380_ALREADY_CONNECTED: the deviceId is already connected (KORVELAN380_Connect
 *   only).
 *
 * No export returns 3. Except for KORVELAN380_Connect and the two conversions, an export first
 * looks the deviceId up (2), then checks its other arguments (1). A refused call (1 or 2) sends
 * nothing and writes none of its outputs, with one exception: KORVELAN380_DacChSet_R returns 1
 * after its reads when the range register reads above 6 or the preset code converts to no
 * rawValue, and has then filled every field but presetValue and reserved. A call that fails
 * part-way (5) leaves what it already wrote to the module as it is; each export's description
 * says which of its outputs are then written. Code 5 also covers a module that another thread
 * kept busy for about 5 seconds: the call then sends nothing.
 *
 * @section modules Modules and the driver
 * A module is named by its deviceId, the tail of its USB serial number
 * "KORVELAN380<deviceId>": a NUL-terminated string of at most 8 characters, compared byte for
 * byte ("a" and "A" are two modules; "" is the module "KORVELAN380"). The library reaches the
 * module through the FTDI D2XX driver, bound once per process and kept for its life.
 *
 * - Linux: the library loads libftd2xx.so by name (dlopen) at the first KORVELAN380_Connect. A
 *   connect that finds no usable driver (missing, or lacking one of the ten functions every
 *   driver has: FT_OpenEx, FT_Close, FT_Read, FT_Write, FT_Purge, FT_GetQueueStatus,
 *   FT_GetStatus, FT_EE_UASize, FT_EE_UARead, FT_EE_UAWrite) returns 4, and the next connect
 *   tries again. FT_SetTimeouts and FT_SetLatencyTimer are bound when the driver has them; a
 *   driver without them is still used (see @ref reading and KORVELAN380_LatencySet). A library
 *   already loaded under that name (the project's simulated module, for example) is the one
 *   bound.
 * - Windows: korvelan380.dll imports those twelve functions from FTD2XX.dll by ordinal, so
 *   Windows binds the driver when it loads the DLL. Without FTD2XX.dll the DLL does not load at all
 *   (the program does not start, or LoadLibrary fails); no connect returns 4 for a missing
 *   driver. The FTD2XX.dll that Windows finds first (one next to the program before the
 *   system folder's) is the one bound.
 *
 * @section thread_safety Thread safety
 * Every export may be called from any thread. Calls on one module run one at a time, each for
 * its whole duration, from its first transfer to its last: their frames never interleave.
 * Calls on different modules never wait for each other. The conversions and
 * KORVELAN380_Calib_Val_Get read the working calibration without waiting for the module's
 * transfers. Disconnecting a module while another thread is inside a call on it is safe: that
 * call ends with 2 or 5.
 *
 * @section lifetime Lifetime and unloading
 * KORVELAN380_Connect opens a module and enters it in the library's table; KORVELAN380_DisConnect
 * closes it and forgets it. A module stays connected until then, whichever thread connected it.
 * Unloading the library (dlclose, FreeLibrary) or ending the process closes every module still
 * connected. The driver library itself stays loaded.
 *
 * @section units Units
 * - rawValue: the nominal 14-bit output value, 0 to 0x3FFF, evenly spaced across the selected
 *   range: volts = bottom + rawValue * span / 16384, so 0 is the bottom of the range, 0x2000 the
 *   middle, and 0x3FFF one step below the top.
 * - rangeIndex: 0 -10..10 V, 1 -5..5 V, 2 -2.5..2.5 V, 3 -1.25..1.25 V, 4 0..10 V, 5 0..5 V,
 *   6 0..2.5 V.
 * - calibratedValue (a code): the 16-bit value held in the module's output registers. A
 *   module's calibration holds a gain and an offset for each channel and range (entry
 *   channel * 7 + rangeIndex); the code for a rawValue whose nominal output is V volts is
 *   offset + V / gain, truncated toward zero, held at 0 below 0 and at 65535 above 65535.
 * - Waveforms: 1 to 524288 samples of 16 bits; the stream carries each code's top 14 bits.
 *
 * @section reading Read-backs
 * Only the digital I/O reads (KORVELAN380_Dio_Dir_R, KORVELAN380_Dio_Out_R, KORVELAN380_Dio_In)
 * and the two selection read-backs (KORVELAN380_Exs_Sel_R, KORVELAN380_EXIO_Sel_R) discard
 * whatever was waiting in the driver's receive queue first. Every other read takes bytes
 * already waiting as the start of its reply: KORVELAN380_DacChSet_R, KORVELAN380_RangeSet_R,
 * KORVELAN380_DacValSet_R, KORVELAN380_DacValSet_NoCalibed_R, KORVELAN380_Fifo_Status,
 * KORVELAN380_Trigger_Stat, KORVELAN380_GateSet_R, KORVELAN380_EXIO_In, and the reads of the
 * range register inside KORVELAN380_DacChSet, KORVELAN380_DacValSet and KORVELAN380_WavImgSet.
 * A read that fails discards what is left in the receive queue, so that the next read does not
 * take the failed read's late reply as its own.
 *
 * A read returns as soon as its reply is in. A reply that is not complete 10 seconds after its
 * frame went out fails the read (5), and the module answers the next call. At connect the
 * driver's read timeout is set to 100 ms and its write timeout to about 8.4 s (four times what a
 * full waveform takes at full-speed USB rates), so that no transfer waits
 * for ever and a KORVELAN380_DisConnect on another thread gets the module within about 100 ms;
 * a write the driver took only part of fails (5). A driver without FT_SetTimeouts (or one that
 * refuses it) is polled instead: every 10 ms, for the same 10 seconds.
 */
/**
 * @file korvelan380.h
 * @brief The library's C API: status codes, the settings and calibration types, the 33 core
 * exports, grouped by family, and the extensions.
 */
#ifndef KORVELAN380_H
#define KORVELAN380_H

#include <stddef.h>
#include <stdint.h>

/** @cond INTERNAL */
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
/** @endcond */

#ifdef __cplusplus
extern "C" {
#endif

/**
 * @brief The 32-bit result of every export: unsigned long in the Windows ABI, uint32_t
 * elsewhere. See @ref status_codes.
 */
#if defined(_WIN32)
typedef unsigned long StatusCode;
#else
typedef uint32_t StatusCode;
#endif

/** @brief The values of #StatusCode. */
enum {
  KORVELAN380_OK = 0,               /**< success */
  KORVELAN380_INVALID_ARGUMENT = 1, /**< an argument outside its accepted values */
  KORVELAN380_NOT_CONNECTED = 2,    /**< the deviceId is not connected, or not open */
  KORVELAN380_OPEN_FAILED = 4,      /**< the driver could not open the module */
  KORVELAN380_TRANSFER_FAILED = 5,  /**< a transfer with the module failed */
  KORVELAN380_ALREADY_CONNECTED = 6 /**< the deviceId is already connected */
};

/** @brief Number of entries in the calibration tables: entry channel * 7 + rangeIndex. */
#define KORVELAN380_CALIBRATION_ENTRIES 14

/** @brief A DAC channel's configuration, for KORVELAN380_DacChSet and KORVELAN380_DacChSet_R. */
typedef struct DacChannelSettings {
  uint8_t mode;           /**< 0 to 3, control bits 0-1 */
  uint8_t selectA;        /**< control bits 2-3: 0 to 2 in modes 1 and 2, 0 or 1 in mode 3 */
  uint8_t selectB;        /**< control bits 4-5: 0 to 2 in modes 1 and 2, 0 or 1 in mode 3 */
  uint8_t switchA;        /**< control bit 6, mode 1 only: 0 or 1 */
  uint8_t switchB;        /**< control bit 7, modes 1 and 2: 0 or 1 */
  uint8_t reserved;       /**< must be 0 */
  uint8_t presetEnable;   /**< 0 or 1; 1 also loads presetValue into the preset code registers */
  uint16_t presetValue;   /**< a rawValue, 0 to 0x3FFF */
  uint16_t modeParameter; /**< sent in mode 2 */
} DacChannelSettings;

/** @brief The 14 gains of a module's calibration, entry channel * 7 + rangeIndex. */
typedef struct CalibrationGains {
  float gain[KORVELAN380_CALIBRATION_ENTRIES]; /**< volts per code step, IEEE 754 single */
} CalibrationGains;

/** @brief The 14 offsets of a module's calibration, entry channel * 7 + rangeIndex. */
typedef struct CalibrationOffsets {
  uint16_t offset[KORVELAN380_CALIBRATION_ENTRIES]; /**< the code for 0 V */
} CalibrationOffsets;

/** @cond INTERNAL */
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
/** @endcond */

/**
 * @defgroup connection Connection
 * @brief Opening and closing a module.
 * @{
 */

/**
 * @brief Opens the module "KORVELAN380<deviceId>" and enters it in the library's table.
 *
 * On Linux the first connect of the process loads the driver (see @ref modules). The driver's
 * queues are purged and its timeouts set (see @ref reading). The chip's latency timer is left
 * as it is, unless the environment variable KORVELAN380_LATENCY_MS holds a whole number from 1
 * to 255, in decimal digits only ("2", not "2ms", " 2" or "+2"): every connect then sets it to
 * that many milliseconds, as KORVELAN380_LatencySet would. Any other value is ignored, as is
 * a driver that lacks or refuses the setting: the connect goes on either way. Then the
 * calibration is read from the EEPROM user area into the working
 * calibration; a user area without a calibration record gets the default record (every gain
 * 0.0, every offset 0) written into it, and until KORVELAN380_Calib_Val_Set replaces it every
 * calibrated code is 0. A module whose initialised flag is clear then has both channels'
 * output and preset codes set to the code of 0 V in the 0..2.5 V range's calibration, and the
 * flag set.
 *
 * @param deviceId the tail of the module's serial number, at most 8 characters.
 * @retval KORVELAN380_OK connected.
 * @retval KORVELAN380_INVALID_ARGUMENT deviceId is null or longer than 8 characters; nothing
 *         is done.
 * @retval KORVELAN380_ALREADY_CONNECTED deviceId is connected already; that connection is
 *         untouched.
 * @retval KORVELAN380_OPEN_FAILED the driver is missing or lacks one of the ten required
 *         functions (Linux only: on Windows the DLL does not load without it), or it could not
 *         open the module; nothing is left behind.
 * @retval KORVELAN380_TRANSFER_FAILED the first-connect setting of the outputs failed; the
 *         module stays connected (call KORVELAN380_DisConnect before trying again).
 */
KORVELAN380_API StatusCode KORVELAN380_Connect(const char* deviceId);

/**
 * @brief Closes the module and forgets it.
 *
 * A call inside the module on another thread fails at its next transfer; the driver's handle
 * is closed once that call has let go of the module (after about 5 seconds at most; a read
 * waiting for its reply lets go within about 100 ms when the driver has FT_SetTimeouts).
 *
 * @param deviceId the module, as given to KORVELAN380_Connect.
 * @retval KORVELAN380_OK disconnected.
 * @retval KORVELAN380_NOT_CONNECTED deviceId is not connected (or is null, or longer than 8
 *         characters).
 */
KORVELAN380_API StatusCode KORVELAN380_DisConnect(const char* deviceId);

/** @} */

/**
 * @defgroup calibration Calibration
 * @brief The module's working calibration, and its record in the EEPROM.
 * @{
 */

/**
 * @brief Replaces the module's working calibration, and optionally stores it in the EEPROM.
 *
 * The offsets and gains are taken as they are and used by every conversion from now on. With
 * save nonzero, and values that differ from those found in the EEPROM at connect, they are
 * also stored in the EEPROM user area (an 88-byte record).
 *
 * @param deviceId a connected module (it need not be open).
 * @param offsets the 14 offsets, entry channel * 7 + rangeIndex.
 * @param gains the 14 gains, entry channel * 7 + rangeIndex.
 * @param save nonzero to store the values in the EEPROM as well.
 * @retval KORVELAN380_OK replaced (and stored, when asked for and different).
 * @retval KORVELAN380_NOT_CONNECTED deviceId is not connected; nothing changed.
 * @retval KORVELAN380_INVALID_ARGUMENT offsets or gains is null; nothing changed.
 * @retval KORVELAN380_TRANSFER_FAILED a store was asked for and could not be made; the working
 *         calibration is replaced all the same.
 */
KORVELAN380_API StatusCode KORVELAN380_Calib_Val_Set(const char* deviceId,
                                                     const CalibrationOffsets* offsets,
                                                     const CalibrationGains* gains, uint8_t save);

/**
 * @brief Copies the module's working calibration out (the EEPROM is not read). Nothing is
 * written unless 0 is returned.
 *
 * @param deviceId a connected module (it need not be open).
 * @param[out] offsets receives the 14 offsets.
 * @param[out] gains receives the 14 gains.
 * @retval KORVELAN380_OK copied.
 * @retval KORVELAN380_NOT_CONNECTED deviceId is not connected.
 * @retval KORVELAN380_INVALID_ARGUMENT offsets or gains is null.
 */
KORVELAN380_API StatusCode KORVELAN380_Calib_Val_Get(const char* deviceId,
                                                     CalibrationOffsets* offsets,
                                                     CalibrationGains* gains);

/** @} */

/**
 * @defgroup conversion Conversion
 * @brief rawValues to codes and back, with the module's working calibration. No driver call is
 * made, and neither waits for the module's transfers.
 * @{
 */

/**
 * @brief The calibrated code to send for a rawValue.
 *
 * The code is offset + V / gain, truncated toward zero, where V is the rawValue's nominal
 * output in volts and gain and offset are the calibration entry of the channel and range. A
 * code below 0 is held at 0 and one above 65535 at 65535; one that is not a finite number (as
 * with a gain of 0) gives 0. *calibratedValue is written only on 0.
 *
 * @param deviceId a connected, open module.
 * @param channel 0 or 1.
 * @param rangeIndex 0 to 6.
 * @param rawValue the rawValue; only its low 14 bits count.
 * @param[out] calibratedValue receives the code.
 * @retval KORVELAN380_OK converted.
 * @retval KORVELAN380_INVALID_ARGUMENT channel, rangeIndex or the pointer is invalid (checked
 *         before the module is looked up).
 * @retval KORVELAN380_NOT_CONNECTED deviceId is not connected or not open.
 */
KORVELAN380_API StatusCode KORVELANGetCalibedVal(const char* deviceId, uint8_t channel,
                                                 uint8_t rangeIndex, uint16_t rawValue,
                                                 uint16_t* calibratedValue);

/**
 * @brief The rawValue that a calibrated code stands for, rounded to the nearest.
 *
 * The inverse of KORVELANGetCalibedVal: (calibratedValue - offset) * gain volts, as a rawValue
 * of the range. *rawValue is written only on 0.
 *
 * @param deviceId a connected, open module.
 * @param channel 0 or 1.
 * @param rangeIndex 0 to 6.
 * @param calibratedValue the code.
 * @param[out] rawValue receives the rawValue, 0 to 16383.
 * @retval KORVELAN380_OK converted.
 * @retval KORVELAN380_INVALID_ARGUMENT channel, rangeIndex or the pointer is invalid (checked
 *         before the module is looked up), or the result, before rounding, lies outside 0 to
 *         16383.
 * @retval KORVELAN380_NOT_CONNECTED deviceId is not connected or not open.
 */
KORVELAN380_API StatusCode KORVELANGetRawValFromCalibed(const char* deviceId, uint8_t channel,
                                                        uint8_t rangeIndex,
                                                        uint16_t calibratedValue,
                                                        uint16_t* rawValue);

/** @} */

/**
 * @defgroup digital_io Digital I/O
 * @brief The 8-bit digital port. The bytes are sent and returned unchanged: which bit drives
 * which line, and what a direction bit means, are the module's to define.
 *
 * The writes return once the driver's transmit queue is empty and 1 ms more has passed. Every
 * one returns 0 done; 2 deviceId not connected; 1 a null pointer; 5 a transfer failed. A byte
 * is written to the caller only on 0.
 * @{
 */

/**
 * @brief Sets the direction of the eight lines.
 * @param deviceId a connected module.
 * @param direction one bit per line.
 * @retval KORVELAN380_OK written.
 * @retval KORVELAN380_NOT_CONNECTED deviceId is not connected.
 * @retval KORVELAN380_TRANSFER_FAILED the write failed or did not leave the driver.
 */
KORVELAN380_API StatusCode KORVELAN380_Dio_Dir(const char* deviceId, uint8_t direction);

/**
 * @brief Reads the direction byte back.
 * @param deviceId a connected module.
 * @param[out] direction receives the byte.
 * @retval KORVELAN380_OK read.
 * @retval KORVELAN380_NOT_CONNECTED deviceId is not connected.
 * @retval KORVELAN380_INVALID_ARGUMENT direction is null.
 * @retval KORVELAN380_TRANSFER_FAILED the read failed; *direction is untouched.
 */
KORVELAN380_API StatusCode KORVELAN380_Dio_Dir_R(const char* deviceId, uint8_t* direction);

/**
 * @brief Sets the output lines.
 * @param deviceId a connected module.
 * @param outputValue one bit per line.
 * @retval KORVELAN380_OK written.
 * @retval KORVELAN380_NOT_CONNECTED deviceId is not connected.
 * @retval KORVELAN380_TRANSFER_FAILED the write failed or did not leave the driver.
 */
KORVELAN380_API StatusCode KORVELAN380_Dio_Out(const char* deviceId, uint8_t outputValue);

/**
 * @brief Reads the output byte back.
 * @param deviceId a connected module.
 * @param[out] outputValue receives the byte.
 * @retval KORVELAN380_OK read.
 * @retval KORVELAN380_NOT_CONNECTED deviceId is not connected.
 * @retval KORVELAN380_INVALID_ARGUMENT outputValue is null.
 * @retval KORVELAN380_TRANSFER_FAILED the read failed; *outputValue is untouched.
 */
KORVELAN380_API StatusCode KORVELAN380_Dio_Out_R(const char* deviceId, uint8_t* outputValue);

/**
 * @brief Reads the eight input lines: latches them (a write of 0 to the input register), waits
 * 1 ms, and reads them.
 * @param deviceId a connected module.
 * @param[out] inputValue receives the byte.
 * @retval KORVELAN380_OK read.
 * @retval KORVELAN380_NOT_CONNECTED deviceId is not connected.
 * @retval KORVELAN380_INVALID_ARGUMENT inputValue is null.
 * @retval KORVELAN380_TRANSFER_FAILED the latch or the read failed; *inputValue is untouched.
 */
KORVELAN380_API StatusCode KORVELAN380_Dio_In(const char* deviceId, uint8_t* inputValue);

/** @} */

/**
 * @defgroup dac_channel DAC channel and range
 * @brief A channel's configuration and output range.
 * @{
 */

/**
 * @brief Configures channel 0 or 1.
 *
 * Writes the control byte (the fields a mode does not use are sent as 0), in modes 1 to 3 the
 * preset enable, and in mode 2 the mode parameter. With presetEnable 1 (in any mode) it also
 * loads presetValue, calibrated for the range the module reports for the channel now, as the
 * channel's preset code.
 *
 * @param deviceId a connected module.
 * @param channel 0 or 1.
 * @param settings the configuration; see DacChannelSettings for the values each mode accepts
 *        (mode 0 looks at reserved and presetValue only).
 * @retval KORVELAN380_OK configured.
 * @retval KORVELAN380_NOT_CONNECTED deviceId is not connected.
 * @retval KORVELAN380_INVALID_ARGUMENT settings is null, channel is above 1, or a setting is
 *         outside what its mode accepts; nothing is sent.
 * @retval KORVELAN380_TRANSFER_FAILED a transfer failed, or the range the module reports cannot
 *         be converted; the registers already written stay written.
 */
KORVELAN380_API StatusCode KORVELAN380_DacChSet(const char* deviceId, uint8_t channel,
                                                const DacChannelSettings* settings);

/**
 * @brief Reads channel 0's or 1's configuration back.
 *
 * The control byte is read back one bit per field: mode bits 0-1, selectA bit 2, selectB bit 3,
 * switchA bit 4, switchB bit 5. presetEnable is the whole register, modeParameter is read in
 * every mode, and presetValue is the preset code converted back to a rawValue for the range the
 * module reports now. reserved is not filled.
 *
 * @param deviceId a connected module.
 * @param channel 0 or 1.
 * @param[out] settings receives the configuration.
 * @retval KORVELAN380_OK read.
 * @retval KORVELAN380_NOT_CONNECTED deviceId is not connected.
 * @retval KORVELAN380_INVALID_ARGUMENT settings is null or channel above 1 (nothing written);
 *         or the preset code converts to no rawValue, or the range reported is above 6 (after
 *         the reads: every field but presetValue and reserved filled).
 * @retval KORVELAN380_TRANSFER_FAILED a read failed; the fields read before it stay filled.
 */
KORVELAN380_API StatusCode KORVELAN380_DacChSet_R(const char* deviceId, uint8_t channel,
                                                  DacChannelSettings* settings);

/**
 * @brief Selects the output range of channel 0, 1 or 2.
 *
 * First loads the module's gain and offset words from the calibration entry of the channel and
 * range (channel 2 uses channel 0's): the gain truncated toward zero to a 32-bit integer, its
 * low 16 bits (0 for a gain outside that integer range), and the offset.
 *
 * @param deviceId a connected module.
 * @param channel 0 to 2.
 * @param rangeIndex 0 to 6.
 * @retval KORVELAN380_OK selected.
 * @retval KORVELAN380_NOT_CONNECTED deviceId is not connected.
 * @retval KORVELAN380_INVALID_ARGUMENT channel above 2 or rangeIndex above 6; nothing is sent.
 * @retval KORVELAN380_TRANSFER_FAILED a write failed; the words already written stay written.
 */
KORVELAN380_API StatusCode KORVELAN380_RangeSet(const char* deviceId, uint8_t channel,
                                                uint8_t rangeIndex);

/**
 * @brief Reads channel 0's or 1's range register, as the module holds it.
 * @param deviceId a connected module.
 * @param channel 0 or 1.
 * @param[out] rangeIndex receives the register.
 * @retval KORVELAN380_OK read.
 * @retval KORVELAN380_NOT_CONNECTED deviceId is not connected.
 * @retval KORVELAN380_INVALID_ARGUMENT rangeIndex is null or channel above 1.
 * @retval KORVELAN380_TRANSFER_FAILED the read failed; *rangeIndex is untouched.
 */
KORVELAN380_API StatusCode KORVELAN380_RangeSet_R(const char* deviceId, uint8_t channel,
                                                  uint8_t* rangeIndex);

/** @} */

/**
 * @defgroup dac_value DAC values
 * @brief A channel's output, as a rawValue (calibrated by the library) or as a code.
 * @{
 */

/**
 * @brief Sets channel 0's or 1's output to a rawValue, calibrated for the range the module
 * reports for the channel now.
 * @param deviceId a connected module.
 * @param channel 0 or 1.
 * @param rawValue the rawValue; only its low 14 bits count.
 * @retval KORVELAN380_OK set.
 * @retval KORVELAN380_NOT_CONNECTED deviceId is not connected.
 * @retval KORVELAN380_INVALID_ARGUMENT channel above 1; nothing is sent.
 * @retval KORVELAN380_TRANSFER_FAILED a transfer failed, or the range reported is above 6
 *         (the output is not written then).
 */
KORVELAN380_API StatusCode KORVELAN380_DacValSet(const char* deviceId, uint8_t channel,
                                                 uint16_t rawValue);

/**
 * @brief Reads channel 0's or 1's output back as a rawValue, for the range the module reports
 * now.
 * @param deviceId a connected module.
 * @param channel 0 or 1.
 * @param[out] rawValue receives the rawValue.
 * @retval KORVELAN380_OK read.
 * @retval KORVELAN380_NOT_CONNECTED deviceId is not connected.
 * @retval KORVELAN380_INVALID_ARGUMENT rawValue is null or channel above 1.
 * @retval KORVELAN380_TRANSFER_FAILED a read failed, or the code converts to no rawValue;
 *         *rawValue is untouched.
 */
KORVELAN380_API StatusCode KORVELAN380_DacValSet_R(const char* deviceId, uint8_t channel,
                                                   uint16_t* rawValue);

/**
 * @brief Writes a 16-bit code to channel 0's or 1's output unchanged.
 * @param deviceId a connected module.
 * @param channel 0 or 1.
 * @param calibratedValue the code.
 * @retval KORVELAN380_OK written.
 * @retval KORVELAN380_NOT_CONNECTED deviceId is not connected.
 * @retval KORVELAN380_INVALID_ARGUMENT channel above 1; nothing is sent.
 * @retval KORVELAN380_TRANSFER_FAILED the write failed.
 */
KORVELAN380_API StatusCode KORVELAN380_DacValSet_NoCalibed(const char* deviceId, uint8_t channel,
                                                           uint16_t calibratedValue);

/** @} */

/**
 * @defgroup waveform Waveform and FIFO
 * @brief The channels' waveform memory and FIFO, loaded in one stream.
 * @{
 */

/**
 * @brief Loads rawValues into channel 0's or 1's waveform memory.
 *
 * Each sample is calibrated for the range the module reports for the channel now; the image
 * length (count - 1) is written, then every code goes out in one stream.
 *
 * @param deviceId a connected module.
 * @param channel 0 or 1.
 * @param samples count rawValues; only their low 14 bits count.
 * @param count 1 to 524288.
 * @retval KORVELAN380_OK loaded.
 * @retval KORVELAN380_NOT_CONNECTED deviceId is not connected.
 * @retval KORVELAN380_INVALID_ARGUMENT channel above 1, count outside 1 to 524288 or samples
 *         null; nothing is sent.
 * @retval KORVELAN380_TRANSFER_FAILED a transfer failed, the range reported is above 6, or
 *         memory ran out; the length registers stay written when only the stream failed.
 */
KORVELAN380_API StatusCode KORVELAN380_WavImgSet(const char* deviceId, uint8_t channel,
                                                 const uint16_t* samples, int32_t count);

/**
 * @brief Streams codes to channel 0's or 1's FIFO unchanged.
 * @param deviceId a connected module.
 * @param channel 0 or 1; 2 is accepted and returns 5 with nothing sent.
 * @param codes count codes.
 * @param count 1 to 524288.
 * @retval KORVELAN380_OK streamed.
 * @retval KORVELAN380_NOT_CONNECTED deviceId is not connected.
 * @retval KORVELAN380_INVALID_ARGUMENT channel above 2, count outside 1 to 524288 or codes
 *         null; nothing is sent.
 * @retval KORVELAN380_TRANSFER_FAILED the stream failed, memory ran out, or channel is 2.
 */
KORVELAN380_API StatusCode KORVELAN380_Fifo_ImgSet(const char* deviceId, uint8_t channel,
                                                   const uint16_t* codes, int32_t count);

/**
 * @brief Clears channel 0's or 1's FIFO.
 * @param deviceId a connected module.
 * @param channel 0 or 1; 2 clears channel 0's.
 * @retval KORVELAN380_OK cleared.
 * @retval KORVELAN380_NOT_CONNECTED deviceId is not connected.
 * @retval KORVELAN380_INVALID_ARGUMENT channel above 2; nothing is sent.
 * @retval KORVELAN380_TRANSFER_FAILED the write failed.
 */
KORVELAN380_API StatusCode KORVELAN380_Fifo_Clr(const char* deviceId, uint8_t channel);

/**
 * @brief Reads both channels' FIFO status, index 0 for channel 0.
 * @param deviceId a connected module.
 * @param[out] fifoFlag7 receives each channel's flag in status bit 7 (0 or 1).
 * @param[out] fifoFlag6 receives each channel's flag in status bit 6 (0 or 1).
 * @param[out] fifoCounter receives each channel's 20-bit counter.
 * @retval KORVELAN380_OK read.
 * @retval KORVELAN380_NOT_CONNECTED deviceId is not connected.
 * @retval KORVELAN380_INVALID_ARGUMENT a null pointer.
 * @retval KORVELAN380_TRANSFER_FAILED the read failed; nothing is written.
 */
KORVELAN380_API StatusCode KORVELAN380_Fifo_Status(const char* deviceId, uint8_t fifoFlag7[2],
                                                   uint8_t fifoFlag6[2], uint32_t fifoCounter[2]);

/** @} */

/**
 * @defgroup trigger_gate Trigger and gate
 * @brief Starting and stopping a channel, and its gate. Channels 0 and 1 address the channels'
 * registers, 2 a third register of the same kind.
 * @{
 */

/**
 * @brief Starts or stops a channel.
 * @param deviceId a connected module.
 * @param channel 0 to 2.
 * @param action 1 starts, 0 stops.
 * @retval KORVELAN380_OK written.
 * @retval KORVELAN380_NOT_CONNECTED deviceId is not connected.
 * @retval KORVELAN380_INVALID_ARGUMENT channel above 2 or action above 1; nothing is sent.
 * @retval KORVELAN380_TRANSFER_FAILED the write failed.
 */
KORVELAN380_API StatusCode KORVELAN380_Trigger(const char* deviceId, uint8_t channel,
                                               uint8_t action);

/**
 * @brief Reads a channel's trigger status.
 * @param deviceId a connected module.
 * @param channel 0 to 2; 2 reads channel 0's status.
 * @param[out] triggerStatus receives 0 or 1.
 * @retval KORVELAN380_OK read.
 * @retval KORVELAN380_NOT_CONNECTED deviceId is not connected.
 * @retval KORVELAN380_INVALID_ARGUMENT channel above 2 or triggerStatus null.
 * @retval KORVELAN380_TRANSFER_FAILED the read failed; *triggerStatus is untouched.
 */
KORVELAN380_API StatusCode KORVELAN380_Trigger_Stat(const char* deviceId, uint8_t channel,
                                                    uint8_t* triggerStatus);

/**
 * @brief Sets a channel's gate.
 * @param deviceId a connected module.
 * @param channel 0 to 2.
 * @param gate 0 or 1.
 * @retval KORVELAN380_OK written.
 * @retval KORVELAN380_NOT_CONNECTED deviceId is not connected.
 * @retval KORVELAN380_INVALID_ARGUMENT channel above 2 or gate above 1; nothing is sent.
 * @retval KORVELAN380_TRANSFER_FAILED the write failed.
 */
KORVELAN380_API StatusCode KORVELAN380_GateSet(const char* deviceId, uint8_t channel, uint8_t gate);

/**
 * @brief Reads a channel's gate back.
 * @param deviceId a connected module.
 * @param channel 0 to 2.
 * @param[out] gate receives 0 or 1.
 * @retval KORVELAN380_OK read.
 * @retval KORVELAN380_NOT_CONNECTED deviceId is not connected.
 * @retval KORVELAN380_INVALID_ARGUMENT channel above 2 or gate null.
 * @retval KORVELAN380_TRANSFER_FAILED the read failed; *gate is untouched.
 */
KORVELAN380_API StatusCode KORVELAN380_GateSet_R(const char* deviceId, uint8_t channel,
                                                 uint8_t* gate);

/** @} */

/**
 * @defgroup selection_clock Selection and clock
 * @brief The external-signal and EXIO selections, the clock settings and the EXIO input. A
 * selection byte holds highSelect in bits 4-7 and lowSelect in bits 0-3.
 * @{
 */

/**
 * @brief Selects the external signals.
 * @param deviceId a connected module.
 * @param lowSelect 0 to 4.
 * @param highSelect 0 to 4.
 * @retval KORVELAN380_OK written.
 * @retval KORVELAN380_NOT_CONNECTED deviceId is not connected.
 * @retval KORVELAN380_INVALID_ARGUMENT a selection above 4; nothing is sent.
 * @retval KORVELAN380_TRANSFER_FAILED the write failed.
 */
KORVELAN380_API StatusCode KORVELAN380_Exs_Sel(const char* deviceId, uint8_t lowSelect,
                                               uint8_t highSelect);

/**
 * @brief Reads the external-signal selection back: any nibble 0 to 15 the module holds.
 * @param deviceId a connected module.
 * @param[out] lowSelect receives bits 0-3.
 * @param[out] highSelect receives bits 4-7.
 * @retval KORVELAN380_OK read.
 * @retval KORVELAN380_NOT_CONNECTED deviceId is not connected.
 * @retval KORVELAN380_INVALID_ARGUMENT a null pointer.
 * @retval KORVELAN380_TRANSFER_FAILED the read failed; nothing is written.
 */
KORVELAN380_API StatusCode KORVELAN380_Exs_Sel_R(const char* deviceId, uint8_t* lowSelect,
                                                 uint8_t* highSelect);

/**
 * @brief Loads a clock setting into channel 0's, 1's or 2's clock block (four registers, most
 * significant byte first, in one write).
 * @param deviceId a connected module.
 * @param channel 0 to 2.
 * @param clockSetting at least 99.
 * @retval KORVELAN380_OK written.
 * @retval KORVELAN380_NOT_CONNECTED deviceId is not connected.
 * @retval KORVELAN380_INVALID_ARGUMENT channel above 2 or clockSetting below 99; nothing is sent.
 * @retval KORVELAN380_TRANSFER_FAILED the write failed.
 */
KORVELAN380_API StatusCode KORVELAN380_Clock_Gen(const char* deviceId, uint8_t channel,
                                                 uint32_t clockSetting);

/**
 * @brief Selects the EXIO signals.
 * @param deviceId a connected module.
 * @param lowSelect 0 to 6.
 * @param highSelect 0 to 6.
 * @retval KORVELAN380_OK written.
 * @retval KORVELAN380_NOT_CONNECTED deviceId is not connected.
 * @retval KORVELAN380_INVALID_ARGUMENT a selection above 6; nothing is sent.
 * @retval KORVELAN380_TRANSFER_FAILED the write failed.
 */
KORVELAN380_API StatusCode KORVELAN380_EXIO_Sel(const char* deviceId, uint8_t lowSelect,
                                                uint8_t highSelect);

/**
 * @brief Reads the EXIO selection back, and prints it.
 *
 * On success the selection byte is also printed to standard output in decimal
 * (`printf("%d")`, no line end), and standard output is flushed, so that it appears in order
 * with the caller's own output.
 *
 * @param deviceId a connected module.
 * @param[out] lowSelect receives bits 0-3.
 * @param[out] highSelect receives bits 4-7.
 * @retval KORVELAN380_OK read (and printed).
 * @retval KORVELAN380_NOT_CONNECTED deviceId is not connected.
 * @retval KORVELAN380_INVALID_ARGUMENT a null pointer.
 * @retval KORVELAN380_TRANSFER_FAILED the read failed; nothing is written or printed.
 */
KORVELAN380_API StatusCode KORVELAN380_EXIO_Sel_R(const char* deviceId, uint8_t* lowSelect,
                                                  uint8_t* highSelect);

/**
 * @brief Reads the EXIO input byte. Bytes already waiting in the receive queue are taken as
 * the start of the reply: no discard comes first.
 * @param deviceId a connected module.
 * @param[out] exioValue receives the byte.
 * @retval KORVELAN380_OK read.
 * @retval KORVELAN380_NOT_CONNECTED deviceId is not connected.
 * @retval KORVELAN380_INVALID_ARGUMENT exioValue is null.
 * @retval KORVELAN380_TRANSFER_FAILED the read failed; *exioValue is untouched.
 */
KORVELAN380_API StatusCode KORVELAN380_EXIO_In(const char* deviceId, uint8_t* exioValue);

/** @} */

/**
 * @defgroup extensions Extensions
 * @brief Beyond the 33 core exports: settings of the USB link itself, and a guided two-point
 * calibration.
 * @{
 */

/**
 * @brief Sets the latency timer of the module's USB chip.
 *
 * The chip sends a reply shorter than a USB packet (every register read's reply) only when its
 * latency timer runs out, so the timer bounds how fast a read can be: FTDI's chips start at
 * 16 ms. The library makes no latency setting unless asked, by this call or by
 * KORVELAN380_LATENCY_MS at connect (see KORVELAN380_Connect).
 *
 * @param deviceId a connected module.
 * @param milliseconds 1 to 255.
 * @retval KORVELAN380_OK set.
 * @retval KORVELAN380_NOT_CONNECTED deviceId is not connected, or its module is not open.
 * @retval KORVELAN380_INVALID_ARGUMENT milliseconds is 0 or above 255; nothing is done.
 * @retval KORVELAN380_OPEN_FAILED the driver has no FT_SetLatencyTimer (Linux only); nothing
 *         is done.
 * @retval KORVELAN380_TRANSFER_FAILED the driver refused the setting, or another thread kept
 *         the module busy.
 */
KORVELAN380_API StatusCode KORVELAN380_LatencySet(const char* deviceId, uint32_t milliseconds);

/**
 * @name Two-point calibration
 * A guided calibration of one channel and range against a voltmeter. KORVELAN380_CalibAdjustBegin
 * puts out point 0 (the raw value nearest 10 % of the range) uncalibrated; each
 * KORVELAN380_CalibAdjustReading takes the voltage measured at the point awaited and puts out
 * the next: point 1 (nearest 90 %) uncalibrated, then, with the gain and offset fitted to the
 * two readings set in the working calibration, point 2 (the middle, rawValue 0x2000) through
 * the fit, whose reading verifies it. The EEPROM is never written: to keep the fit, call
 * KORVELAN380_Calib_Val_Set with the working calibration (KORVELAN380_Calib_Val_Get) and save
 * nonzero; to throw it away, call KORVELAN380_Calib_Val_Set with the calibration read before
 * Begin and save 0.
 * @{
 */

/** @brief Why KORVELAN380_CalibAdjustReading refused a reading: the `refusal` field. */
#define KORVELAN380_ADJUST_ACCEPTED 0      /**< taken */
#define KORVELAN380_ADJUST_NOT_A_NUMBER 1  /**< NaN or infinite */
#define KORVELAN380_ADJUST_OUTSIDE_RANGE 2 /**< outside the range's output limits */
#define KORVELAN380_ADJUST_NO_SLOPE 3      /**< the two readings give no slope */
#define KORVELAN380_ADJUST_WRONG_SIGN 4    /**< the fit's gain would be negative */
#define KORVELAN380_ADJUST_IMPLAUSIBLE 5   /**< a gain or offset no module has */

/**
 * @brief A two-point calibration in progress: filled by KORVELAN380_CalibAdjustBegin, carried on
 * by KORVELAN380_CalibAdjustReading. Volts are those of the range being calibrated.
 */
typedef struct KORVELAN380_CALIB_ADJUST {
  double expectedVolts[3];   /**< what an ideal module puts out at each point */
  double readings[3];        /**< the voltages taken so far (0 until taken) */
  double errorMillivolts[3]; /**< once done: points 0 and 1 as the fit predicts them, point 2
                                  as measured */
  double errorLsb[3];        /**< the same in least-significant bits (span / 16384) */
  float oldGain;             /**< the entry as it was before Begin */
  float gain;                /**< the fit, in the working copy from the second reading on */
  uint16_t rawCodes[3];      /**< nominal codes: near 10 %, near 90 %, and the verification point
                                  (0x2000) */
  uint16_t sentCodes[3];     /**< the codes written: 0 and 1 uncalibrated, 2 converted through the
                                  fit (0 until written) */
  uint16_t oldOffset;        /**< the entry's offset before Begin */
  uint16_t offset;           /**< the fit's offset, as gain */
  uint8_t channel;           /**< 0 or 1 */
  uint8_t rangeIndex;        /**< 0 to 6 */
  uint8_t step;              /**< the point whose reading is awaited, 0 to 2; 3 once done */
  uint8_t refusal;           /**< KORVELAN380_ADJUST_*: why the last reading was refused */
  uint8_t reserved[4];       /**< 0 */
} KORVELAN380_CALIB_ADJUST;

/** @cond INTERNAL */
KORVELAN380_STATIC_ASSERT(sizeof(KORVELAN380_CALIB_ADJUST) == 128,
                          "KORVELAN380_CALIB_ADJUST is 128 bytes");
KORVELAN380_STATIC_ASSERT(offsetof(KORVELAN380_CALIB_ADJUST, oldGain) == 96, "oldGain at 96");
KORVELAN380_STATIC_ASSERT(offsetof(KORVELAN380_CALIB_ADJUST, rawCodes) == 104, "rawCodes at 104");
KORVELAN380_STATIC_ASSERT(offsetof(KORVELAN380_CALIB_ADJUST, channel) == 120, "channel at 120");
/** @endcond */

/**
 * @brief Starts a two-point calibration of one channel and range: keeps the entry's gain and
 * offset in `adjust`, sets the channel's range, writes point 0's code uncalibrated.
 *
 * The range is set as KORVELAN380_RangeSet sets it. The calibration itself is not changed.
 *
 * @param deviceId a connected module.
 * @param channel 0 or 1.
 * @param rangeIndex 0 to 6.
 * @param[out] adjust receives the points, the entry as it is, step 0.
 * @retval KORVELAN380_OK started: point 0 is put out, its reading awaited.
 * @retval KORVELAN380_NOT_CONNECTED deviceId is not connected.
 * @retval KORVELAN380_INVALID_ARGUMENT channel above 1, rangeIndex above 6 or adjust null;
 *         nothing is sent.
 * @retval KORVELAN380_TRANSFER_FAILED the range or the code could not be written; *adjust is
 *         untouched.
 */
KORVELAN380_API StatusCode KORVELAN380_CalibAdjustBegin(const char* deviceId, uint8_t channel,
                                                        uint8_t rangeIndex,
                                                        KORVELAN380_CALIB_ADJUST* adjust);

/**
 * @brief Takes the reading for point `adjust->step` and goes on.
 *
 * After point 0 writes point 1's code; after point 1 fits (gain as the 32-bit float nearest the
 * slope, offset the whole code that centres the conversion's truncation), sets the entry in the
 * working copy (not the EEPROM) and writes point 2 through it; after point 2 works out the
 * errors (step 3). A refused reading returns 1 with `refusal` set and changes nothing else, so
 * the same point can be read again. A reading is refused when it is not a number, lies outside
 * the range's limits (those of rawValues 0 and 0x3FFF), or, at point 1, gives a fit with no
 * slope, a negative gain, or a gain or offset no module has: a gain not within a factor of 2 of
 * span / 16384 V per code, an offset outside 0 to 0x3FFF.
 *
 * @param deviceId a connected module.
 * @param adjust as Begin (and earlier readings) left it.
 * @param volts the voltage measured at the point put out.
 * @retval KORVELAN380_OK taken; `refusal` is 0.
 * @retval KORVELAN380_NOT_CONNECTED deviceId is not connected.
 * @retval KORVELAN380_INVALID_ARGUMENT the reading was refused (`refusal` says why), or adjust
 *         is null, done (step 3) or not one Begin filled (a channel or range out of bounds);
 *         nothing else changed.
 * @retval KORVELAN380_TRANSFER_FAILED the next point's code could not be written; neither
 *         `adjust` nor the working calibration changed, and the reading may be given again.
 */
KORVELAN380_API StatusCode KORVELAN380_CalibAdjustReading(const char* deviceId,
                                                          KORVELAN380_CALIB_ADJUST* adjust,
                                                          double volts);

/** @} */

/** @} */

#ifdef __cplusplus
} /* extern "C" */
#endif

#ifdef __cplusplus
/**
 * @ingroup dac_value
 * @brief Reads channel 0's or 1's output code unchanged.
 *
 * Exported with C++ linkage only: on Windows under the decorated name
 * `?KORVELAN380_DacValSet_NoCalibed_R@@YAKPEBDEPEAG@Z`, on Linux as
 * `_Z33KORVELAN380_DacValSet_NoCalibed_RPKchPt`. From C, bind that symbol by name.
 *
 * @param deviceId a connected module.
 * @param channel 0 or 1.
 * @param[out] calibratedValue receives the code.
 * @retval KORVELAN380_OK read.
 * @retval KORVELAN380_NOT_CONNECTED deviceId is not connected.
 * @retval KORVELAN380_INVALID_ARGUMENT calibratedValue is null or channel above 1.
 * @retval KORVELAN380_TRANSFER_FAILED the read failed; *calibratedValue is untouched.
 */
KORVELAN380_API StatusCode KORVELAN380_DacValSet_NoCalibed_R(const char* deviceId, uint8_t channel,
                                                             uint16_t* calibratedValue);
#endif

#endif /* KORVELAN380_H */
