// The D2XX functions of the list, backed by the simulated modules.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <limits>
#include <mutex>
#include <string>
#include <type_traits>

#include "d2xx_exports.h"
#include "module_model.h"
#include "replay.h"
#include "sim_state.h"

namespace {

using korvelan380::capture::DriverCall;
using korvelan380::sim::Fn;
using korvelan380::sim::detail::Global;
using korvelan380::sim::detail::Handle;
using korvelan380::sim::detail::HandleState;
using korvelan380::sim::detail::Module;

// FT_GetStatus reports this many bytes still to transmit while the module is made to look busy.
constexpr DWORD kBusyTransmitBytes = 64;
// The latency timers an FT232H takes, in milliseconds.
constexpr UCHAR kMinLatencyTimerMs = 1;

bool Tracing() {
  return Global().tracing.load(std::memory_order_relaxed);
}

DriverCall Begin(int fn, uint32_t arg) {
  DriverCall call;
  call.fn = fn;
  call.arg = arg;
  if (Tracing()) call.t0 = korvelan380::sim::detail::NowNs();
  return call;
}

// Keeps the bytes a call took or gave, for the trace; copied only while tracing.
void Keep(DriverCall& call, const void* data, size_t size) {
  if (!Tracing() || data == nullptr) return;
  const auto* bytes = static_cast<const uint8_t*>(data);
  call.data.assign(bytes, bytes + size);
}

DriverCall Stamped(DriverCall& call, const std::string& serial, FT_STATUS status) {
  call.seq = Global().sequence.fetch_add(1, std::memory_order_relaxed) + 1;
  call.serial = serial;
  call.status = status;
  return std::move(call);
}

// Records a call that belongs to no attached module.
FT_STATUS RecordOrphan(DriverCall& call, const std::string& serial, FT_STATUS status) {
  if (Tracing()) {
    auto& g = Global();
    DriverCall stamped = Stamped(call, serial, status);
    std::lock_guard lock(g.orphanMu);
    g.orphanTrace.push_back(std::move(stamped));
  }
  return status;
}

// Records a call on `module`, whose mutex the caller holds.
FT_STATUS RecordOn(Module& module, DriverCall& call, FT_STATUS status) {
  if (Tracing()) module.trace.push_back(Stamped(call, module.serial, status));
  return status;
}

bool CloseHandle(Handle& handle) {
  HandleState expected = HandleState::kOpen;
  return handle.state.compare_exchange_strong(expected, HandleState::kClosed,
                                              std::memory_order_acq_rel);
}

DWORD ClampToDword(size_t n) {
  return static_cast<DWORD>(std::min<size_t>(n, std::numeric_limits<DWORD>::max()));
}

using ModuleLock = std::unique_lock<std::mutex>;

// Runs `body(module, handle)` with the module's mutex held, once the checks every call on a
// handle shares have passed: the handle is one of ours and open, its module is still attached,
// and the pending fault does not fire on this call. A body that also takes the lock may wait on
// it; if the module is detached meanwhile, the call is recorded with the calls on no module.
template <typename Body>
FT_STATUS OnHandle(FT_HANDLE raw, DriverCall& record, Body&& body) {
  Handle* handle = Global().handles.Resolve(raw);
  if (handle == nullptr || handle->state.load(std::memory_order_acquire) != HandleState::kOpen) {
    return RecordOrphan(record, "", FT_INVALID_HANDLE);
  }
  if (std::shared_ptr<Module> module = handle->module.lock()) {
    std::unique_lock lock(module->mu);
    if (module->attached) {
      if (handle->state.load(std::memory_order_acquire) != HandleState::kOpen) {
        lock.unlock();  // closed by another thread meanwhile
        return RecordOrphan(record, "", FT_INVALID_HANDLE);
      }
      FT_STATUS status = FT_OK;
      if (module->TakeFault(static_cast<Fn>(record.fn), &status))
        return RecordOn(*module, record, status);
      if constexpr (std::is_invocable_v<Body, Module&, Handle&, ModuleLock&>) {
        status = body(*module, *handle, lock);
        if (!module->attached) {
          lock.unlock();
          return RecordOrphan(record, handle->serial, status);
        }
        return RecordOn(*module, record, status);
      } else {
        return RecordOn(*module, record, body(*module, *handle));
      }
    }
  }
  // The module was detached: closing the handle still works, nothing else does.
  FT_STATUS status = FT_IO_ERROR;
  if (record.fn == D2XX_FT_Close) status = CloseHandle(*handle) ? FT_OK : FT_INVALID_HANDLE;
  return RecordOrphan(record, handle->serial, status);
}

// With a read timeout set, FT_Read waits, as the vendor's driver does, until all the bytes asked
// for are there or the timeout has passed, and returns what it has then. The wait releases the
// module's mutex, so other calls on the module, a write on this very handle included, go on.
size_t WaitAndReceive(Module& module, Handle& handle, ModuleLock& lock, uint8_t* out,
                      size_t wanted) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(module.readTimeoutMs);
  size_t n = 0;
  while (n < wanted) {
    Clock::time_point until = deadline;
    // A reply under its latency becomes readable by the clock alone, with no one to signal it.
    if (const uint64_t readyNs = module.NextReadyNs(); readyNs != 0) {
      until = std::min(until, Clock::time_point(std::chrono::nanoseconds(readyNs)));
    }
    const bool timedOut =
        module.changed.wait_until(lock, until) == std::cv_status::timeout && until == deadline;
    if (!module.attached || handle.state.load(std::memory_order_acquire) != HandleState::kOpen) {
      break;
    }
    n += module.Receive(out + n, wanted - n);
    if (timedOut) break;
  }
  return n;
}

}  // namespace

// While a capture is replayed, it answers every call instead of the model.
namespace replay = korvelan380::sim::replay;

extern "C" {

FT_STATUS FT_OpenEx(void* arg, DWORD flags, FT_HANDLE* handle) {
  if (replay::Active()) return replay::FT_OpenEx(arg, flags, handle);
  DriverCall record = Begin(D2XX_FT_OpenEx, flags);
  if (handle != nullptr) *handle = nullptr;
  if (flags != FT_OPEN_BY_SERIAL_NUMBER || arg == nullptr) {
    return RecordOrphan(record, "", FT_INVALID_PARAMETER);
  }
  const std::string serial(static_cast<const char*>(arg));
  Keep(record, serial.data(), serial.size());
  if (handle == nullptr) return RecordOrphan(record, serial, FT_INVALID_PARAMETER);

  auto& g = Global();
  std::unique_lock registryLock(g.registryMu);
  auto it = g.modules.find(serial);
  if (it == g.modules.end()) {
    registryLock.unlock();
    return RecordOrphan(record, serial, FT_DEVICE_NOT_FOUND);
  }
  Module& module = *it->second;
  std::lock_guard moduleLock(module.mu);
  FT_STATUS status = FT_OK;
  if (module.TakeFault(Fn::OpenEx, &status)) return RecordOn(module, record, status);
  if (module.openHandle != nullptr) return RecordOn(module, record, FT_DEVICE_NOT_OPENED);
  Handle* opened = g.handles.Allocate();
  if (opened == nullptr) return RecordOn(module, record, FT_INSUFFICIENT_RESOURCES);
  opened->module = it->second;
  opened->serial = serial;
  opened->state.store(HandleState::kOpen, std::memory_order_release);
  module.openHandle = opened;
  module.PurgeReceive();
  *handle = opened;
  return RecordOn(module, record, FT_OK);
}

FT_STATUS FT_Close(FT_HANDLE handle) {
  if (replay::Active()) return replay::FT_Close(handle);
  DriverCall record = Begin(D2XX_FT_Close, 0);
  return OnHandle(handle, record, [&](Module& module, Handle& h) -> FT_STATUS {
    if (!CloseHandle(h)) return FT_INVALID_HANDLE;
    module.openHandle = nullptr;
    module.changed.notify_all();  // a read waiting on this handle gives up
    return FT_OK;
  });
}

FT_STATUS FT_Read(FT_HANDLE handle, void* buffer, DWORD toRead, DWORD* bytesRead) {
  if (replay::Active()) return replay::FT_Read(handle, buffer, toRead, bytesRead);
  DriverCall record = Begin(D2XX_FT_Read, toRead);
  if (bytesRead != nullptr) *bytesRead = 0;
  return OnHandle(handle, record, [&](Module& module, Handle& h, ModuleLock& lock) -> FT_STATUS {
    if (buffer == nullptr || bytesRead == nullptr) return FT_INVALID_PARAMETER;
    size_t limit = toRead;
    if (module.readChunk != 0) limit = std::min<size_t>(limit, module.readChunk);
    auto* out = static_cast<uint8_t*>(buffer);
    size_t n = module.Receive(out, limit);
    if (n < limit && module.readTimeoutMs != 0) {
      n += WaitAndReceive(module, h, lock, out + n, limit - n);
    }
    *bytesRead = static_cast<DWORD>(n);
    Keep(record, out, n);
    if (!module.attached) return FT_IO_ERROR;  // detached while the read waited
    return h.state.load(std::memory_order_acquire) == HandleState::kOpen ? FT_OK
                                                                         : FT_INVALID_HANDLE;
  });
}

FT_STATUS FT_Write(FT_HANDLE handle, void* buffer, DWORD toWrite, DWORD* written) {
  if (replay::Active()) return replay::FT_Write(handle, buffer, toWrite, written);
  DriverCall record = Begin(D2XX_FT_Write, toWrite);
  const auto* in = static_cast<const uint8_t*>(buffer);
  Keep(record, in, toWrite);
  if (written != nullptr) *written = 0;
  return OnHandle(handle, record, [&](Module& module, Handle&) -> FT_STATUS {
    if ((in == nullptr && toWrite > 0) || written == nullptr) return FT_INVALID_PARAMETER;
    module.Feed(in, toWrite);
    *written = toWrite;
    return FT_OK;
  });
}

FT_STATUS FT_Purge(FT_HANDLE handle, DWORD mask) {
  if (replay::Active()) return replay::FT_Purge(handle, mask);
  DriverCall record = Begin(D2XX_FT_Purge, mask);
  return OnHandle(handle, record, [&](Module& module, Handle&) -> FT_STATUS {
    if ((mask & FT_PURGE_RX) != 0) module.PurgeReceive();
    return FT_OK;
  });
}

FT_STATUS FT_GetQueueStatus(FT_HANDLE handle, DWORD* rxBytes) {
  if (replay::Active()) return replay::FT_GetQueueStatus(handle, rxBytes);
  DriverCall record = Begin(D2XX_FT_GetQueueStatus, 0);
  return OnHandle(handle, record, [&](Module& module, Handle&) -> FT_STATUS {
    if (rxBytes == nullptr) return FT_INVALID_PARAMETER;
    *rxBytes = ClampToDword(module.Pending());
    return FT_OK;
  });
}

FT_STATUS FT_GetStatus(FT_HANDLE handle, DWORD* rxBytes, DWORD* txBytes, DWORD* eventWord) {
  if (replay::Active()) return replay::FT_GetStatus(handle, rxBytes, txBytes, eventWord);
  DriverCall record = Begin(D2XX_FT_GetStatus, 0);
  return OnHandle(handle, record, [&](Module& module, Handle&) -> FT_STATUS {
    if (rxBytes == nullptr || txBytes == nullptr || eventWord == nullptr) {
      return FT_INVALID_PARAMETER;
    }
    *rxBytes = ClampToDword(module.Pending());
    *txBytes = 0;
    if (module.transmitBusy != 0) {
      *txBytes = kBusyTransmitBytes;
      if (module.transmitBusy != std::numeric_limits<uint32_t>::max()) --module.transmitBusy;
    }
    *eventWord = 0;
    return FT_OK;
  });
}

FT_STATUS FT_EE_UASize(FT_HANDLE handle, DWORD* size) {
  if (replay::Active()) return replay::FT_EE_UASize(handle, size);
  DriverCall record = Begin(D2XX_FT_EE_UASize, 0);
  return OnHandle(handle, record, [&](Module& module, Handle&) -> FT_STATUS {
    if (size == nullptr) return FT_INVALID_PARAMETER;
    *size = ClampToDword(module.eeprom.size());
    return FT_OK;
  });
}

FT_STATUS FT_EE_UARead(FT_HANDLE handle, unsigned char* data, DWORD length, DWORD* bytesRead) {
  if (replay::Active()) return replay::FT_EE_UARead(handle, data, length, bytesRead);
  DriverCall record = Begin(D2XX_FT_EE_UARead, length);
  if (bytesRead != nullptr) *bytesRead = 0;
  return OnHandle(handle, record, [&](Module& module, Handle&) -> FT_STATUS {
    if (data == nullptr || bytesRead == nullptr) return FT_INVALID_PARAMETER;
    const size_t n = std::min<size_t>(length, module.eeprom.size());
    if (n != 0) std::memcpy(data, module.eeprom.data(), n);
    *bytesRead = static_cast<DWORD>(n);
    Keep(record, data, n);
    return FT_OK;
  });
}

FT_STATUS FT_EE_UAWrite(FT_HANDLE handle, unsigned char* data, DWORD length) {
  if (replay::Active()) return replay::FT_EE_UAWrite(handle, data, length);
  DriverCall record = Begin(D2XX_FT_EE_UAWrite, length);
  Keep(record, data, length);
  return OnHandle(handle, record, [&](Module& module, Handle&) -> FT_STATUS {
    if (data == nullptr && length > 0) return FT_INVALID_PARAMETER;
    // FTDI's driver refuses a write past the user area as a failed EEPROM write.
    if (length > module.eeprom.size()) return FT_EEPROM_WRITE_FAILED;
    if (length != 0) std::memcpy(module.eeprom.data(), data, length);
    return FT_OK;
  });
}

// The read timeout is the module's, as SetReadTimeout sets it; writes never wait here.
FT_STATUS FT_SetTimeouts(FT_HANDLE handle, DWORD readTimeoutMs, DWORD writeTimeoutMs) {
  if (replay::Active()) return replay::FT_SetTimeouts(handle, readTimeoutMs, writeTimeoutMs);
  DriverCall record = Begin(D2XX_FT_SetTimeouts, readTimeoutMs);
  return OnHandle(handle, record, [&](Module& module, Handle&) -> FT_STATUS {
    module.readTimeoutMs = readTimeoutMs;
    return FT_OK;
  });
}

// The chip sends what it holds, when that is less than a packet (a register read's reply), once
// its latency timer runs out: from now on every reply becomes readable that long after its
// frame.
FT_STATUS FT_SetLatencyTimer(FT_HANDLE handle, UCHAR milliseconds) {
  if (replay::Active()) return replay::FT_SetLatencyTimer(handle, milliseconds);
  DriverCall record = Begin(D2XX_FT_SetLatencyTimer, milliseconds);
  return OnHandle(handle, record, [&](Module& module, Handle&) -> FT_STATUS {
    if (milliseconds < kMinLatencyTimerMs) return FT_INVALID_PARAMETER;
    module.replyLatencyUs = uint32_t{milliseconds} * 1000;
    return FT_OK;
  });
}

}  // extern "C"
