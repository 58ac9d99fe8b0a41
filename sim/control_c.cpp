// The C layer over the control interface, for C programs and Python's ctypes.
#include <algorithm>
#include <cstring>
#include <mutex>

#include "korvelan380_sim.h"
#include "korvelan380_sim.hpp"

namespace ksim = korvelan380::sim;

namespace {

// The trace snapshot taken by ksim_trace_count and read by the other ksim_trace_* functions.
std::mutex snapshotMu;
std::vector<ksim::Call> snapshot;

bool ValidFn(int fn) {
  return fn >= KSIM_FN_OPEN_EX && fn <= KSIM_FN_ANY;
}

// Copies the snapshot entry's field out under the snapshot mutex; `fallback` when out of range.
template <typename F, typename R>
R WithEntry(size_t index, R fallback, F&& f) {
  std::lock_guard lock(snapshotMu);
  if (index >= snapshot.size()) return fallback;
  return f(snapshot[index]);
}

}  // namespace

extern "C" {

void ksim_reset(void) {
  ksim::Reset();
  std::lock_guard lock(snapshotMu);
  snapshot.clear();
}

int ksim_attach(const char* serial, size_t eeprom_size) {
  return serial != nullptr && ksim::Attach(serial, eeprom_size) ? 1 : 0;
}

int ksim_detach(const char* serial) {
  return serial != nullptr && ksim::Detach(serial) ? 1 : 0;
}

int ksim_is_attached(const char* serial) {
  return serial != nullptr && ksim::IsAttached(serial) ? 1 : 0;
}

int ksim_is_open(const char* serial) {
  return serial != nullptr && ksim::IsOpen(serial) ? 1 : 0;
}

void ksim_set_register(const char* serial, uint8_t reg, uint8_t value) {
  if (serial != nullptr) ksim::SetRegister(serial, reg, value);
}

uint8_t ksim_register(const char* serial, uint8_t reg) {
  return serial != nullptr ? ksim::Register(serial, reg) : 0;
}

void ksim_registers(const char* serial, uint8_t out[256]) {
  if (out == nullptr) return;
  const auto regs = serial != nullptr ? ksim::Registers(serial) : std::array<uint8_t, 256>{};
  std::memcpy(out, regs.data(), regs.size());
}

void ksim_set_eeprom(const char* serial, const uint8_t* data, size_t length) {
  if (serial == nullptr || (data == nullptr && length > 0)) return;
  ksim::SetEeprom(serial, std::vector<uint8_t>(data, data + length));
}

size_t ksim_eeprom(const char* serial, uint8_t* out, size_t capacity) {
  if (serial == nullptr) return 0;
  const auto content = ksim::Eeprom(serial);
  if (out != nullptr) std::copy_n(content.begin(), std::min(capacity, content.size()), out);
  return content.size();
}

void ksim_set_ideal_calibration(const char* serial) {
  if (serial != nullptr) ksim::SetIdealCalibration(serial);
}

size_t ksim_stream_samples(const char* serial, uint8_t channel, uint16_t* out, size_t capacity) {
  if (serial == nullptr) return 0;
  const auto samples = ksim::StreamSamples(serial, channel);
  if (out != nullptr) std::copy_n(samples.begin(), std::min(capacity, samples.size()), out);
  return samples.size();
}

uint32_t ksim_stream_count(const char* serial, uint8_t channel) {
  return serial != nullptr ? ksim::StreamCount(serial, channel) : 0;
}

size_t ksim_export_state(const char* serial, uint8_t* out, size_t capacity) {
  if (serial == nullptr) return 0;
  const auto bytes = ksim::EncodeState(ksim::CaptureState(serial));
  if (out != nullptr && capacity >= bytes.size()) std::copy(bytes.begin(), bytes.end(), out);
  return bytes.size();
}

int ksim_import_state(const char* serial, const uint8_t* data, size_t length) {
  if (serial == nullptr || (data == nullptr && length > 0)) return 0;
  const auto state = ksim::DecodeState(std::vector<uint8_t>(data, data + length));
  if (!state) return 0;
  ksim::RestoreState(serial, *state);
  return 1;
}

int ksim_measure(const char* serial, uint8_t channel, double* volts) {
  if (serial == nullptr || volts == nullptr) return -1;
  const auto measured = ksim::Measure(serial, channel);
  if (!measured) return -1;
  *volts = *measured;
  return 0;
}

int ksim_set_output_error(const char* serial, uint8_t channel, uint8_t range, double gain_error,
                          double offset_error_codes) {
  if (serial == nullptr) return -1;
  return ksim::SetOutputError(serial, channel, range, {gain_error, offset_error_codes}) ? 0 : -1;
}

int ksim_output_error(const char* serial, uint8_t channel, uint8_t range, double* gain_error,
                      double* offset_error_codes) {
  if (serial == nullptr || gain_error == nullptr || offset_error_codes == nullptr) return -1;
  const auto error = ksim::OutputError(serial, channel, range);
  if (!error) return -1;
  *gain_error = error->gain;
  *offset_error_codes = error->offsetCodes;
  return 0;
}

size_t ksim_pending_receive(const char* serial) {
  return serial != nullptr ? ksim::PendingReceive(serial) : 0;
}

void ksim_queue_receive(const char* serial, const uint8_t* data, size_t length) {
  if (serial == nullptr || (data == nullptr && length > 0)) return;
  ksim::QueueReceive(serial, std::vector<uint8_t>(data, data + length));
}

void ksim_fail_call(const char* serial, int fn, uint32_t nth, uint32_t status) {
  if (serial != nullptr && ValidFn(fn)) {
    ksim::FailCall(serial, static_cast<ksim::Fn>(fn), nth, status);
  }
}

void ksim_set_read_chunk(const char* serial, uint32_t max_bytes_per_read) {
  if (serial != nullptr) ksim::SetReadChunk(serial, max_bytes_per_read);
}

void ksim_withhold_replies(const char* serial, uint32_t count) {
  if (serial != nullptr) ksim::WithholdReplies(serial, count);
}

void ksim_cut_next_reply(const char* serial, uint32_t keep_bytes) {
  if (serial != nullptr) ksim::CutNextReply(serial, keep_bytes);
}

void ksim_corrupt_next_reply(const char* serial, uint32_t record) {
  if (serial != nullptr) ksim::CorruptNextReply(serial, record);
}

void ksim_add_surplus_to_next_reply(const char* serial, const uint8_t* data, size_t length) {
  if (serial == nullptr || (data == nullptr && length > 0)) return;
  ksim::AddSurplusToNextReply(serial, std::vector<uint8_t>(data, data + length));
}

void ksim_set_transmit_busy(const char* serial, uint32_t calls) {
  if (serial != nullptr) ksim::SetTransmitBusy(serial, calls);
}

void ksim_set_reply_latency_us(const char* serial, uint32_t microseconds) {
  if (serial != nullptr) ksim::SetReplyLatency(serial, microseconds);
}

void ksim_set_read_timeout_ms(const char* serial, uint32_t milliseconds) {
  if (serial != nullptr) ksim::SetReadTimeout(serial, milliseconds);
}

size_t ksim_trace_count(const char* serial) {
  auto calls = serial != nullptr ? ksim::Trace(serial) : ksim::Trace();
  std::lock_guard lock(snapshotMu);
  snapshot = std::move(calls);
  return snapshot.size();
}

int ksim_trace_fn(size_t index) {
  return WithEntry(index, 0, [](const ksim::Call& c) { return static_cast<int>(c.fn); });
}

uint32_t ksim_trace_arg(size_t index) {
  return WithEntry(index, uint32_t{0}, [](const ksim::Call& c) { return c.arg; });
}

uint32_t ksim_trace_status(size_t index) {
  return WithEntry(index, uint32_t{0}, [](const ksim::Call& c) { return c.status; });
}

size_t ksim_trace_serial(size_t index, char* out, size_t capacity) {
  if (out != nullptr && capacity > 0) out[0] = '\0';
  return WithEntry(index, size_t{0}, [&](const ksim::Call& c) {
    if (out != nullptr && capacity > 0) {
      const size_t n = std::min(capacity - 1, c.serial.size());
      std::memcpy(out, c.serial.data(), n);
      out[n] = '\0';
    }
    return c.serial.size();
  });
}

size_t ksim_trace_data(size_t index, uint8_t* out, size_t capacity) {
  return WithEntry(index, size_t{0}, [&](const ksim::Call& c) {
    if (out != nullptr) std::copy_n(c.data.begin(), std::min(capacity, c.data.size()), out);
    return c.data.size();
  });
}

void ksim_clear_trace(void) {
  ksim::ClearTrace();
}

void ksim_set_tracing(int on) {
  ksim::SetTracing(on != 0);
}

const char* ksim_fn_name(int fn) {
  return ValidFn(fn) ? ksim::FnName(static_cast<ksim::Fn>(fn)) : "unknown";
}

}  // extern "C"
