// The panel's connections on Windows.
#include <winsock2.h>
//
#include <windows.h>

#include "os/os.h"

namespace korvelan380::tool::os {

bool WaitReadable(uintptr_t socket, int milliseconds) {
  WSAPOLLFD p{static_cast<SOCKET>(socket), POLLRDNORM, 0};
  return WSAPoll(&p, 1, milliseconds) != 0;  // an error too: the read that follows says what
}

void ShutDownSocket(uintptr_t socket) {
  shutdown(static_cast<SOCKET>(socket), SD_BOTH);
}

std::string LastSocketError() {
  const int error = WSAGetLastError();
  char text[512] = {};
  const DWORD length =
      FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                     static_cast<DWORD>(error), 0, text, sizeof text, nullptr);
  std::string message(text, length);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                              message.back() == '.' || message.back() == ' ')) {
    message.pop_back();
  }
  return message.empty() ? "WSA error " + std::to_string(error) : message;
}

}  // namespace korvelan380::tool::os
