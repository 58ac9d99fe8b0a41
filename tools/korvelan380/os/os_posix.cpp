// The tool on Linux: dlopen, flock, /proc/self/exe, and where the simulator and its state are.
#include <dlfcn.h>
#include <fcntl.h>
#include <link.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>

#include "os/os.h"

#ifndef KORVELAN380_SIM_INSTALL_PATH
#define KORVELAN380_SIM_INSTALL_PATH "../lib/korvelan380/sim/libftd2xx.so"
#endif

namespace korvelan380::tool::os {
namespace fs = std::filesystem;

std::string ExecutableDir() {
  std::error_code ec;
  const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : exe.parent_path().string();
}

void SetEnv(const std::string& name, const std::string& value) {
  setenv(name.c_str(), value.c_str(), 1);
}

intptr_t LockFile(const std::string& path) {
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return -1;
  if (flock(fd, LOCK_EX) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

void Unlock(intptr_t lock) {
  close(static_cast<int>(lock));
}

void WithoutStdout(const std::function<void()>& fn) {
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

std::string StateDir() {
  if (const char* xdg = std::getenv("XDG_STATE_HOME"); xdg != nullptr && *xdg == '/') {
    return std::string(xdg) + "/korvelan380";
  }
  const char* home = std::getenv("HOME");
  return std::string(home != nullptr && *home != '\0' ? home : ".") + "/.local/state/korvelan380";
}

std::string DefaultSimStatePath() {
  return StateDir() + "/sim-state.json";
}

std::optional<ShellResult> RunShell(const std::string& command) {
  std::fflush(nullptr);  // what the tool has written comes before what the command writes
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return std::nullopt;
  ShellResult result;
  char buffer[4096];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
    result.out.append(buffer, n);
  const int status = pclose(pipe);
  if (status == -1) return std::nullopt;
  result.exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

std::string DriverFile() {
  return "libftd2xx.so";
}

std::vector<std::string> SimLibrariesBeside(const std::string& dir) {
  // An installed tool never looks outside its installation first.
  return {dir + "/" + KORVELAN380_SIM_INSTALL_PATH, dir + "/../../sim/libftd2xx.so"};
}

void* LoadDriver(const std::string& path, std::string& error) {
  // Global, so that the library's later dlopen("libftd2xx.so") finds it by soname.
  void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_GLOBAL);
  if (library == nullptr) error = dlerror();
  return library;
}

void* Symbol(void* library, const char* name) {
  return dlsym(library, name);
}

void* BoundDriver(std::string& error) {
  // As the library opens it.
  void* library = dlopen("libftd2xx.so", RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) error = dlerror();
  return library;
}

void* LoadedLibrary(const std::string& path) {
  return dlopen(path.c_str(), RTLD_LAZY | RTLD_NOLOAD);
}

void* OpenLibrary(const std::string& path, std::string& error) {
  void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) error = dlerror();
  return library;
}

std::vector<std::string> LoadedDriverFiles() {
  // The names first: the loader is not to be asked anything while it walks its own list.
  std::vector<std::string> loaded;
  dl_iterate_phdr(
      [](dl_phdr_info* info, size_t, void* names) {
        if (info->dlpi_name != nullptr && *info->dlpi_name != '\0') {
          static_cast<std::vector<std::string>*>(names)->push_back(info->dlpi_name);
        }
        return 0;
      },
      &loaded);
  std::vector<std::string> drivers;
  for (const std::string& name : loaded) {
    void* library = dlopen(name.c_str(), RTLD_LAZY | RTLD_NOLOAD);
    if (library == nullptr) continue;
    // dlsym searches the library's dependencies too: only the file that defines it counts (the
    // loader gives both calls the same name for a file).
    const std::string file = FileOf(dlsym(library, "FT_OpenEx"));
    dlclose(library);
    if (file == name) drivers.push_back(name);
  }
  return drivers;
}

std::string FileOf(const void* address) {
  Dl_info info{};
  if (address == nullptr || dladdr(address, &info) == 0 || info.dli_fname == nullptr) return "";
  return info.dli_fname;
}

std::string OpenBackendFile() {
  return "libkorvelan380-ftdi.so";
}

void* LibraryExport(const char* name) {
  // The tool is linked against the library: it is among the process' global symbols.
  return dlsym(RTLD_DEFAULT, name);
}

// The library finds its driver at the first connect, and says so with a status.
void RequireLibrary() {}

DriverLook LookAtDriver() {
  DriverLook look;
  std::string why;
  look.library = BoundDriver(why);
  if (look.library == nullptr) {
    look.problem = "libftd2xx.so does not load: " + why +
                   "; install FTDI's D2XX driver where the loader finds it (e.g. /usr/local/lib, "
                   "then ldconfig)";
    return look;
  }
  link_map* map = nullptr;
  look.path =
      dlinfo(look.library, RTLD_DI_LINKMAP, &map) == 0 && map != nullptr && map->l_name != nullptr
          ? map->l_name
          : "(unknown path)";
  return look;
}

DriverLook LookAtOpenBackend() {
  // Where the library looks for it first: beside itself.
  const fs::path library = FileOf(LibraryExport("KORVELAN380_Connect"));
  const std::string path = (library.parent_path() / OpenBackendFile()).string();
  DriverLook look;
  std::string why;
  look.library = OpenLibrary(path, why);
  if (look.library == nullptr) {
    look.problem = OpenBackendFile() + " does not load: " + why +
                   "; it comes with the korvelan380 package and needs libftdi1-2";
  }
  look.path = path;
  return look;
}

void EndLook(const DriverLook& look) {
  if (look.library != nullptr) dlclose(look.library);
}

}  // namespace korvelan380::tool::os
