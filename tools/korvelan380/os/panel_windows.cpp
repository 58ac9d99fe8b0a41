// The panel on Windows: BCryptGenRandom, ShellExecuteW, and Ctrl-C taken by a
// console control handler.
#include <winsock2.h>
#include <ws2tcpip.h>
//
#include <bcrypt.h>
#include <shellapi.h>
#include <windows.h>

#include <mutex>
#include <ostream>

#include "app/tool.h"
#include "os/os.h"

namespace korvelan380::tool::os {

void RandomBytes(unsigned char* bytes, size_t size) {
  if (!BCRYPT_SUCCESS(BCryptGenRandom(nullptr, bytes, static_cast<ULONG>(size),
                                      BCRYPT_USE_SYSTEM_PREFERRED_RNG))) {
    throw ToolError("no random numbers for the panel's token (BCryptGenRandom failed)",
                    kExitFailed);
  }
}

void OpenBrowser(const std::string& url, std::ostream& out) {
  const std::wstring wide(url.begin(), url.end());  // the address is ASCII
  const auto result = reinterpret_cast<INT_PTR>(
      ShellExecuteW(nullptr, L"open", wide.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
  if (result <= 32) {
    out << "could not start the browser (error " << result
        << "): open the address above yourself\n";
  }
}

bool IsNumericAddress(const std::string& name) {
  unsigned char address[16];
  if (name.size() > 2 && name.front() == '[' && name.back() == ']') {
    return inet_pton(AF_INET6, name.substr(1, name.size() - 2).c_str(), address) == 1;
  }
  return inet_pton(AF_INET, name.c_str(), address) == 1;
}

namespace {

// The event the handler sets; the handler runs on a thread the system starts for it.
std::mutex handlerMu;
HANDLE interruptEvent = nullptr;

BOOL WINAPI OnConsoleControl(DWORD type) {
  if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) return FALSE;
  std::lock_guard<std::mutex> lock(handlerMu);
  if (interruptEvent == nullptr) return FALSE;
  SetEvent(interruptEvent);
  return TRUE;
}

}  // namespace

struct Interrupts::State {
  HANDLE event = nullptr;
};

Interrupts::Interrupts() : state_(std::make_unique<State>()) {
  state_->event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  if (state_->event == nullptr) {
    throw ToolError("cannot wait for Ctrl-C (CreateEvent failed)", kExitFailed);
  }
  {
    std::lock_guard<std::mutex> lock(handlerMu);
    interruptEvent = state_->event;
  }
  // Started in a process group of its own, the tool would ignore Ctrl-C; the panel stops on it.
  SetConsoleCtrlHandler(nullptr, FALSE);
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

Interrupts::~Interrupts() {
  SetConsoleCtrlHandler(OnConsoleControl, FALSE);
  {
    std::lock_guard<std::mutex> lock(handlerMu);
    interruptEvent = nullptr;
  }
  CloseHandle(state_->event);
}

bool Interrupts::Wait(int milliseconds) {
  return WaitForSingleObject(state_->event, static_cast<DWORD>(milliseconds)) == WAIT_OBJECT_0;
}

}  // namespace korvelan380::tool::os
