// The panel on Windows: BCryptGenRandom, ShellExecuteW, and Ctrl-C, Ctrl-Break and the console
// window's closing taken by a console control handler.
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

void ShutDownConnections(int) {
  // Windows has no list of a process' sockets: the server's own timeouts end its connections.
}

namespace {

// The events the handler sets and waits for; the handler runs on a thread the system starts for
// it. Made once and never closed: a handler may still hold them after an Interrupts has ended.
std::mutex handlerMu;
HANDLE interruptEvent = nullptr;
HANDLE finishedEvent = nullptr;
bool listening = false;

// Windows ends the process once the handler of a closing console returns, 5 s after the close at
// most: the handler waits a little less than that for the panel to finish.
constexpr DWORD kCloseWaitMs = 4500;

BOOL WINAPI OnConsoleControl(DWORD type) {
  if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT && type != CTRL_CLOSE_EVENT) return FALSE;
  {
    std::lock_guard<std::mutex> lock(handlerMu);
    if (!listening) return FALSE;
    SetEvent(interruptEvent);
  }
  if (type == CTRL_CLOSE_EVENT) WaitForSingleObject(finishedEvent, kCloseWaitMs);
  return TRUE;
}

}  // namespace

struct Interrupts::State {};

Interrupts::Interrupts() : state_(std::make_unique<State>()) {
  {
    std::lock_guard<std::mutex> lock(handlerMu);
    if (interruptEvent == nullptr) interruptEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (finishedEvent == nullptr) finishedEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (interruptEvent == nullptr || finishedEvent == nullptr) {
      throw ToolError("cannot wait for Ctrl-C (CreateEvent failed)", kExitFailed);
    }
    ResetEvent(interruptEvent);
    ResetEvent(finishedEvent);
    listening = true;
  }
  // Started in a process group of its own, the tool would ignore Ctrl-C; the panel stops on it.
  SetConsoleCtrlHandler(nullptr, FALSE);
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

// A closing console's handler, waiting, lets the process end now that the panel has finished.
// The handler is removed without the lock held: a handler running may be waiting for it.
Interrupts::~Interrupts() {
  {
    std::lock_guard<std::mutex> lock(handlerMu);
    listening = false;
    SetEvent(finishedEvent);
  }
  SetConsoleCtrlHandler(OnConsoleControl, FALSE);
}

bool Interrupts::Wait(int milliseconds) {
  return WaitForSingleObject(interruptEvent, static_cast<DWORD>(milliseconds)) == WAIT_OBJECT_0;
}

}  // namespace korvelan380::tool::os
