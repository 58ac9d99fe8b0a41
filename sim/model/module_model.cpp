#include "module_model.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <utility>

namespace korvelan380::sim::detail {
namespace {

// Value of each byte as a hex digit (either case), -1 for anything else.
constexpr std::array<int8_t, 256> MakeHexTable() {
  std::array<int8_t, 256> table{};
  for (auto& entry : table) entry = -1;
  for (int c = '0'; c <= '9'; ++c) table[c] = static_cast<int8_t>(c - '0');
  for (int c = 'A'; c <= 'F'; ++c) table[c] = static_cast<int8_t>(c - 'A' + 10);
  for (int c = 'a'; c <= 'f'; ++c) table[c] = static_cast<int8_t>(c - 'a' + 10);
  return table;
}
constexpr std::array<int8_t, 256> kHexValue = MakeHexTable();

// A byte that the reply corruption puts where the record's 'R' belongs.
constexpr uint8_t kCorruptMarker = 0x21;
// The receive queue drops its consumed front once that much has piled up in front of unread data.
constexpr size_t kCompactThreshold = 4096;

// The gate registers of channels 0 and 1: a write sets the gate in bit 0, and the module reports
// it in bit 1, where it is read back. The third gate register (5) reports it in bit 0 as written.
constexpr size_t kGateRegisters[] = {26, 28};
constexpr uint8_t kGateWritten = 0x01;
constexpr uint8_t kGateReported = 0x02;

// What a register holds after `value` is written to it.
uint8_t AfterWrite(size_t reg, uint8_t value) {
  if (reg != kGateRegisters[0] && reg != kGateRegisters[1]) return value;
  return static_cast<uint8_t>((value & ~kGateReported) |
                              ((value & kGateWritten) ? kGateReported : 0));
}

constexpr size_t kCalibrationSize = 88;
constexpr uint8_t kCalibrationMarker = 0x55;
constexpr size_t kCalibrationGains = 4;
constexpr size_t kCalibrationOffsets = 60;
// Full span of each output range in volts: four bipolar ranges, then three unipolar ones.
constexpr double kRangeSpan[kRanges] = {20.0, 10.0, 5.0, 2.5, 10.0, 5.0, 2.5};
constexpr size_t kBipolarRanges = 4;
constexpr uint16_t kBipolarOffset = 0x2000;
constexpr double kCodesPerSpan = 16384.0;

// Where the outputs are set: the range, and the code (two registers, high byte first).
constexpr size_t kRangeRegisters[kStreamChannels] = {34, 35};
constexpr size_t kOutputRegisters[kStreamChannels] = {42, 44};
constexpr unsigned kMaxCode = 0x3FFF;  // the converter's 14 bits

// The derived errors' bounds: those of a real converter of this class, trimmed at the factory.
constexpr double kMaxGainError = 0.004;
constexpr double kMinOffsetError = 2.0;
constexpr double kMaxOffsetError = 6.0;

// splitmix64: a small generator whose sequence its seed fixes on every platform.
uint64_t NextRandom(uint64_t& state) {
  uint64_t z = (state += 0x9E3779B97F4A7C15u);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
  return z ^ (z >> 31);
}

// A number in [0, 1).
double Uniform(uint64_t& state) {
  return static_cast<double>(NextRandom(state) >> 11) * 0x1p-53;
}

void PutLe(uint8_t* out, uint32_t value, size_t bytes) {
  for (size_t i = 0; i < bytes; ++i) out[i] = static_cast<uint8_t>(value >> (8 * i));
}

}  // namespace

std::vector<uint8_t> IdealCalibrationRecord() {
  std::vector<uint8_t> record(kCalibrationSize, 0);
  record[0] = kCalibrationMarker;
  for (size_t channel = 0; channel < kStreamChannels; ++channel) {
    for (size_t range = 0; range < kRanges; ++range) {
      const size_t entry = channel * kRanges + range;
      const auto gain = static_cast<float>(kRangeSpan[range] / kCodesPerSpan);
      PutLe(&record[kCalibrationGains + 4 * entry], std::bit_cast<uint32_t>(gain), 4);
      const uint16_t offset = range < 4 ? kBipolarOffset : 0;
      PutLe(&record[kCalibrationOffsets + 2 * entry], offset, 2);
    }
  }
  return record;
}

OutputErrors DerivedOutputErrors(const std::string& serial) {
  uint64_t state = 0xCBF29CE484222325u;  // the serial's FNV-1a hash seeds the generator
  for (unsigned char c : serial) state = (state ^ c) * 0x100000001B3u;
  OutputErrors errors;
  for (ConverterError& error : errors) {
    error.gain = (2.0 * Uniform(state) - 1.0) * kMaxGainError;
    const double offset = kMinOffsetError + (kMaxOffsetError - kMinOffsetError) * Uniform(state);
    error.offsetCodes = (NextRandom(state) & 1) != 0 ? -offset : offset;
  }
  return errors;
}

bool SameErrors(const OutputErrors& a, const OutputErrors& b) {
  return std::equal(a.begin(), a.end(), b.begin(), [](const auto& x, const auto& y) {
    return x.gain == y.gain && x.offsetCodes == y.offsetCodes;
  });
}

Module::Module(std::string serialNumber, size_t eepromSize)
    : serial(std::move(serialNumber)),
      eeprom(eepromSize, 0xFF),
      outputErrors(DerivedOutputErrors(serial)) {}

std::optional<double> Module::OutputVolts(size_t channel) const {
  if (channel >= kStreamChannels) return std::nullopt;
  const size_t range = regs[kRangeRegisters[channel]];
  if (range >= kRanges) return 0.0;  // no range: the output is off
  const size_t first = kOutputRegisters[channel];
  const unsigned code = std::min(unsigned{regs[first]} << 8 | regs[first + 1], kMaxCode);
  const double zero = range < kBipolarRanges ? kBipolarOffset : 0;
  const ConverterError& error = outputErrors[channel * kRanges + range];
  return (code - zero - error.offsetCodes) * (kRangeSpan[range] / kCodesPerSpan) *
         (1.0 + error.gain);
}

bool Module::SetOutputError(size_t channel, size_t range, const ConverterError& error) {
  if (channel >= kStreamChannels || range >= kRanges) return false;
  if (!std::isfinite(error.gain) || !std::isfinite(error.offsetCodes)) return false;
  outputErrors[channel * kRanges + range] = error;
  return true;
}

bool Module::TakeFault(Fn fn, uint32_t* status) {
  if (!fault.armed || (fault.fn != Fn::Any && fault.fn != fn)) return false;
  if (--fault.remaining != 0) return false;
  fault.armed = false;
  *status = fault.status;
  return true;
}

void Module::ReleaseHeld() {
  if (held_.empty()) return;
  const uint64_t now = NowNs();
  while (!held_.empty() && held_.front().readyNs <= now) held_.pop_front();
}

size_t Module::Pending() {
  ReleaseHeld();
  const size_t end = held_.empty() ? rx_.size() : held_.front().begin;
  return end - rxHead_;
}

size_t Module::Receive(uint8_t* out, size_t maxBytes) {
  const size_t n = std::min(maxBytes, Pending());
  if (n == 0) return 0;
  std::memcpy(out, rx_.data() + rxHead_, n);
  rxHead_ += n;
  if (rxHead_ == rx_.size()) {
    rx_.clear();  // keeps the capacity: no allocation once the queue has grown to its working size
    rxHead_ = 0;
  }
  return n;
}

void Module::Enqueue(const uint8_t* data, size_t length, uint64_t readyNs) {
  if (length == 0) return;
  if (rxHead_ >= kCompactThreshold && rxHead_ * 2 >= rx_.size()) {
    rx_.erase(rx_.begin(), rx_.begin() + static_cast<std::ptrdiff_t>(rxHead_));
    for (Held& held : held_) held.begin -= rxHead_;
    rxHead_ = 0;
  }
  // Bytes are read in order: nothing becomes readable before the bytes queued ahead of it.
  if (!held_.empty()) readyNs = std::max(readyNs, held_.back().readyNs);
  if (readyNs != 0) held_.push_back(Held{rx_.size(), readyNs});
  rx_.insert(rx_.end(), data, data + length);
  changed.notify_all();
}

void Module::PurgeReceive() {
  rx_.clear();
  rxHead_ = 0;
  held_.clear();
}

void Module::StartFrame(ParseState state, size_t remainingInWrite) {
  state_ = state;
  digits_ = 0;
  acc_ = 0;
  valueCount_ = 0;
  if (state == ParseState::kStream) {
    samples_.clear();
    // Four hex digits per sample: enough room for the whole stream when it came in one write.
    samples_.reserve(remainingInWrite / 4);
  }
}

void Module::DropFrame() {
  ++protocolErrors;
  state_ = ParseState::kSkip;
  samples_.clear();
}

void Module::FinishWrite() {
  if (digits_ % 2 != 0 || valueCount_ == 0) {
    DropFrame();
    return;
  }
  for (size_t i = 0; i < valueCount_; ++i) {
    const size_t reg = first_ + i;
    ++regWrites[reg];
    if (reg != kDioInputRegister && reg != kExioInputRegister)
      regs[reg] = AfterWrite(reg, values_[i]);
  }
  state_ = ParseState::kIdle;
}

void Module::FinishRead() {
  if (digits_ != 4 || first_ > last_) {
    DropFrame();
    return;
  }
  state_ = ParseState::kIdle;
  if (withheldReplies > 0) {
    --withheldReplies;
    return;
  }
  const size_t records = static_cast<size_t>(last_ - first_) + 1;
  // A read reply is four bytes per register: STX, 'R', the value, ETX.
  std::array<uint8_t, kRegisterCount * kReplyRecordSize> reply;
  for (size_t i = 0; i < records; ++i) {
    uint8_t* record = reply.data() + i * kReplyRecordSize;
    record[0] = kStx;
    record[1] = 'R';
    record[2] = regs[first_ + i];
    record[3] = kEtx;
  }
  if (corruptRecord) {
    if (*corruptRecord < records) reply[*corruptRecord * kReplyRecordSize + 1] = kCorruptMarker;
    corruptRecord.reset();
  }
  size_t length = records * kReplyRecordSize;
  if (cutReplyTo) {
    if (*cutReplyTo < length) length = *cutReplyTo;
    cutReplyTo.reset();
  }
  const uint64_t readyNs = replyLatencyUs == 0 ? 0 : NowNs() + uint64_t{replyLatencyUs} * 1000;
  Enqueue(reply.data(), length, readyNs);
  if (!surplus.empty()) {
    Enqueue(surplus.data(), surplus.size(), readyNs);
    surplus.clear();
  }
}

void Module::FinishStream() {
  if (digits_ < 2 || (digits_ - 2) % 4 != 0) {
    DropFrame();
    return;
  }
  streams[first_].swap(samples_);
  samples_.clear();
  ++streamCounts[first_];
  state_ = ParseState::kIdle;
}

size_t Module::FeedStreamDigits(const uint8_t* data, size_t length) {
  const size_t needed = samples_.size() + length / 4 + 1;
  if (needed > samples_.capacity()) samples_.reserve(std::max(needed, samples_.capacity() * 2));

  size_t nibbles = (digits_ - 2) % 4;
  uint32_t acc = acc_;
  size_t i = 0;
  // Whole samples four digits at a time; one digit at a time for a sample split across writes.
  while (i < length) {
    if (nibbles == 0 && i + 4 <= length) {
      const int a = kHexValue[data[i]];
      const int b = kHexValue[data[i + 1]];
      const int c = kHexValue[data[i + 2]];
      const int d = kHexValue[data[i + 3]];
      if ((a | b | c | d) >= 0) {
        samples_.push_back(static_cast<uint16_t>((a << 12) | (b << 8) | (c << 4) | d));
        i += 4;
        continue;
      }
    }
    const int v = kHexValue[data[i]];
    if (v < 0) break;
    acc = (acc << 4) | static_cast<uint32_t>(v);
    ++i;
    if (++nibbles == 4) {
      samples_.push_back(static_cast<uint16_t>(acc));
      acc = 0;
      nibbles = 0;
    }
  }
  digits_ += i;
  acc_ = acc;
  return i;
}

void Module::Feed(const uint8_t* data, size_t length) {
  size_t i = 0;
  while (i < length) {
    if (state_ == ParseState::kStream && digits_ >= 2) {
      i += FeedStreamDigits(data + i, length - i);
      if (i == length) break;
    }
    const uint8_t byte = data[i++];
    if (byte == kStx) {
      // An STX always starts a new frame; one in the middle of a frame abandons that frame.
      if (state_ != ParseState::kIdle && state_ != ParseState::kSkip) ++protocolErrors;
      state_ = ParseState::kCommand;
    } else if (state_ == ParseState::kIdle) {
      ++protocolErrors;
    } else if (state_ == ParseState::kCommand) {
      FeedCommand(byte, length - i);
    } else if (state_ != ParseState::kSkip) {
      FeedFrameByte(byte);
    }
  }
}

void Module::FeedCommand(uint8_t byte, size_t remainingInWrite) {
  if (byte == 'W') {
    StartFrame(ParseState::kWrite, 0);
  } else if (byte == 'R') {
    StartFrame(ParseState::kRead, 0);
  } else if (byte == 'X') {
    StartFrame(ParseState::kStream, remainingInWrite);
  } else {
    DropFrame();
  }
}

void Module::FeedFrameByte(uint8_t byte) {
  if (byte == kEtx) {
    if (state_ == ParseState::kWrite) {
      FinishWrite();
    } else if (state_ == ParseState::kRead) {
      FinishRead();
    } else {
      FinishStream();
    }
    return;
  }
  const int v = kHexValue[byte];
  if (v < 0) {
    DropFrame();
    return;
  }
  acc_ = (acc_ << 4) | static_cast<uint32_t>(v);
  ++digits_;
  if (digits_ == 2) {
    // The first byte of every frame: W/R first register, X channel.
    first_ = static_cast<uint8_t>(acc_);
    acc_ = 0;
    if (state_ == ParseState::kStream && first_ >= kStreamChannels) DropFrame();
  } else if (state_ == ParseState::kWrite && digits_ % 2 == 0) {
    if (first_ + valueCount_ >= kRegisterCount) {
      DropFrame();  // the run would go past register 255
    } else {
      values_[valueCount_++] = static_cast<uint8_t>(acc_);
      acc_ = 0;
    }
  } else if (state_ == ParseState::kRead && digits_ >= 4) {
    if (digits_ > 4) {
      DropFrame();
    } else {
      last_ = static_cast<uint8_t>(acc_);
      acc_ = 0;
    }
  }
}

}  // namespace korvelan380::sim::detail
