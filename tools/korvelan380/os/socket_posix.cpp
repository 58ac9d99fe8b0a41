// The panel's connections on Linux.
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

#include "os/os.h"

namespace korvelan380::tool::os {

bool WaitReadable(uintptr_t socket, int milliseconds) {
  pollfd p{static_cast<int>(socket), POLLIN, 0};
  int ready = 0;
  while ((ready = poll(&p, 1, milliseconds)) < 0 && errno == EINTR) {
  }
  return ready != 0;  // an error too: the read that follows says what it is
}

void ShutDownSocket(uintptr_t socket) {
  shutdown(static_cast<int>(socket), SHUT_RDWR);
}

std::string LastSocketError() {
  return std::strerror(errno);
}

}  // namespace korvelan380::tool::os
