#include "replay.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

#include "capture_file.h"
#include "sim_state.h"

namespace korvelan380::sim::replay {
namespace {

namespace cap = korvelan380::capture;

// Handle numbers above this are not from a capture the shim wrote.
constexpr uint32_t kMaxHandles = 1u << 16;

struct State {
  std::mutex mu;
  std::vector<cap::DriverCall> calls;
  size_t next = 0;
  std::string departure;
  // The handles handed out are addresses in here, one byte a recorded handle number.
  std::vector<char> slots;
  std::map<uint32_t, std::string> serials;
};

std::atomic<bool> active{false};

State& S() {
  static State* const state = new State;  // never destroyed, like the rest of the simulator
  return *state;
}

uint32_t HandleNumber(State& s, FT_HANDLE handle) {
  const char* p = static_cast<const char*>(handle);
  if (s.slots.empty() || p < s.slots.data() || p >= s.slots.data() + s.slots.size()) return 0;
  return static_cast<uint32_t>(p - s.slots.data());
}

// Why `came` is not the call `expected`, or "".
std::string Difference(const cap::DriverCall& expected, const cap::DriverCall& came) {
  if (came.fn != expected.fn) return "another function";
  if (came.fn != D2XX_FT_OpenEx && came.handle != expected.handle) return "another handle";
  if (came.fn == D2XX_FT_OpenEx && came.serial != expected.serial) return "another serial number";
  if (came.arg != expected.arg || came.arg2 != expected.arg2) {
    return came.fn == D2XX_FT_Purge             ? "another mask"
           : came.fn == D2XX_FT_OpenEx          ? "other flags"
           : came.fn == D2XX_FT_SetTimeouts     ? "other timeouts"
           : came.fn == D2XX_FT_SetLatencyTimer ? "another latency"
                                                : "another length";
  }
  const auto& a = expected.data;
  const auto& b = came.data;
  if ((came.fn == D2XX_FT_Write || came.fn == D2XX_FT_EE_UAWrite) && a != b) {
    const size_t at = static_cast<size_t>(
        std::mismatch(a.begin(), a.end(), b.begin(), b.end()).first - a.begin());
    return "other bytes, from byte " + std::to_string(at);
  }
  return "";
}

// The recorded call that answers `came`, or null once the program has departed from the capture.
// The caller holds the mutex.
const cap::DriverCall* Match(State& s, const cap::DriverCall& came) {
  if (!s.departure.empty()) return nullptr;
  if (s.next == s.calls.size()) {
    s.departure = "the capture's " + std::to_string(s.calls.size()) +
                  " calls are all used, and then came " + cap::DescribeInputs(came);
    return nullptr;
  }
  const cap::DriverCall& expected = s.calls[s.next];
  const std::string why = Difference(expected, came);
  if (!why.empty()) {
    s.departure = "call " + std::to_string(s.next + 1) + " departs from the capture (" + why +
                  "): expected " + cap::DescribeInputs(expected) + ", came " +
                  cap::DescribeInputs(came);
    return nullptr;
  }
  ++s.next;
  return &expected;
}

// Puts the call in the simulator's trace, as the model's calls are.
void Trace(State& s, const cap::DriverCall& came, const cap::DriverCall* answer, FT_STATUS status) {
  auto& g = detail::Global();
  if (!g.tracing.load(std::memory_order_relaxed)) return;
  cap::DriverCall call;
  call.seq = g.sequence.fetch_add(1, std::memory_order_relaxed) + 1;
  call.t0 = detail::NowNs();
  call.fn = came.fn;
  call.serial = came.fn == D2XX_FT_OpenEx ? came.serial : s.serials[came.handle];
  call.arg = came.arg;
  call.arg2 = came.arg2;
  call.status = status;
  if (came.fn == D2XX_FT_OpenEx) call.data.assign(came.serial.begin(), came.serial.end());
  if (came.fn == D2XX_FT_Write || came.fn == D2XX_FT_EE_UAWrite) call.data = came.data;
  if ((came.fn == D2XX_FT_Read || came.fn == D2XX_FT_EE_UARead) && answer != nullptr &&
      status == FT_OK) {
    call.data = answer->data;
  }
  std::lock_guard lock(g.orphanMu);
  g.orphanTrace.push_back(std::move(call));
}

// Runs one call: matches it, lets `deliver` fill the outputs from the recorded call when that
// one succeeded, and returns the recorded status (FT_IO_ERROR after a departure).
template <typename Deliver>
FT_STATUS Answer(cap::DriverCall& came, FT_HANDLE handle, Deliver&& deliver) {
  State& s = S();
  std::lock_guard lock(s.mu);
  if (came.fn != D2XX_FT_OpenEx) came.handle = HandleNumber(s, handle);
  const cap::DriverCall* answer = Match(s, came);
  const FT_STATUS status = answer != nullptr ? answer->status : FT_STATUS{FT_IO_ERROR};
  if (answer != nullptr && status == FT_OK) deliver(*answer, s);
  Trace(s, came, answer, status);
  return status;
}

cap::DriverCall Came(int fn, uint32_t arg) {
  cap::DriverCall call;
  call.fn = fn;
  call.arg = arg;
  return call;
}

void KeepBytes(cap::DriverCall& call, const void* data, size_t size) {
  if (data != nullptr) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    call.data.assign(bytes, bytes + size);
  }
}

size_t CopyOut(const std::string& text, char* out, size_t capacity) {
  if (out != nullptr && capacity > 0) {
    const size_t n = std::min(text.size(), capacity - 1);
    std::memcpy(out, text.data(), n);
    out[n] = '\0';
  }
  return text.size();
}

}  // namespace

bool Active() {
  return active.load(std::memory_order_acquire);
}

std::string Start(const std::string& path) {
  cap::Capture capture;
  try {
    capture = cap::ReadCapture(path);
  } catch (const cap::CaptureError& e) {
    return e.what();
  }
  if (capture.dropped != 0) {
    return path + ": the capture lost its " + std::to_string(capture.dropped) +
           " oldest calls to its size limit, and a replay starts from the first call";
  }
  uint32_t highest = 0;
  for (const cap::DriverCall& call : capture.calls) highest = std::max(highest, call.handle);
  if (highest >= kMaxHandles) {
    return path + ": handle " + std::to_string(highest) + " is more than a capture ever holds";
  }
  State& s = S();
  std::lock_guard lock(s.mu);
  s.calls = std::move(capture.calls);
  s.next = 0;
  s.departure.clear();
  s.slots.assign(highest + 1u, 0);
  s.serials.clear();
  for (const cap::DriverCall& call : s.calls) {
    if (call.fn == D2XX_FT_OpenEx && call.status == FT_OK) s.serials[call.handle] = call.serial;
  }
  active.store(true, std::memory_order_release);
  return "";
}

void Stop() {
  active.store(false, std::memory_order_release);
}

std::string Departure(bool atEnd) {
  State& s = S();
  std::lock_guard lock(s.mu);
  if (!s.departure.empty() || !atEnd || s.next == s.calls.size()) return s.departure;
  return "the program stopped after " + std::to_string(s.next) + " of the capture's " +
         std::to_string(s.calls.size()) + " calls; the next one recorded is " +
         cap::DescribeInputs(s.calls[s.next]);
}

FT_STATUS FT_OpenEx(void* arg, DWORD flags, FT_HANDLE* handle) {
  cap::DriverCall came = Came(D2XX_FT_OpenEx, flags);
  if (flags == FT_OPEN_BY_SERIAL_NUMBER && arg != nullptr) {
    came.serial = static_cast<const char*>(arg);
  }
  if (handle != nullptr) *handle = nullptr;
  return Answer(came, nullptr, [&](const cap::DriverCall& r, State& s) {
    if (handle != nullptr) *handle = s.slots.data() + r.handle;
  });
}

FT_STATUS FT_Close(FT_HANDLE handle) {
  cap::DriverCall came = Came(D2XX_FT_Close, 0);
  return Answer(came, handle, [](const cap::DriverCall&, State&) {});
}

FT_STATUS FT_Read(FT_HANDLE handle, void* buffer, DWORD toRead, DWORD* bytesRead) {
  cap::DriverCall came = Came(D2XX_FT_Read, toRead);
  if (bytesRead != nullptr) *bytesRead = 0;
  return Answer(came, handle, [&](const cap::DriverCall& r, State&) {
    // The reader checked that the recorded reply fits what was asked for, as this call asks.
    if (buffer == nullptr || bytesRead == nullptr) return;
    if (!r.data.empty()) std::memcpy(buffer, r.data.data(), r.data.size());
    *bytesRead = static_cast<DWORD>(r.data.size());
  });
}

FT_STATUS FT_Write(FT_HANDLE handle, void* buffer, DWORD toWrite, DWORD* written) {
  cap::DriverCall came = Came(D2XX_FT_Write, toWrite);
  KeepBytes(came, buffer, toWrite);
  if (written != nullptr) *written = 0;
  return Answer(came, handle, [&](const cap::DriverCall& r, State&) {
    if (written != nullptr) *written = r.done;
  });
}

FT_STATUS FT_Purge(FT_HANDLE handle, DWORD mask) {
  cap::DriverCall came = Came(D2XX_FT_Purge, mask);
  return Answer(came, handle, [](const cap::DriverCall&, State&) {});
}

FT_STATUS FT_GetQueueStatus(FT_HANDLE handle, DWORD* rxBytes) {
  cap::DriverCall came = Came(D2XX_FT_GetQueueStatus, 0);
  return Answer(came, handle, [&](const cap::DriverCall& r, State&) {
    if (rxBytes != nullptr) *rxBytes = r.rx;
  });
}

FT_STATUS FT_GetStatus(FT_HANDLE handle, DWORD* rxBytes, DWORD* txBytes, DWORD* eventWord) {
  cap::DriverCall came = Came(D2XX_FT_GetStatus, 0);
  return Answer(came, handle, [&](const cap::DriverCall& r, State&) {
    if (rxBytes != nullptr) *rxBytes = r.rx;
    if (txBytes != nullptr) *txBytes = r.tx;
    if (eventWord != nullptr) *eventWord = r.event;
  });
}

FT_STATUS FT_EE_UASize(FT_HANDLE handle, DWORD* size) {
  cap::DriverCall came = Came(D2XX_FT_EE_UASize, 0);
  return Answer(came, handle, [&](const cap::DriverCall& r, State&) {
    if (size != nullptr) *size = r.size;
  });
}

FT_STATUS FT_EE_UARead(FT_HANDLE handle, unsigned char* data, DWORD length, DWORD* bytesRead) {
  cap::DriverCall came = Came(D2XX_FT_EE_UARead, length);
  if (bytesRead != nullptr) *bytesRead = 0;
  return Answer(came, handle, [&](const cap::DriverCall& r, State&) {
    if (data == nullptr || bytesRead == nullptr) return;
    if (!r.data.empty()) std::memcpy(data, r.data.data(), r.data.size());
    *bytesRead = static_cast<DWORD>(r.data.size());
  });
}

FT_STATUS FT_EE_UAWrite(FT_HANDLE handle, unsigned char* data, DWORD length) {
  cap::DriverCall came = Came(D2XX_FT_EE_UAWrite, length);
  KeepBytes(came, data, length);
  return Answer(came, handle, [](const cap::DriverCall&, State&) {});
}

FT_STATUS FT_SetTimeouts(FT_HANDLE handle, DWORD readTimeoutMs, DWORD writeTimeoutMs) {
  cap::DriverCall came = Came(D2XX_FT_SetTimeouts, readTimeoutMs);
  came.arg2 = writeTimeoutMs;
  return Answer(came, handle, [](const cap::DriverCall&, State&) {});
}

FT_STATUS FT_SetLatencyTimer(FT_HANDLE handle, UCHAR milliseconds) {
  cap::DriverCall came = Came(D2XX_FT_SetLatencyTimer, milliseconds);
  return Answer(came, handle, [](const cap::DriverCall&, State&) {});
}

}  // namespace korvelan380::sim::replay

namespace replay = korvelan380::sim::replay;

extern "C" {

int ksim_replay_start(const char* path, char* error, size_t capacity) {
  const std::string why = path == nullptr ? "no capture named" : replay::Start(path);
  replay::CopyOut(why, error, capacity);
  return why.empty() ? 1 : 0;
}

size_t ksim_replay_departure(int at_end, char* out, size_t capacity) {
  return replay::CopyOut(replay::Departure(at_end != 0), out, capacity);
}

void ksim_replay_stop(void) {
  replay::Stop();
}

}  // extern "C"
