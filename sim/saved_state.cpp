// A module's saved state: taking it from a module, putting it back, and its byte format.
#include <bit>
#include <cmath>
#include <cstring>

#include "korvelan380_sim.hpp"
#include "module_model.h"
#include "sim_state.h"

namespace korvelan380::sim {
namespace {

constexpr uint8_t kMagic[4] = {'K', 'S', 'I', 'M'};
constexpr uint8_t kVersion = 1;
constexpr uint8_t kAttachedFlag = 0x01;
constexpr uint8_t kOutputErrorsFlag = 0x02;
constexpr size_t kHeaderSize = sizeof kMagic + 2;

void PutU32(std::vector<uint8_t>& out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

void PutDouble(std::vector<uint8_t>& out, double value) {
  const auto bits = std::bit_cast<uint64_t>(value);
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<uint8_t>(bits >> (8 * i)));
}

// Reads the byte format front to back; every take fails once the bytes run out.
class Reader {
 public:
  explicit Reader(const std::vector<uint8_t>& bytes) : bytes_(bytes) {}

  bool Take(void* out, size_t n) {
    if (bytes_.size() - pos_ < n) return false;
    if (n != 0) std::memcpy(out, bytes_.data() + pos_, n);
    pos_ += n;
    return true;
  }
  bool TakeU32(uint32_t& value) {
    uint8_t b[4];
    if (!Take(b, 4)) return false;
    value = uint32_t{b[0]} | uint32_t{b[1]} << 8 | uint32_t{b[2]} << 16 | uint32_t{b[3]} << 24;
    return true;
  }
  bool TakeDouble(double& value) {
    uint8_t b[8];
    if (!Take(b, 8)) return false;
    uint64_t bits = 0;
    for (int i = 7; i >= 0; --i) bits = bits << 8 | b[i];
    value = std::bit_cast<double>(bits);
    return true;
  }
  size_t Remaining() const { return bytes_.size() - pos_; }

 private:
  const std::vector<uint8_t>& bytes_;
  size_t pos_ = 0;
};

}  // namespace

ModuleState CaptureState(const std::string& serial) {
  ModuleState state;
  std::shared_ptr<detail::Module> module = detail::FindModule(serial);
  if (!module) return state;
  std::lock_guard lock(module->mu);
  state.attached = true;
  state.registers = module->regs;
  state.eeprom = module->eeprom;
  state.streams = module->streams;
  state.streamCounts = module->streamCounts;
  // Errors derived from the serial come back by themselves; only errors set by hand are kept.
  if (!detail::SameErrors(module->outputErrors, detail::DerivedOutputErrors(serial))) {
    state.outputErrors = module->outputErrors;
  }
  return state;
}

void RestoreState(const std::string& serial, const ModuleState& state) {
  if (!state.attached) {
    Detach(serial);
    return;
  }
  Attach(serial, state.eeprom.size());
  std::shared_ptr<detail::Module> module = detail::FindModule(serial);
  if (!module) return;
  std::lock_guard lock(module->mu);
  module->regs = state.registers;
  module->eeprom = state.eeprom;
  module->streams = state.streams;
  module->streamCounts = state.streamCounts;
  module->outputErrors = state.outputErrors.value_or(detail::DerivedOutputErrors(serial));
}

std::vector<uint8_t> EncodeState(const ModuleState& state) {
  std::vector<uint8_t> out(std::begin(kMagic), std::end(kMagic));
  out.push_back(kVersion);
  out.push_back(static_cast<uint8_t>((state.attached ? kAttachedFlag : 0) |
                                     (state.outputErrors ? kOutputErrorsFlag : 0)));
  out.insert(out.end(), state.registers.begin(), state.registers.end());
  PutU32(out, static_cast<uint32_t>(state.eeprom.size()));
  out.insert(out.end(), state.eeprom.begin(), state.eeprom.end());
  for (size_t channel = 0; channel < state.streams.size(); ++channel) {
    PutU32(out, state.streamCounts[channel]);
    PutU32(out, static_cast<uint32_t>(state.streams[channel].size()));
    for (uint16_t sample : state.streams[channel]) {
      out.push_back(static_cast<uint8_t>(sample));
      out.push_back(static_cast<uint8_t>(sample >> 8));
    }
  }
  if (state.outputErrors) {
    for (const ConverterError& error : *state.outputErrors) {
      PutDouble(out, error.gain);
      PutDouble(out, error.offsetCodes);
    }
  }
  return out;
}

std::optional<ModuleState> DecodeState(const std::vector<uint8_t>& bytes) {
  Reader in(bytes);
  uint8_t header[kHeaderSize];
  if (!in.Take(header, sizeof header)) return std::nullopt;
  if (std::memcmp(header, kMagic, sizeof kMagic) != 0 || header[4] != kVersion) {
    return std::nullopt;
  }
  const uint8_t flags = header[5];
  if ((flags & ~(kAttachedFlag | kOutputErrorsFlag)) != 0) return std::nullopt;
  ModuleState state;
  state.attached = (flags & kAttachedFlag) != 0;
  if (!in.Take(state.registers.data(), state.registers.size())) return std::nullopt;
  uint32_t eepromSize = 0;
  if (!in.TakeU32(eepromSize) || eepromSize > in.Remaining()) return std::nullopt;
  state.eeprom.resize(eepromSize);
  if (!in.Take(state.eeprom.data(), eepromSize)) return std::nullopt;
  for (size_t channel = 0; channel < state.streams.size(); ++channel) {
    uint32_t samples = 0;
    if (!in.TakeU32(state.streamCounts[channel]) || !in.TakeU32(samples)) return std::nullopt;
    if (samples > in.Remaining() / 2) return std::nullopt;
    std::vector<uint16_t>& stream = state.streams[channel];
    stream.resize(samples);
    for (uint16_t& sample : stream) {
      uint8_t b[2];
      in.Take(b, 2);
      sample = static_cast<uint16_t>(b[0] | b[1] << 8);
    }
  }
  if ((flags & kOutputErrorsFlag) != 0) {
    auto& errors = state.outputErrors.emplace();
    for (ConverterError& error : errors) {
      if (!in.TakeDouble(error.gain) || !in.TakeDouble(error.offsetCodes)) return std::nullopt;
      if (!std::isfinite(error.gain) || !std::isfinite(error.offsetCodes)) return std::nullopt;
    }
  }
  if (in.Remaining() != 0) return std::nullopt;
  return state;
}

}  // namespace korvelan380::sim
