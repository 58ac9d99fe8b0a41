// Control interface of the simulated KORVELAN380 module.
//
// The simulator is a libftd2xx.so of its own: it offers the twelve D2XX functions the library
// uses (FT_OpenEx, FT_Close, FT_Read, FT_Write, FT_Purge, FT_GetQueueStatus, FT_GetStatus,
// FT_EE_UASize, FT_EE_UARead, FT_EE_UAWrite, FT_SetTimeouts, FT_SetLatencyTimer) and behind
// them a model of the module: 256 8-bit
// registers written and read with the "W" and "R" frames, the "X" waveform stream decoded into
// samples per channel, and an EEPROM user area. Tests, tools and users' own programs drive it
// through the functions below; every function is safe to call from any thread.
//
// Modules are named by their full USB serial number ("KORVELAN3807"); SerialOf("7") builds it.
#ifndef KORVELAN380_SIM_HPP
#define KORVELAN380_SIM_HPP

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korvelan380::sim {

inline constexpr std::string_view kSerialPrefix = "KORVELAN380";
inline std::string SerialOf(std::string_view deviceId) {
  return std::string(kSerialPrefix) + std::string(deviceId);
}

// The driver functions, in the order of the trace and of fault injection.
enum class Fn : uint8_t {
  OpenEx,
  Close,
  Read,
  Write,
  Purge,
  GetQueueStatus,
  GetStatus,
  EeUaSize,
  EeUaRead,
  EeUaWrite,
  SetTimeouts,
  SetLatencyTimer,
  Any  // in FailCall: count calls of every function
};
const char* FnName(Fn fn);

// One driver call as the simulator saw it.
struct Call {
  uint64_t sequence = 0;  // global order of calls, across modules
  uint64_t timeNs = 0;    // steady-clock time of the call
  Fn fn = Fn::OpenEx;
  std::string serial;  // module addressed (OpenEx: the serial asked for; "" if unknown)
  // OpenEx: flags; Purge: mask; Read, Write, EeUaRead, EeUaWrite: length; SetTimeouts: the read
  // timeout; SetLatencyTimer: the milliseconds.
  uint32_t arg = 0;
  std::vector<uint8_t> data;  // Write, EeUaWrite: bytes given; Read, EeUaRead: bytes delivered
  uint32_t status = 0;        // FT_STATUS returned
};

// ---- Modules -------------------------------------------------------------------------------

// Detaches every module, clears the trace and every fault, stops a replay, and restores the
// defaults (no reply latency, no read timeout).
void Reset();

// Attaches a module: registers all 0, EEPROM user area of eepromSize bytes, all 0xFF (blank).
// Returns false when a module with that serial is already attached.
bool Attach(const std::string& serial, size_t eepromSize = 128);
// Detaches a module; an open handle on it fails every later call with FT_IO_ERROR.
bool Detach(const std::string& serial);
bool IsAttached(const std::string& serial);
bool IsOpen(const std::string& serial);
std::vector<std::string> AttachedSerials();

// Registers. Registers 9 (DIO input) and 10 (EXIO input) are inputs: a "W" frame does not
// change them, only SetRegister does.
void SetRegister(const std::string& serial, uint8_t reg, uint8_t value);
uint8_t Register(const std::string& serial, uint8_t reg);
std::array<uint8_t, 256> Registers(const std::string& serial);
// How many times register `reg` was written by "W" frames since attach or ClearTrace.
uint32_t RegisterWrites(const std::string& serial, uint8_t reg);

// EEPROM user area: content and size (the size is the content's length).
void SetEeprom(const std::string& serial, const std::vector<uint8_t>& content);
std::vector<uint8_t> Eeprom(const std::string& serial);
// Writes an 88-byte calibration record with marker 0x55 and, for every channel and range, the
// gain and offset that make the calibrated conversion the identity.
void SetIdealCalibration(const std::string& serial);

// Waveform streams: the samples of the last complete "X" stream of a channel (0 or 1), as
// decoded from the hex text, and the number of complete streams received.
std::vector<uint16_t> StreamSamples(const std::string& serial, uint8_t channel);
uint32_t StreamCount(const std::string& serial, uint8_t channel);

// Receive queue: bytes waiting for FT_Read, and bytes to put there as if stale.
size_t PendingReceive(const std::string& serial);
void QueueReceive(const std::string& serial, const std::vector<uint8_t>& bytes);

// ---- Outputs -------------------------------------------------------------------------------

// A module's converter, like a real one, is not perfect: for the code c in a channel's output
// registers (registers 42-43 and 44-45, high byte first, as the library writes them) and the
// range r in its range register (34 and 35), the channel puts out
//   (c - zero(r) - offsetCodes) * span(r) / 16384 * (1 + gain) volts,
// zero(r) being 0x2000 for the bipolar ranges 0 to 3 and 0 for the unipolar ranges 4 to 6. The
// converter has 14 bits: a code above 0x3FFF puts out what 0x3FFF does. The calibration in the
// EEPROM is what corrects these errors; the ideal calibration corrects none of them. Only this
// static output is modelled: waveforms, the FIFO and presets leave it alone.
struct ConverterError {
  double gain = 0.0;         // relative: 0.001 puts out 0.1 % too much
  double offsetCodes = 0.0;  // in codes of the range
};

// What channel 0 or 1 puts out now, in volts, for its output code and the range in its range
// register (0 V while that holds no range, 7 to 255); nothing for an unknown module or channel.
std::optional<double> Measure(const std::string& serial, uint8_t channel);
// Each module's errors, per channel and range, are derived from its serial number when it is
// attached: a gain error within +-0.4 % and an offset error of 2 to 6 codes of either sign, so
// that an uncalibrated module is several codes off in every range and a serial always has the
// same. They can be replaced; false (nothing changed) for an unknown module, a channel above 1,
// a range above 6 or a value that is not finite.
bool SetOutputError(const std::string& serial, uint8_t channel, uint8_t range,
                    const ConverterError& error);
std::optional<ConverterError> OutputError(const std::string& serial, uint8_t channel,
                                          uint8_t range);

// ---- Saved state ---------------------------------------------------------------------------

// What a module keeps between sessions: whether it is attached, its registers, its EEPROM user
// area, the last stream of each channel, and its output errors when they were set with
// SetOutputError. Faults, the trace, the receive queue and the register write counts are not
// part of it.
struct ModuleState {
  bool attached = false;
  std::array<uint8_t, 256> registers{};
  std::vector<uint8_t> eeprom;  // the user area; its size is the content's length
  std::array<std::vector<uint16_t>, 2> streams;
  std::array<uint32_t, 2> streamCounts{};
  // Entry channel * 7 + range; nothing while they are those derived from the serial number.
  std::optional<std::array<ConverterError, 14>> outputErrors;
};

// The module's state now; for a serial that is not attached, `attached` false and the rest empty.
ModuleState CaptureState(const std::string& serial);
// Makes the module what `state` describes. Attached: the module is attached when it is not yet
// (a module already attached keeps its open handle, trace and faults) and takes the registers,
// EEPROM, streams and output errors (without any, those derived from its own serial number).
// Not attached: the module is detached.
void RestoreState(const std::string& serial, const ModuleState& state);

// The state as bytes, format version 1: "KSIM", the version byte 1, a flags byte (bit 0:
// attached; bit 1: output errors follow the streams), the 256 registers, the EEPROM size
// (32-bit) and content, then for channel 0 and 1 the stream count and the sample count (32-bit
// each) and the samples (16-bit); then, with bit 1, the 14 output errors, each its gain and its
// offset as IEEE 754 doubles (64-bit). Numbers little-endian.
std::vector<uint8_t> EncodeState(const ModuleState& state);
// The state those bytes hold, or nothing when they are not exactly one version-1 state.
std::optional<ModuleState> DecodeState(const std::vector<uint8_t>& bytes);

// ---- Faults --------------------------------------------------------------------------------

// The nth call (1 = the next) of `fn` on this module, counted from now, returns `status`
// instead of doing its work. Fn::Any counts calls of every function. One pending fault per
// module; a new one replaces it.
void FailCall(const std::string& serial, Fn fn, uint32_t nth, uint32_t status = 4);
// FT_Read delivers at most this many bytes per call (0: no limit).
void SetReadChunk(const std::string& serial, uint32_t maxBytesPerRead);
// The next `count` "R" frames get no reply at all.
void WithholdReplies(const std::string& serial, uint32_t count);
// The reply to the next "R" frame carries something other than 'R' at byte 1 of record `record`.
void CorruptNextReply(const std::string& serial, uint32_t record);
// The reply to the next "R" frame is cut short after keepBytes bytes; the rest never comes.
void CutNextReply(const std::string& serial, uint32_t keepBytes);
// These bytes follow the reply to the next "R" frame.
void AddSurplusToNextReply(const std::string& serial, const std::vector<uint8_t>& bytes);
// FT_GetStatus reports a nonzero transmit count for the next `calls` calls (UINT32_MAX: always).
void SetTransmitBusy(const std::string& serial, uint32_t calls);

// ---- Timing --------------------------------------------------------------------------------

// The reply to an "R" frame becomes readable only this long after the frame was written (0, the
// default: at once). Bytes queued behind a reply that is not readable yet wait with it.
// FT_SetLatencyTimer sets it too, as the chip's latency timer would: to that many milliseconds
// (1 to 255; 0 is refused with FT_INVALID_PARAMETER).
void SetReplyLatency(const std::string& serial, uint32_t microseconds);
// Nonzero: FT_Read waits up to this long until all the bytes asked for are there, as the
// vendor's driver does once timeouts are set, and then returns what it has. 0, the default:
// FT_Read returns at once with what is there. A waiting read holds up no other call, not even
// a write on the same handle. FT_SetTimeouts sets it too, to its read timeout (the library does
// at every connect); its write timeout is not modelled, as writes never wait here.
void SetReadTimeout(const std::string& serial, uint32_t milliseconds);

// ---- Trace ---------------------------------------------------------------------------------

// Every driver call since Reset or ClearTrace, in order; with a serial, only that module's.
std::vector<Call> Trace();
std::vector<Call> Trace(const std::string& serial);
void ClearTrace();
// Tracing is on by default; benchmarks turn it off.
void SetTracing(bool on);

}  // namespace korvelan380::sim

#endif  // KORVELAN380_SIM_HPP
