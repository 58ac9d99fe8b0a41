// The C++ control interface of the simulated modules.
#include <algorithm>
#include <iterator>

#include "korvelan380_sim.hpp"
#include "module_model.h"
#include "replay.h"
#include "sim_state.h"

namespace korvelan380::sim {
namespace {

using detail::FindModule;
using detail::Global;
using detail::Module;

// Runs `f(module)` with the module's mutex held; returns `fallback` for an unknown serial.
template <typename F, typename R>
R WithModule(const std::string& serial, R fallback, F&& f) {
  std::shared_ptr<Module> module = FindModule(serial);
  if (!module) return fallback;
  std::lock_guard lock(module->mu);
  return f(*module);
}

template <typename F>
void WithModule(const std::string& serial, F&& f) {
  std::shared_ptr<Module> module = FindModule(serial);
  if (!module) return;
  std::lock_guard lock(module->mu);
  f(*module);
}

using capture::DriverCall;

// The trace's public form: in the order the calls were made.
std::vector<Call> PublicTrace(std::vector<DriverCall> calls) {
  std::sort(calls.begin(), calls.end(),
            [](const DriverCall& a, const DriverCall& b) { return a.seq < b.seq; });
  std::vector<Call> out;
  out.reserve(calls.size());
  for (DriverCall& c : calls) {
    out.push_back(Call{c.seq, c.t0, static_cast<Fn>(c.fn), std::move(c.serial), c.arg,
                       std::move(c.data), c.status});
  }
  return out;
}

}  // namespace

// The public numbering is the driver list's; Any follows the last function.
static_assert(static_cast<int>(Fn::OpenEx) == D2XX_FT_OpenEx &&
              static_cast<int>(Fn::Close) == D2XX_FT_Close &&
              static_cast<int>(Fn::Read) == D2XX_FT_Read &&
              static_cast<int>(Fn::Write) == D2XX_FT_Write &&
              static_cast<int>(Fn::Purge) == D2XX_FT_Purge &&
              static_cast<int>(Fn::GetQueueStatus) == D2XX_FT_GetQueueStatus &&
              static_cast<int>(Fn::GetStatus) == D2XX_FT_GetStatus &&
              static_cast<int>(Fn::EeUaSize) == D2XX_FT_EE_UASize &&
              static_cast<int>(Fn::EeUaRead) == D2XX_FT_EE_UARead &&
              static_cast<int>(Fn::EeUaWrite) == D2XX_FT_EE_UAWrite &&
              static_cast<int>(Fn::SetTimeouts) == D2XX_FT_SetTimeouts &&
              static_cast<int>(Fn::SetLatencyTimer) == D2XX_FT_SetLatencyTimer &&
              static_cast<int>(Fn::Any) == D2XX_FUNCTION_COUNT);

const char* FnName(Fn fn) {
  if (fn == Fn::Any) return "any";
  const char* name = d2xx::FunctionName(static_cast<int>(fn));
  return *name != '\0' ? name : "unknown";
}

// ---- Modules -------------------------------------------------------------------------------

void Reset() {
  auto& g = Global();
  std::lock_guard registryLock(g.registryMu);
  for (auto& [serial, module] : g.modules) {
    std::lock_guard lock(module->mu);
    module->attached = false;
    module->changed.notify_all();
  }
  g.modules.clear();
  {
    std::lock_guard lock(g.orphanMu);
    g.orphanTrace.clear();
  }
  g.tracing.store(true, std::memory_order_relaxed);
  // A replay is state too: what comes after a reset is answered by the model again.
  replay::Stop();
}

bool Attach(const std::string& serial, size_t eepromSize) {
  auto& g = Global();
  std::lock_guard lock(g.registryMu);
  if (g.modules.count(serial) != 0) return false;
  // Not make_shared: handles keep a weak_ptr for ever, and that must not pin the module's memory.
  g.modules.emplace(serial, std::shared_ptr<Module>(new Module(serial, eepromSize)));
  return true;
}

bool Detach(const std::string& serial) {
  auto& g = Global();
  std::lock_guard registryLock(g.registryMu);
  auto it = g.modules.find(serial);
  if (it == g.modules.end()) return false;
  std::shared_ptr<Module> module = std::move(it->second);
  g.modules.erase(it);
  std::lock_guard moduleLock(module->mu);
  module->attached = false;
  module->changed.notify_all();  // a read waiting on the module gives up
  // The module's calls stay in Trace() after it is gone.
  std::lock_guard orphanLock(g.orphanMu);
  g.orphanTrace.insert(g.orphanTrace.end(), std::make_move_iterator(module->trace.begin()),
                       std::make_move_iterator(module->trace.end()));
  module->trace.clear();
  return true;
}

bool IsAttached(const std::string& serial) {
  return FindModule(serial) != nullptr;
}

bool IsOpen(const std::string& serial) {
  return WithModule(serial, false, [](Module& m) { return m.openHandle != nullptr; });
}

std::vector<std::string> AttachedSerials() {
  auto& g = Global();
  std::lock_guard lock(g.registryMu);
  std::vector<std::string> serials;
  serials.reserve(g.modules.size());
  for (const auto& entry : g.modules) serials.push_back(entry.first);
  return serials;
}

void SetRegister(const std::string& serial, uint8_t reg, uint8_t value) {
  WithModule(serial, [&](Module& m) { m.regs[reg] = value; });
}

uint8_t Register(const std::string& serial, uint8_t reg) {
  return WithModule(serial, uint8_t{0}, [&](Module& m) { return m.regs[reg]; });
}

std::array<uint8_t, 256> Registers(const std::string& serial) {
  return WithModule(serial, std::array<uint8_t, 256>{}, [](Module& m) { return m.regs; });
}

uint32_t RegisterWrites(const std::string& serial, uint8_t reg) {
  return WithModule(serial, uint32_t{0}, [&](Module& m) { return m.regWrites[reg]; });
}

void SetEeprom(const std::string& serial, const std::vector<uint8_t>& content) {
  WithModule(serial, [&](Module& m) { m.eeprom = content; });
}

std::vector<uint8_t> Eeprom(const std::string& serial) {
  return WithModule(serial, std::vector<uint8_t>{}, [](Module& m) { return m.eeprom; });
}

void SetIdealCalibration(const std::string& serial) {
  const std::vector<uint8_t> record = detail::IdealCalibrationRecord();
  WithModule(serial, [&](Module& m) {
    if (m.eeprom.size() < record.size()) m.eeprom.resize(record.size(), 0xFF);
    std::copy(record.begin(), record.end(), m.eeprom.begin());
  });
}

std::vector<uint16_t> StreamSamples(const std::string& serial, uint8_t channel) {
  if (channel >= detail::kStreamChannels) return {};
  return WithModule(serial, std::vector<uint16_t>{}, [&](Module& m) { return m.streams[channel]; });
}

uint32_t StreamCount(const std::string& serial, uint8_t channel) {
  if (channel >= detail::kStreamChannels) return 0;
  return WithModule(serial, uint32_t{0}, [&](Module& m) { return m.streamCounts[channel]; });
}

size_t PendingReceive(const std::string& serial) {
  return WithModule(serial, size_t{0}, [](Module& m) { return m.Pending(); });
}

void QueueReceive(const std::string& serial, const std::vector<uint8_t>& bytes) {
  WithModule(serial, [&](Module& m) { m.Enqueue(bytes.data(), bytes.size()); });
}

// ---- Outputs -------------------------------------------------------------------------------

std::optional<double> Measure(const std::string& serial, uint8_t channel) {
  return WithModule(serial, std::optional<double>{},
                    [&](Module& m) { return m.OutputVolts(channel); });
}

bool SetOutputError(const std::string& serial, uint8_t channel, uint8_t range,
                    const ConverterError& error) {
  return WithModule(serial, false,
                    [&](Module& m) { return m.SetOutputError(channel, range, error); });
}

std::optional<ConverterError> OutputError(const std::string& serial, uint8_t channel,
                                          uint8_t range) {
  if (channel >= detail::kStreamChannels || range >= detail::kRanges) return std::nullopt;
  return WithModule(serial, std::optional<ConverterError>{}, [&](Module& m) {
    return std::optional(m.outputErrors[channel * detail::kRanges + range]);
  });
}

// ---- Faults --------------------------------------------------------------------------------

void FailCall(const std::string& serial, Fn fn, uint32_t nth, uint32_t status) {
  WithModule(serial, [&](Module& m) {
    // nth 0 names no call: it just cancels the pending fault.
    m.fault = detail::Fault{nth != 0, fn, nth, status};
  });
}

void SetReadChunk(const std::string& serial, uint32_t maxBytesPerRead) {
  WithModule(serial, [&](Module& m) { m.readChunk = maxBytesPerRead; });
}

void WithholdReplies(const std::string& serial, uint32_t count) {
  WithModule(serial, [&](Module& m) { m.withheldReplies = count; });
}

void CutNextReply(const std::string& serial, uint32_t keepBytes) {
  WithModule(serial, [&](Module& m) { m.cutReplyTo = keepBytes; });
}

void CorruptNextReply(const std::string& serial, uint32_t record) {
  WithModule(serial, [&](Module& m) { m.corruptRecord = record; });
}

void AddSurplusToNextReply(const std::string& serial, const std::vector<uint8_t>& bytes) {
  WithModule(serial, [&](Module& m) { m.surplus = bytes; });
}

void SetTransmitBusy(const std::string& serial, uint32_t calls) {
  WithModule(serial, [&](Module& m) { m.transmitBusy = calls; });
}

// ---- Timing --------------------------------------------------------------------------------

void SetReplyLatency(const std::string& serial, uint32_t microseconds) {
  WithModule(serial, [&](Module& m) { m.replyLatencyUs = microseconds; });
}

void SetReadTimeout(const std::string& serial, uint32_t milliseconds) {
  WithModule(serial, [&](Module& m) { m.readTimeoutMs = milliseconds; });
}

// ---- Trace ---------------------------------------------------------------------------------

std::vector<Call> Trace() {
  auto& g = Global();
  // The registry mutex keeps modules from being detached (and their calls moved) meanwhile.
  std::lock_guard registryLock(g.registryMu);
  std::vector<DriverCall> calls;
  for (const auto& entry : g.modules) {
    std::lock_guard lock(entry.second->mu);
    calls.insert(calls.end(), entry.second->trace.begin(), entry.second->trace.end());
  }
  {
    std::lock_guard lock(g.orphanMu);
    calls.insert(calls.end(), g.orphanTrace.begin(), g.orphanTrace.end());
  }
  return PublicTrace(std::move(calls));
}

std::vector<Call> Trace(const std::string& serial) {
  auto& g = Global();
  std::lock_guard registryLock(g.registryMu);
  std::vector<DriverCall> calls;
  auto it = g.modules.find(serial);
  if (it != g.modules.end()) {
    std::lock_guard lock(it->second->mu);
    calls = it->second->trace;
  }
  {
    std::lock_guard lock(g.orphanMu);
    std::copy_if(g.orphanTrace.begin(), g.orphanTrace.end(), std::back_inserter(calls),
                 [&](const DriverCall& call) { return call.serial == serial; });
  }
  return PublicTrace(std::move(calls));
}

void ClearTrace() {
  auto& g = Global();
  std::lock_guard registryLock(g.registryMu);
  for (const auto& entry : g.modules) {
    std::lock_guard lock(entry.second->mu);
    entry.second->trace.clear();
    entry.second->regWrites.fill(0);
  }
  std::lock_guard lock(g.orphanMu);
  g.orphanTrace.clear();
}

void SetTracing(bool on) {
  Global().tracing.store(on, std::memory_order_relaxed);
}

}  // namespace korvelan380::sim
