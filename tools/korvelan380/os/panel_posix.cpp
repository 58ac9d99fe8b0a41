// The panel on Linux: getrandom, xdg-open, and SIGINT and SIGTERM taken by sigtimedwait.
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
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <ostream>
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

namespace {

// The page that forwards the browser to the panel's address, in a folder only this user can
// read: xdg-open's command line, which every user can read in /proc, names the file and not
// the token. Removed once the browser has had time to read it, or at the tool's end.
class ForwardPage {
 public:
  ~ForwardPage() { Remove(); }

  // The page's path, or "" when it cannot be written.
  std::string Write(const std::string& url) {
    std::lock_guard<std::mutex> lock(mu_);
    const char* tmp = std::getenv("TMPDIR");
    std::string folder =
        std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/korvelan380-panel-XXXXXX";
    if (mkdtemp(folder.data()) == nullptr) return "";  // made 0700
    dir_ = folder;
    const std::string path = folder + "/open.html";
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) return "";
    const std::string page =
        "<!doctype html><meta charset=\"utf-8\"><title>korvelan380 panel</title>"
        "<meta http-equiv=\"refresh\" content=\"0; url=" +
        url + "\">";
    const bool written = ::write(fd, page.data(), page.size()) == static_cast<ssize_t>(page.size());
    close(fd);
    return written ? path : "";
  }

  void Remove() {
    std::lock_guard<std::mutex> lock(mu_);
    if (dir_.empty()) return;
    unlink((dir_ + "/open.html").c_str());
    rmdir(dir_.c_str());
    dir_.clear();
  }

 private:
  std::mutex mu_;
  std::string dir_;
};

ForwardPage forwardPage;

// Long enough for a browser that is still starting to read the page.
constexpr auto kForwardPageLife = std::chrono::seconds(30);

}  // namespace

// The browser is reaped in the background, so that it leaves no zombie.
void OpenBrowser(const std::string& url, std::ostream& out) {
  const std::string page = forwardPage.Write(url);
  if (page.empty()) {
    forwardPage.Remove();
    out << "could not write the page that opens the panel (" << std::strerror(errno)
        << "): open the address above yourself\n";
    return;
  }
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
  pid_t pid = 0;
  const char* argv[] = {"xdg-open", page.c_str(), nullptr};
  const int error =
      posix_spawnp(&pid, "xdg-open", nullptr, &attributes, const_cast<char* const*>(argv), environ);
  posix_spawnattr_destroy(&attributes);
  if (error != 0) {
    forwardPage.Remove();
    out << "could not start xdg-open (" << std::strerror(error)
        << "): open the address above yourself\n";
    return;
  }
  std::thread([pid] { waitpid(pid, nullptr, 0); }).detach();
  std::thread([] {
    std::this_thread::sleep_for(kForwardPageLife);
    forwardPage.Remove();
  }).detach();
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
