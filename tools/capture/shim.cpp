// The recording shim: a libftd2xx.so (FTD2XX.dll on Windows) that offers the driver functions
// of the list, forwards every call unchanged to the real driver and appends each one to a
// capture file. An optional function the real driver lacks answers FT_NOT_SUPPORTED.
//
// Environment:
//   KORVELAN380_CAPTURE_FILE    the capture file (default korvelan380-capture.jsonl here)
//   KORVELAN380_CAPTURE_DRIVER  the driver to forward to; only it is tried
//   KORVELAN380_CAPTURE_LIMIT   the file's size limit in bytes; the oldest calls go first
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "capture_file.h"
#include "d2xx.h"
#include "shim_os.h"

#ifdef _WIN32
// The .def file exports the driver functions at the driver's ordinals, and nothing else:
// kcap_forwarded_driver serves the USB bus check, which Windows does not need.
#define SHIM_EXPORT extern "C"
#else
#define SHIM_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

namespace cap = korvelan380::capture;
namespace os = korvelan380::capture::shim_os;

// What the calls return when no driver was found: nothing opens, no handle is valid.
constexpr FT_STATUS kNoDriverToOpen = FT_DEVICE_NOT_FOUND;
constexpr FT_STATUS kNoDriver = FT_INVALID_HANDLE;
// What an optional function returns when the driver lacks it.
constexpr FT_STATUS kNoFunction = FT_NOT_SUPPORTED;

class Recorder {
 public:
  Recorder() {
    path_ = os::Env("KORVELAN380_CAPTURE_FILE");
    if (path_.empty()) path_ = "korvelan380-capture.jsonl";
    header_.limit = std::strtoull(os::Env("KORVELAN380_CAPTURE_LIMIT").c_str(), nullptr, 10);
    header_.pid = os::ProcessId();
    LoadDriver();
    fd_ = os::CreateOutput(path_);
    if (fd_ < 0) {
      std::fprintf(stderr, "korvelan380 capture: cannot write %s; the calls go unrecorded\n",
                   path_.c_str());
    }
    headerLine_ = cap::FormatHeader(header_);
    os::WriteOutput(fd_, headerLine_);
    if (!header_.error.empty())
      std::fprintf(stderr, "korvelan380 capture: %s\n", header_.error.c_str());
  }

  const D2xxFunctions* driver() const { return loaded_ ? &driver_ : nullptr; }
  const std::string& driverPath() const { return header_.driver; }

  // The capture's number for `handle`: the one FT_OpenEx gave it, else 0.
  uint32_t HandleId(FT_HANDLE handle) {
    std::lock_guard lock(mu_);
    auto it = handles_.find(handle);
    return it == handles_.end() ? 0 : it->second;
  }
  uint32_t NewHandle(FT_HANDLE handle) {
    std::lock_guard lock(mu_);
    return handles_[handle] = ++lastHandle_;
  }

  // Appends the call with one write, so that a crash loses at most the call in progress.
  void Append(cap::DriverCall& call) {
    call.thread = os::ThreadId();
    std::lock_guard lock(mu_);
    call.seq = ++seq_;
    std::string line = cap::FormatCall(call);
    if (header_.limit == 0) {
      os::WriteOutput(fd_, line);
      return;
    }
    callsSize_ += line.size();
    kept_.push_back(std::move(line));
    if (FileSize() <= header_.limit) {
      os::WriteOutput(fd_, kept_.back());
      return;
    }
    // Over the limit: drop the oldest calls down to half of it, so that the file is rewritten
    // now and then rather than on every call, and replace the file in one rename.
    while (!kept_.empty() && FileSize() > header_.limit / 2) {
      callsSize_ -= kept_.front().size();
      kept_.pop_front();
      ++dropped_;
    }
    Rewrite();
  }

 private:
  void LoadDriver() {
    const std::string named = os::Env("KORVELAN380_CAPTURE_DRIVER");
    const bool explicitPath = !named.empty();
    const std::vector<std::string> candidates =
        explicitPath ? std::vector<std::string>{named} : os::VendorLocations();
    std::string tried;
    for (const std::string& candidate : candidates) {
      std::string why;
      void* library = os::OpenLibrary(candidate, why);
      if (library == nullptr) {
        tried += " " + candidate + " (" + why + ");";
        continue;
      }
      // The simulated module serves only when named: a capture of it by accident would pass
      // for a capture of the hardware.
      if (!explicitPath && os::Symbol(library, "ksim_reset") != nullptr) {
        tried += " " + candidate + " (the simulated module);";
        os::CloseLibrary(library);
        continue;
      }
      if (BindAll(library)) {
        header_.driver = candidate;
        loaded_ = true;
        return;  // kept loaded for the life of the process
      }
      tried += " " + candidate + " (lacks one of the required functions);";
      os::CloseLibrary(library);
    }
    if (!tried.empty()) tried.pop_back();
    header_.error = "no driver to forward to; tried:" + tried +
                    (explicitPath ? "" : " (name one with KORVELAN380_CAPTURE_DRIVER=PATH)");
  }

  bool BindAll(void* library) {
    auto lookup = [library](const char* name) { return os::Symbol(library, name); };
    return korvelan380::d2xx::Bind(driver_, lookup) == nullptr;
  }

  // What the file holds with a size limit: the header, the dropped line and the calls kept.
  uint64_t FileSize() const {
    return headerLine_.size() + (dropped_ != 0 ? cap::FormatDropped(dropped_).size() : 0) +
           callsSize_;
  }

  void Rewrite() {
    const std::string temporary = path_ + ".tmp";
    std::string text = headerLine_ + cap::FormatDropped(dropped_);
    for (const std::string& line : kept_) text += line;
    const intptr_t fd = os::CreateOutput(temporary);
    if (fd < 0) return;
    os::WriteOutput(fd, text);
    // Windows renames no file that is open: the old one is closed first, the new one reopened
    // for appending after it is in place.
    os::CloseOutput(fd);
    os::CloseOutput(fd_);
    fd_ = -1;
    os::RenameOver(temporary, path_);
    fd_ = os::AppendOutput(path_);
  }

  std::mutex mu_;
  std::string path_;
  intptr_t fd_ = -1;
  cap::Header header_;
  std::string headerLine_;
  D2xxFunctions driver_{};
  bool loaded_ = false;
  std::unordered_map<FT_HANDLE, uint32_t> handles_;
  uint32_t lastHandle_ = 0;
  uint64_t seq_ = 0;
  uint64_t callsSize_ = 0;  // the bytes of the calls in kept_
  uint64_t dropped_ = 0;
  std::deque<std::string> kept_;
};

Recorder& TheRecorder() {
  static Recorder* const recorder = new Recorder;  // never destroyed: calls may come at exit
  return *recorder;
}

#ifndef _WIN32
// The capture file starts, header and all, as soon as the shim is loaded, so that a program that
// makes no driver call at all still leaves a capture that says which driver it would have used.
// On Windows it starts at the first call: loading the driver while the loader is still loading
// the shim is what Windows asks DLLs not to do.
__attribute__((constructor)) void StartRecording() {
  TheRecorder();
}
#endif

cap::DriverCall Begin(int fn, FT_HANDLE handle, uint32_t arg) {
  cap::DriverCall call;
  call.fn = fn;
  call.arg = arg;
  call.handle = fn == D2XX_FT_OpenEx ? 0 : TheRecorder().HandleId(handle);
  call.t0 = os::NowNs();
  return call;
}

FT_STATUS Finish(cap::DriverCall& call, FT_STATUS status) {
  call.t1 = os::NowNs();
  call.status = status;
  TheRecorder().Append(call);
  return status;
}

// The real driver's function, called with the caller's arguments; without a driver, the status
// a call on a handle gets.
template <typename Function, typename... Args>
FT_STATUS Forward(Function D2xxFunctions::*function, Args... args) {
  const D2xxFunctions* d = TheRecorder().driver();
  if (d == nullptr) return kNoDriver;
  return d->*function != nullptr ? (d->*function)(args...) : kNoFunction;
}

// Outputs are recorded only from calls that succeeded: a driver that fails may leave them as the
// caller had them.
void Keep(std::vector<uint8_t>& out, const void* data, size_t size) {
  if (data == nullptr) return;
  const auto* bytes = static_cast<const uint8_t*>(data);
  out.assign(bytes, bytes + size);
}

}  // namespace

// The driver the calls go to ("" when none could be loaded): a program that must know whether a
// USB bus is needed (not by the simulated module) asks the shim in front of it.
SHIM_EXPORT const char* kcap_forwarded_driver(void) {
  return TheRecorder().driver() != nullptr ? TheRecorder().driverPath().c_str() : "";
}

SHIM_EXPORT FT_STATUS FT_OpenEx(void* arg, DWORD flags, FT_HANDLE* handle) {
  cap::DriverCall call = Begin(D2XX_FT_OpenEx, nullptr, flags);
  if (flags == FT_OPEN_BY_SERIAL_NUMBER && arg != nullptr) {
    call.serial = static_cast<const char*>(arg);
  }
  const auto* d = TheRecorder().driver();
  const FT_STATUS status = d != nullptr ? d->FT_OpenEx(arg, flags, handle) : kNoDriverToOpen;
  if (status == FT_OK && handle != nullptr) call.handle = TheRecorder().NewHandle(*handle);
  return Finish(call, status);
}

SHIM_EXPORT FT_STATUS FT_Close(FT_HANDLE handle) {
  cap::DriverCall call = Begin(D2XX_FT_Close, handle, 0);
  return Finish(call, Forward(&D2xxFunctions::FT_Close, handle));
}

SHIM_EXPORT FT_STATUS FT_Read(FT_HANDLE handle, void* buffer, DWORD toRead, DWORD* bytesRead) {
  cap::DriverCall call = Begin(D2XX_FT_Read, handle, toRead);
  const FT_STATUS status = Forward(&D2xxFunctions::FT_Read, handle, buffer, toRead, bytesRead);
  if (status == FT_OK && bytesRead != nullptr && *bytesRead <= toRead)
    Keep(call.data, buffer, *bytesRead);
  return Finish(call, status);
}

SHIM_EXPORT FT_STATUS FT_Write(FT_HANDLE handle, void* buffer, DWORD toWrite, DWORD* written) {
  cap::DriverCall call = Begin(D2XX_FT_Write, handle, toWrite);
  Keep(call.data, buffer, toWrite);
  const FT_STATUS status = Forward(&D2xxFunctions::FT_Write, handle, buffer, toWrite, written);
  if (status == FT_OK && written != nullptr) call.done = *written;
  return Finish(call, status);
}

SHIM_EXPORT FT_STATUS FT_Purge(FT_HANDLE handle, DWORD mask) {
  cap::DriverCall call = Begin(D2XX_FT_Purge, handle, mask);
  return Finish(call, Forward(&D2xxFunctions::FT_Purge, handle, mask));
}

SHIM_EXPORT FT_STATUS FT_GetQueueStatus(FT_HANDLE handle, DWORD* rxBytes) {
  cap::DriverCall call = Begin(D2XX_FT_GetQueueStatus, handle, 0);
  const FT_STATUS status = Forward(&D2xxFunctions::FT_GetQueueStatus, handle, rxBytes);
  if (status == FT_OK && rxBytes != nullptr) call.rx = *rxBytes;
  return Finish(call, status);
}

SHIM_EXPORT FT_STATUS FT_GetStatus(FT_HANDLE handle, DWORD* rxBytes, DWORD* txBytes,
                                   DWORD* eventWord) {
  cap::DriverCall call = Begin(D2XX_FT_GetStatus, handle, 0);
  const FT_STATUS status =
      Forward(&D2xxFunctions::FT_GetStatus, handle, rxBytes, txBytes, eventWord);
  if (status == FT_OK && rxBytes != nullptr && txBytes != nullptr && eventWord != nullptr) {
    call.rx = *rxBytes;
    call.tx = *txBytes;
    call.event = *eventWord;
  }
  return Finish(call, status);
}

SHIM_EXPORT FT_STATUS FT_EE_UASize(FT_HANDLE handle, DWORD* size) {
  cap::DriverCall call = Begin(D2XX_FT_EE_UASize, handle, 0);
  const FT_STATUS status = Forward(&D2xxFunctions::FT_EE_UASize, handle, size);
  if (status == FT_OK && size != nullptr) call.size = *size;
  return Finish(call, status);
}

SHIM_EXPORT FT_STATUS FT_EE_UARead(FT_HANDLE handle, unsigned char* data, DWORD length,
                                   DWORD* bytesRead) {
  cap::DriverCall call = Begin(D2XX_FT_EE_UARead, handle, length);
  const FT_STATUS status = Forward(&D2xxFunctions::FT_EE_UARead, handle, data, length, bytesRead);
  if (status == FT_OK && bytesRead != nullptr && *bytesRead <= length)
    Keep(call.data, data, *bytesRead);
  return Finish(call, status);
}

SHIM_EXPORT FT_STATUS FT_EE_UAWrite(FT_HANDLE handle, unsigned char* data, DWORD length) {
  cap::DriverCall call = Begin(D2XX_FT_EE_UAWrite, handle, length);
  Keep(call.data, data, length);
  return Finish(call, Forward(&D2xxFunctions::FT_EE_UAWrite, handle, data, length));
}

SHIM_EXPORT FT_STATUS FT_SetTimeouts(FT_HANDLE handle, DWORD readTimeoutMs, DWORD writeTimeoutMs) {
  cap::DriverCall call = Begin(D2XX_FT_SetTimeouts, handle, readTimeoutMs);
  call.arg2 = writeTimeoutMs;
  return Finish(call,
                Forward(&D2xxFunctions::FT_SetTimeouts, handle, readTimeoutMs, writeTimeoutMs));
}

SHIM_EXPORT FT_STATUS FT_SetLatencyTimer(FT_HANDLE handle, UCHAR milliseconds) {
  cap::DriverCall call = Begin(D2XX_FT_SetLatencyTimer, handle, milliseconds);
  return Finish(call, Forward(&D2xxFunctions::FT_SetLatencyTimer, handle, milliseconds));
}
