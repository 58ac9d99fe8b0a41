// The tool on Linux: dlopen, flock, /proc/self/exe, and where the simulator and its state are.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>

#include "simulator.h"
#include "tool_os.h"

#ifndef KORVELAN380_SIM_INSTALL_PATH
#define KORVELAN380_SIM_INSTALL_PATH "../lib/korvelan380/sim/libftd2xx.so"
#endif
#ifndef KORVELAN380_SIM_BUILD_PATH
#define KORVELAN380_SIM_BUILD_PATH ""
#endif

namespace korvelan380::tool {
namespace fs = std::filesystem;

std::string os::ExecutableDir() {
  std::error_code ec;
  const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : exe.parent_path().string();
}

void* os::LoadDriver(const std::string& path, std::string& error) {
  // Global, so that the library's later dlopen("libftd2xx.so") finds it by soname.
  void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_GLOBAL);
  if (library == nullptr) error = dlerror();
  return library;
}

void* os::Symbol(void* library, const char* name) {
  return dlsym(library, name);
}

void* os::BoundDriver(std::string& error) {
  void* library = dlopen("libftd2xx.so", RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) error = dlerror();
  return library;
}

void os::SetEnv(const std::string& name, const std::string& value) {
  setenv(name.c_str(), value.c_str(), 1);
}

intptr_t os::LockFile(const std::string& path) {
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return -1;
  if (flock(fd, LOCK_EX) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

void os::Unlock(intptr_t lock) {
  close(static_cast<int>(lock));
}

void os::WithoutStdout(const std::function<void()>& fn) {
  std::cout.flush();
  std::fflush(stdout);
  const int saved = dup(STDOUT_FILENO);
  const int sink = open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (saved >= 0 && sink >= 0) dup2(sink, STDOUT_FILENO);
  fn();
  std::fflush(stdout);
  if (saved >= 0 && sink >= 0) dup2(saved, STDOUT_FILENO);
  if (sink >= 0) close(sink);
  if (saved >= 0) close(saved);
}

// The library finds its driver at the first connect, and says so with a status.
void os::RequireLibrary() {}

std::string SimLibraryFile() {
  return "libftd2xx.so";
}

std::vector<std::string> SimLibraryCandidates() {
  std::vector<std::string> candidates;
  if (const char* env = std::getenv("KORVELAN380_SIM_LIBRARY"); env != nullptr && *env != '\0') {
    return {env};  // named explicitly: nothing else is tried
  }
  const std::string dir = os::ExecutableDir();
  if (!dir.empty()) {
    // An installed tool never looks outside its installation first.
    candidates.push_back(dir + "/" + KORVELAN380_SIM_INSTALL_PATH);
    candidates.push_back(dir + "/../../sim/libftd2xx.so");
  }
  if (*KORVELAN380_SIM_BUILD_PATH != '\0') candidates.push_back(KORVELAN380_SIM_BUILD_PATH);
  return candidates;
}

std::string DefaultSimStatePath() {
  if (const char* xdg = std::getenv("XDG_STATE_HOME"); xdg != nullptr && *xdg == '/') {
    return std::string(xdg) + "/korvelan380/sim-state.json";
  }
  const char* home = std::getenv("HOME");
  return std::string(home != nullptr && *home != '\0' ? home : ".") +
         "/.local/state/korvelan380/sim-state.json";
}

}  // namespace korvelan380::tool
