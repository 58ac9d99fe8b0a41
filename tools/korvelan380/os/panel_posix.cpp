// The panel on Linux: getrandom, a private file for xdg-open, and SIGINT and SIGTERM taken by
// sigtimedwait.
#include <arpa/inet.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <thread>

#include "app/tool.h"
#include "os/os.h"

extern char** environ;

namespace korvelan380::tool::os {

void RandomBytes(unsigned char* bytes, size_t size) {
  size_t got = 0;
  while (got < size) {
    const ssize_t n = getrandom(bytes + got, size - got, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw ToolError("no random numbers for the panel's token (getrandom failed)", kExitFailed);
    }
    got += static_cast<size_t>(n);
  }
}

// In a folder of its own made 0700, so that only this user can read it.
std::string WritePrivateFile(const std::string& name, const std::string& content) {
  const char* tmp = std::getenv("TMPDIR");
  std::string folder =
      std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/korvelan380-panel-XXXXXX";
  if (mkdtemp(folder.data()) == nullptr) return "";
  const std::string path = folder + "/" + name;
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  bool written = false;
  if (fd >= 0) {
    written = ::write(fd, content.data(), content.size()) == static_cast<ssize_t>(content.size());
    close(fd);
  }
  if (written) return path;
  RemovePrivateFile(path);
  return "";
}

void RemovePrivateFile(const std::string& path) {
  unlink(path.c_str());
  rmdir(path.substr(0, path.rfind('/')).c_str());
}

// xdg-open, reaped in the background so that it leaves no zombie.
bool StartBrowser(const std::string& path, std::string& why) {
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
  pid_t pid = 0;
  const char* argv[] = {"xdg-open", path.c_str(), nullptr};
  const int error =
      posix_spawnp(&pid, "xdg-open", nullptr, &attributes, const_cast<char* const*>(argv), environ);
  posix_spawnattr_destroy(&attributes);
  if (error != 0) {
    why = std::string("xdg-open: ") + std::strerror(error);
    return false;
  }
  std::thread([pid] { waitpid(pid, nullptr, 0); }).detach();
  return true;
}

bool IsNumericAddress(const std::string& name) {
  unsigned char address[16];
  if (name.size() > 2 && name.front() == '[' && name.back() == ']') {
    return inet_pton(AF_INET6, name.substr(1, name.size() - 2).c_str(), address) == 1;
  }
  return inet_pton(AF_INET, name.c_str(), address) == 1;
}

struct Interrupts::State {
  sigset_t signals;
  sigset_t previous;
};

Interrupts::Interrupts() : state_(std::make_unique<State>()) {
  sigemptyset(&state_->signals);
  sigaddset(&state_->signals, SIGINT);
  sigaddset(&state_->signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &state_->signals, &state_->previous);
}

// A signal pending when ignored is dropped: one that came during the stop must not end the
// process once unblocked.
Interrupts::~Interrupts() {
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  struct sigaction previousInt {};
  struct sigaction previousTerm {};
  sigaction(SIGINT, &ignore, &previousInt);
  sigaction(SIGTERM, &ignore, &previousTerm);
  pthread_sigmask(SIG_SETMASK, &state_->previous, nullptr);
  sigaction(SIGINT, &previousInt, nullptr);
  sigaction(SIGTERM, &previousTerm, nullptr);
}

bool Interrupts::Wait(int milliseconds) {
  const timespec timeout{milliseconds / 1000, (milliseconds % 1000) * 1'000'000L};
  return sigtimedwait(&state_->signals, nullptr, &timeout) > 0;
}

}  // namespace korvelan380::tool::os
