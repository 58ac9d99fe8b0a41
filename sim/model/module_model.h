// One simulated module: its registers, EEPROM user area, waveform streams, the errors of its
// outputs, receive queue, frame parser, pending faults and the trace of calls made on it.
#ifndef KORVELAN380_SIM_MODULE_MODEL_H
#define KORVELAN380_SIM_MODULE_MODEL_H

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "driver_call.h"
#include "korvelan380_sim.hpp"

namespace korvelan380::sim::detail {

// The steady clock in nanoseconds: call times in the trace, reply latencies.
inline uint64_t NowNs() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}

struct Handle;

inline constexpr uint8_t kStx = 0x02;
inline constexpr uint8_t kEtx = 0x03;
inline constexpr uint8_t kDioInputRegister = 9;
inline constexpr uint8_t kExioInputRegister = 10;
inline constexpr size_t kRegisterCount = 256;
inline constexpr size_t kReplyRecordSize = 4;
inline constexpr size_t kStreamChannels = 2;
inline constexpr size_t kRanges = 7;

// A converter's errors, entry channel * kRanges + range.
using OutputErrors = std::array<ConverterError, kStreamChannels * kRanges>;
// The errors a module of this serial number has until they are set: the same ones every time.
OutputErrors DerivedOutputErrors(const std::string& serial);
bool SameErrors(const OutputErrors& a, const OutputErrors& b);

// The calibration record of a module whose outputs are exactly as designed, as it lies in the
// EEPROM user area: marker 0x55, three reserved bytes, 14 float gains, 14 uint16 offsets, all
// little-endian, entry channel*7 + range. 88 bytes.
std::vector<uint8_t> IdealCalibrationRecord();

// A pending injected fault: the `remaining`th call of `fn` (Fn::Any: of any function) returns
// `status` instead of doing its work.
struct Fault {
  bool armed = false;
  Fn fn = Fn::Any;
  uint32_t remaining = 0;
  uint32_t status = 0;
};

// Everything in a Module except `serial` is guarded by `mu`; callers lock it.
class Module {
 public:
  Module(std::string serialNumber, size_t eepromSize);
  Module(const Module&) = delete;
  Module& operator=(const Module&) = delete;

  const std::string serial;
  std::mutex mu;
  // Signalled whenever bytes are queued for reading, and when the module is detached or its
  // handle closed, so that a waiting FT_Read looks again.
  std::condition_variable changed;

  // False once detached; a handle that still reaches the module then fails with FT_IO_ERROR.
  bool attached = true;
  Handle* openHandle = nullptr;

  std::array<uint8_t, kRegisterCount> regs{};
  std::array<uint32_t, kRegisterCount> regWrites{};
  std::vector<uint8_t> eeprom;
  std::array<std::vector<uint16_t>, kStreamChannels> streams;
  std::array<uint32_t, kStreamChannels> streamCounts{};
  // What the outputs get wrong; derived from the serial number until set.
  OutputErrors outputErrors;
  // Stray bytes and dropped frames; only looked at when debugging.
  uint64_t protocolErrors = 0;

  Fault fault;
  uint32_t readChunk = 0;
  uint32_t withheldReplies = 0;
  std::optional<uint32_t> corruptRecord;
  std::optional<uint32_t> cutReplyTo;  // bytes of the next reply that are delivered
  std::vector<uint8_t> surplus;
  uint32_t transmitBusy = 0;
  // A reply to an "R" frame becomes readable this long after its frame was written.
  uint32_t replyLatencyUs = 0;
  // Nonzero: FT_Read waits up to this long for all the bytes asked for.
  uint32_t readTimeoutMs = 0;

  std::vector<capture::DriverCall> trace;

  // The volts channel 0 or 1 puts out for its output code and range; nothing for another channel.
  std::optional<double> OutputVolts(size_t channel) const;
  // False, changing nothing, for a channel above 1, a range above 6 or a value not finite.
  bool SetOutputError(size_t channel, size_t range, const ConverterError& error);

  // Counts this call of `fn` against the pending fault; true (with its status) when it fires.
  bool TakeFault(Fn fn, uint32_t* status);

  // The receive queue: what FT_Read delivers, oldest first. Pending() counts the bytes that
  // can be read now: a reply still under its latency holds back itself and all behind it.
  size_t Pending();
  size_t Receive(uint8_t* out, size_t maxBytes);
  // readyNs: the steady-clock time from which these bytes may be read (0: at once).
  void Enqueue(const uint8_t* data, size_t length, uint64_t readyNs = 0);
  void PurgeReceive();
  // When the first held-back reply becomes readable; 0 when nothing is held back.
  uint64_t NextReadyNs() const { return held_.empty() ? 0 : held_.front().readyNs; }

  // Feeds bytes written by the host to the frame parser; frames may span several calls.
  void Feed(const uint8_t* data, size_t length);

 private:
  enum class ParseState : uint8_t { kIdle, kCommand, kWrite, kRead, kStream, kSkip };

  void StartFrame(ParseState state, size_t remainingInWrite);
  void DropFrame();
  void FinishWrite();
  void FinishRead();
  void FinishStream();
  size_t FeedStreamDigits(const uint8_t* data, size_t length);
  // The byte after STX, which says what the frame is.
  void FeedCommand(uint8_t byte, size_t remainingInWrite);
  // A byte of a W, R or X frame's body (the hex digits of an X frame come in bulk through
  // FeedStreamDigits), or its ETX.
  void FeedFrameByte(uint8_t byte);

  // Bytes from rx_[begin] on are held back until readyNs; readyNs never decreases along the
  // deque, so the front is always the next to be released.
  struct Held {
    size_t begin;
    uint64_t readyNs;
  };
  void ReleaseHeld();

  std::vector<uint8_t> rx_;
  size_t rxHead_ = 0;
  std::deque<Held> held_;

  ParseState state_ = ParseState::kIdle;
  uint32_t digits_ = 0;  // hex digits seen in the current frame
  uint32_t acc_ = 0;     // the value being assembled from hex digits
  uint8_t first_ = 0;    // W: first register; R: first register; X: channel
  uint8_t last_ = 0;     // R: last register
  size_t valueCount_ = 0;
  std::array<uint8_t, kRegisterCount> values_{};
  std::vector<uint16_t> samples_;  // X: samples of the stream being received
};

}  // namespace korvelan380::sim::detail

#endif  // KORVELAN380_SIM_MODULE_MODEL_H
