// One simulated module: its registers, EEPROM user area, waveform streams, receive queue, frame
// parser, pending faults and the trace of calls made on it.
#ifndef KORVELAN380_SIM_MODULE_MODEL_H
#define KORVELAN380_SIM_MODULE_MODEL_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "korvelan380_sim.hpp"

namespace korvelan380::sim::detail {

struct Handle;

inline constexpr uint8_t kStx = 0x02;
inline constexpr uint8_t kEtx = 0x03;
inline constexpr uint8_t kDioInputRegister = 9;
inline constexpr uint8_t kExioInputRegister = 10;
inline constexpr size_t kRegisterCount = 256;
inline constexpr size_t kReplyRecordSize = 4;
inline constexpr size_t kStreamChannels = 2;

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

  // False once detached; a handle that still reaches the module then fails with FT_IO_ERROR.
  bool attached = true;
  Handle* openHandle = nullptr;

  std::array<uint8_t, kRegisterCount> regs{};
  std::array<uint32_t, kRegisterCount> regWrites{};
  std::vector<uint8_t> eeprom;
  std::array<std::vector<uint16_t>, kStreamChannels> streams;
  std::array<uint32_t, kStreamChannels> streamCounts{};
  // Stray bytes and dropped frames; only looked at when debugging.
  uint64_t protocolErrors = 0;

  Fault fault;
  uint32_t readChunk = 0;
  uint32_t withheldReplies = 0;
  std::optional<uint32_t> corruptRecord;
  std::optional<uint32_t> cutReplyTo;  // bytes of the next reply that are delivered
  std::vector<uint8_t> surplus;
  uint32_t transmitBusy = 0;

  std::vector<Call> trace;

  // Counts this call of `fn` against the pending fault; true (with its status) when it fires.
  bool TakeFault(Fn fn, uint32_t* status);

  // The receive queue: what FT_Read delivers, oldest first.
  size_t Pending() const { return rx_.size() - rxHead_; }
  size_t Receive(uint8_t* out, size_t maxBytes);
  void Enqueue(const uint8_t* data, size_t length);
  void PurgeReceive();

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

  std::vector<uint8_t> rx_;
  size_t rxHead_ = 0;

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
