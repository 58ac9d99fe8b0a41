// The recording shim: a libftd2xx.so that offers the ten driver functions, forwards every call
// unchanged to the real driver and appends each one to a capture file.
//
// Environment:
//   KORVELAN380_CAPTURE_FILE    the capture file (default korvelan380-capture.jsonl here)
//   KORVELAN380_CAPTURE_DRIVER  the driver to forward to; only it is tried
//   KORVELAN380_CAPTURE_LIMIT   the file's size limit in bytes; the oldest calls go first
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "capture_file.h"
#include "platform/d2xx.h"

#define SHIM_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

namespace cap = korvelan380::capture;

// Where the vendor's installer puts its driver, in the order tried.
constexpr const char* kVendorLocations[] = {
    "/usr/local/lib/libftd2xx.so",
    "/usr/local/lib64/libftd2xx.so",
    "/usr/lib/libftd2xx.so",
    "/usr/lib64/libftd2xx.so",
#if defined(__x86_64__)
    "/usr/lib/x86_64-linux-gnu/libftd2xx.so",
#elif defined(__aarch64__)
    "/usr/lib/aarch64-linux-gnu/libftd2xx.so",
#elif defined(__arm__)
    "/usr/lib/arm-linux-gnueabihf/libftd2xx.so",
#endif
};

// What the calls return when no driver was found: nothing opens, no handle is valid.
constexpr FT_STATUS kNoDriverToOpen = FT_DEVICE_NOT_FOUND;
constexpr FT_STATUS kNoDriver = FT_INVALID_HANDLE;

struct Driver {
  FT_OpenEx_t openEx = nullptr;
  FT_Close_t close = nullptr;
  FT_Read_t read = nullptr;
  FT_Write_t write = nullptr;
  FT_Purge_t purge = nullptr;
  FT_GetQueueStatus_t getQueueStatus = nullptr;
  FT_GetStatus_t getStatus = nullptr;
  FT_EE_UASize_t eeUaSize = nullptr;
  FT_EE_UARead_t eeUaRead = nullptr;
  FT_EE_UAWrite_t eeUaWrite = nullptr;
};

uint64_t NowNs() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}

bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa {};
  struct stat sb {};
  return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

std::string SelfPath() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&NowNs), &info) == 0 || info.dli_fname == nullptr) return "";
  return info.dli_fname;
}

template <typename Function>
bool Bind(void* library, const char* name, Function& slot) {
  slot = reinterpret_cast<Function>(dlsym(library, name));
  return slot != nullptr;
}

class Recorder {
 public:
  Recorder() {
    const char* file = std::getenv("KORVELAN380_CAPTURE_FILE");
    path_ = file != nullptr && *file != '\0' ? file : "korvelan380-capture.jsonl";
    if (const char* limit = std::getenv("KORVELAN380_CAPTURE_LIMIT"); limit != nullptr) {
      header_.limit = std::strtoull(limit, nullptr, 10);
    }
    header_.pid = static_cast<uint64_t>(getpid());
    LoadDriver();
    fd_ = open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd_ < 0) {
      std::fprintf(stderr, "korvelan380 capture: cannot write %s; the calls go unrecorded\n",
                   path_.c_str());
    }
    headerLine_ = cap::FormatHeader(header_);
    WriteAll(fd_, headerLine_);
    if (!header_.error.empty())
      std::fprintf(stderr, "korvelan380 capture: %s\n", header_.error.c_str());
  }

  const Driver* driver() const { return loaded_ ? &driver_ : nullptr; }
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

  // Appends the call with one write(2), so that a crash loses at most the call in progress.
  void Append(cap::CallRecord& call) {
    call.thread = static_cast<uint64_t>(syscall(SYS_gettid));
    std::lock_guard lock(mu_);
    call.seq = ++seq_;
    std::string line = cap::FormatCall(call);
    if (header_.limit == 0) {
      WriteAll(fd_, line);
      return;
    }
    callsSize_ += line.size();
    kept_.push_back(std::move(line));
    if (FileSize() <= header_.limit) {
      WriteAll(fd_, kept_.back());
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
    std::vector<std::string> candidates;
    const char* named = std::getenv("KORVELAN380_CAPTURE_DRIVER");
    const bool explicitPath = named != nullptr && *named != '\0';
    if (explicitPath) {
      candidates.push_back(named);
    } else {
      candidates.assign(std::begin(kVendorLocations), std::end(kVendorLocations));
    }
    const std::string self = SelfPath();
    std::string tried;
    for (const std::string& candidate : candidates) {
      if (access(candidate.c_str(), F_OK) != 0) {
        tried += " " + candidate + " (not there);";
        continue;
      }
      if (!self.empty() && SameFile(candidate, self)) {
        tried += " " + candidate + " (this shim itself);";
        continue;
      }
      void* library = dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
      if (library == nullptr) {
        tried += " " + candidate + " (" + dlerror() + ");";
        continue;
      }
      // The simulated module serves only when named: a capture of it by accident would pass
      // for a capture of the hardware.
      if (!explicitPath && dlsym(library, "ksim_reset") != nullptr) {
        tried += " " + candidate + " (the simulated module);";
        dlclose(library);
        continue;
      }
      if (BindAll(library)) {
        header_.driver = candidate;
        loaded_ = true;
        return;  // kept loaded for the life of the process
      }
      tried += " " + candidate + " (lacks one of the ten functions);";
      dlclose(library);
    }
    if (!tried.empty()) tried.pop_back();
    header_.error = "no driver to forward to; tried:" + tried +
                    (explicitPath ? "" : " (name one with KORVELAN380_CAPTURE_DRIVER=PATH)");
  }

  bool BindAll(void* library) {
    Driver& d = driver_;
    return Bind(library, "FT_OpenEx", d.openEx) && Bind(library, "FT_Close", d.close) &&
           Bind(library, "FT_Read", d.read) && Bind(library, "FT_Write", d.write) &&
           Bind(library, "FT_Purge", d.purge) &&
           Bind(library, "FT_GetQueueStatus", d.getQueueStatus) &&
           Bind(library, "FT_GetStatus", d.getStatus) &&
           Bind(library, "FT_EE_UASize", d.eeUaSize) && Bind(library, "FT_EE_UARead", d.eeUaRead) &&
           Bind(library, "FT_EE_UAWrite", d.eeUaWrite);
  }

  // What the file holds with a size limit: the header, the dropped line and the calls kept.
  uint64_t FileSize() const {
    return headerLine_.size() + (dropped_ != 0 ? cap::FormatDropped(dropped_).size() : 0) +
           callsSize_;
  }

  static void WriteAll(int fd, const std::string& text) {
    if (fd < 0) return;
    size_t done = 0;
    while (done < text.size()) {
      const ssize_t n = write(fd, text.data() + done, text.size() - done);
      if (n <= 0) return;
      done += static_cast<size_t>(n);
    }
  }

  void Rewrite() {
    const std::string temporary = path_ + ".tmp";
    const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return;
    std::string text = headerLine_ + cap::FormatDropped(dropped_);
    for (const std::string& line : kept_) text += line;
    WriteAll(fd, text);
    if (rename(temporary.c_str(), path_.c_str()) != 0) {
      close(fd);
      return;
    }
    if (fd_ >= 0) close(fd_);
    fd_ = fd;
  }

  std::mutex mu_;
  std::string path_;
  int fd_ = -1;
  cap::Header header_;
  std::string headerLine_;
  Driver driver_;
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

// The capture file starts, header and all, as soon as the shim is loaded, so that a program that
// makes no driver call at all still leaves a capture that says which driver it would have used.
__attribute__((constructor)) void StartRecording() {
  TheRecorder();
}

cap::CallRecord Begin(int fn, FT_HANDLE handle, uint32_t arg) {
  cap::CallRecord call;
  call.fn = fn;
  call.arg = arg;
  call.handle = fn == cap::kOpenEx ? 0 : TheRecorder().HandleId(handle);
  call.t0 = NowNs();
  return call;
}

FT_STATUS Finish(cap::CallRecord& call, FT_STATUS status) {
  call.t1 = NowNs();
  call.status = status;
  TheRecorder().Append(call);
  return status;
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
  cap::CallRecord call = Begin(cap::kOpenEx, nullptr, flags);
  if (flags == FT_OPEN_BY_SERIAL_NUMBER && arg != nullptr) {
    call.serial = static_cast<const char*>(arg);
  }
  const auto* d = TheRecorder().driver();
  const FT_STATUS status = d != nullptr ? d->openEx(arg, flags, handle) : kNoDriverToOpen;
  if (status == FT_OK && handle != nullptr) call.handle = TheRecorder().NewHandle(*handle);
  return Finish(call, status);
}

SHIM_EXPORT FT_STATUS FT_Close(FT_HANDLE handle) {
  cap::CallRecord call = Begin(cap::kClose, handle, 0);
  const auto* d = TheRecorder().driver();
  return Finish(call, d != nullptr ? d->close(handle) : kNoDriver);
}

SHIM_EXPORT FT_STATUS FT_Read(FT_HANDLE handle, void* buffer, DWORD toRead, DWORD* bytesRead) {
  cap::CallRecord call = Begin(cap::kRead, handle, toRead);
  const auto* d = TheRecorder().driver();
  const FT_STATUS status = d != nullptr ? d->read(handle, buffer, toRead, bytesRead) : kNoDriver;
  if (status == FT_OK && bytesRead != nullptr && *bytesRead <= toRead)
    Keep(call.data, buffer, *bytesRead);
  return Finish(call, status);
}

SHIM_EXPORT FT_STATUS FT_Write(FT_HANDLE handle, void* buffer, DWORD toWrite, DWORD* written) {
  cap::CallRecord call = Begin(cap::kWrite, handle, toWrite);
  Keep(call.data, buffer, toWrite);
  const auto* d = TheRecorder().driver();
  const FT_STATUS status = d != nullptr ? d->write(handle, buffer, toWrite, written) : kNoDriver;
  if (status == FT_OK && written != nullptr) call.done = *written;
  return Finish(call, status);
}

SHIM_EXPORT FT_STATUS FT_Purge(FT_HANDLE handle, DWORD mask) {
  cap::CallRecord call = Begin(cap::kPurge, handle, mask);
  const auto* d = TheRecorder().driver();
  return Finish(call, d != nullptr ? d->purge(handle, mask) : kNoDriver);
}

SHIM_EXPORT FT_STATUS FT_GetQueueStatus(FT_HANDLE handle, DWORD* rxBytes) {
  cap::CallRecord call = Begin(cap::kGetQueueStatus, handle, 0);
  const auto* d = TheRecorder().driver();
  const FT_STATUS status = d != nullptr ? d->getQueueStatus(handle, rxBytes) : kNoDriver;
  if (status == FT_OK && rxBytes != nullptr) call.rx = *rxBytes;
  return Finish(call, status);
}

SHIM_EXPORT FT_STATUS FT_GetStatus(FT_HANDLE handle, DWORD* rxBytes, DWORD* txBytes,
                                   DWORD* eventWord) {
  cap::CallRecord call = Begin(cap::kGetStatus, handle, 0);
  const auto* d = TheRecorder().driver();
  const FT_STATUS status =
      d != nullptr ? d->getStatus(handle, rxBytes, txBytes, eventWord) : kNoDriver;
  if (status == FT_OK && rxBytes != nullptr && txBytes != nullptr && eventWord != nullptr) {
    call.rx = *rxBytes;
    call.tx = *txBytes;
    call.event = *eventWord;
  }
  return Finish(call, status);
}

SHIM_EXPORT FT_STATUS FT_EE_UASize(FT_HANDLE handle, DWORD* size) {
  cap::CallRecord call = Begin(cap::kEeUaSize, handle, 0);
  const auto* d = TheRecorder().driver();
  const FT_STATUS status = d != nullptr ? d->eeUaSize(handle, size) : kNoDriver;
  if (status == FT_OK && size != nullptr) call.size = *size;
  return Finish(call, status);
}

SHIM_EXPORT FT_STATUS FT_EE_UARead(FT_HANDLE handle, unsigned char* data, DWORD length,
                                   DWORD* bytesRead) {
  cap::CallRecord call = Begin(cap::kEeUaRead, handle, length);
  const auto* d = TheRecorder().driver();
  const FT_STATUS status = d != nullptr ? d->eeUaRead(handle, data, length, bytesRead) : kNoDriver;
  if (status == FT_OK && bytesRead != nullptr && *bytesRead <= length)
    Keep(call.data, data, *bytesRead);
  return Finish(call, status);
}

SHIM_EXPORT FT_STATUS FT_EE_UAWrite(FT_HANDLE handle, unsigned char* data, DWORD length) {
  cap::CallRecord call = Begin(cap::kEeUaWrite, handle, length);
  Keep(call.data, data, length);
  const auto* d = TheRecorder().driver();
  return Finish(call, d != nullptr ? d->eeUaWrite(handle, data, length) : kNoDriver);
}
