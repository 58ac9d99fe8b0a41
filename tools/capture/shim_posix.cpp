// The recording shim on Linux: a libftd2xx.so, dlopen, write(2) and the thread's kernel id.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "shim_os.h"

namespace korvelan380::capture::shim_os {
namespace {

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

}  // namespace

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

uint64_t NowNs() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}

uint64_t ThreadId() {
  return static_cast<uint64_t>(syscall(SYS_gettid));
}

uint64_t ProcessId() {
  return static_cast<uint64_t>(getpid());
}

std::vector<std::string> VendorLocations() {
  return {
    "/usr/local/lib/libftd2xx.so", "/usr/local/lib64/libftd2xx.so", "/usr/lib/libftd2xx.so",
        "/usr/lib64/libftd2xx.so",
#if defined(__x86_64__)
        "/usr/lib/x86_64-linux-gnu/libftd2xx.so",
#elif defined(__aarch64__)
        "/usr/lib/aarch64-linux-gnu/libftd2xx.so",
#elif defined(__arm__)
        "/usr/lib/arm-linux-gnueabihf/libftd2xx.so",
#endif
  };
}

void* OpenLibrary(const std::string& path, std::string& why) {
  if (access(path.c_str(), F_OK) != 0) {
    why = "not there";
    return nullptr;
  }
  const std::string self = SelfPath();
  if (!self.empty() && SameFile(path, self)) {
    why = "this shim itself";
    return nullptr;
  }
  void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) why = dlerror();
  return library;
}

void* Symbol(void* library, const char* name) {
  return dlsym(library, name);
}

void CloseLibrary(void* library) {
  dlclose(library);
}

intptr_t CreateOutput(const std::string& path) {
  return open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
}

intptr_t AppendOutput(const std::string& path) {
  return open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
}

void WriteOutput(intptr_t file, const std::string& text) {
  if (file < 0) return;
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(static_cast<int>(file), text.data() + done, text.size() - done);
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

void CloseOutput(intptr_t file) {
  if (file >= 0) close(static_cast<int>(file));
}

bool RenameOver(const std::string& from, const std::string& to) {
  return rename(from.c_str(), to.c_str()) == 0;
}

}  // namespace korvelan380::capture::shim_os
