// The panel's connections on Linux.
#include <sys/socket.h>
#include <sys/time.h>

#include <cerrno>
#include <cstring>

#include "os/os.h"

namespace korvelan380::tool::os {

void SetReceiveTimeout(uintptr_t socket, int milliseconds) {
  timeval timeout{milliseconds / 1000, (milliseconds % 1000) * 1000};
  setsockopt(static_cast<int>(socket), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
}

std::string LastSocketError() {
  return std::strerror(errno);
}

}  // namespace korvelan380::tool::os
