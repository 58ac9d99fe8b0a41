// The panel on Windows: BCryptGenRandom, ShellExecuteW, and Ctrl-C, Ctrl-Break and the console
// window's closing taken by a console control handler.
#include <winsock2.h>
#include <ws2tcpip.h>
//
#include <bcrypt.h>
#include <shellapi.h>
#include <windows.h>

#include <chrono>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>

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

namespace {

// The page that forwards the browser to the panel's address, in a folder of the user's own
// temporary folder: the browser's command line names the file and not the token. Removed once
// the browser has had time to read it, or at the tool's end.
class ForwardPage {
 public:
  ~ForwardPage() { Remove(); }

  // The page's path, or empty when it cannot be written.
  std::wstring Write(const std::string& url) {
    std::lock_guard<std::mutex> lock(mu_);
    wchar_t temp[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH + 1, temp);
    if (length == 0 || length > MAX_PATH) return L"";
    unsigned char bytes[8];
    RandomBytes(bytes, sizeof bytes);
    std::wstring folder = std::wstring(temp) + L"korvelan380-panel-";
    for (unsigned char b : bytes) folder += L"0123456789abcdef"[b % 16];
    if (!CreateDirectoryW(folder.c_str(), nullptr)) return L"";
    dir_ = folder;
    const std::wstring path = folder + L"\\open.html";
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return L"";
    const std::string page =
        "<!doctype html><meta charset=\"utf-8\"><title>korvelan380 panel</title>"
        "<meta http-equiv=\"refresh\" content=\"0; url=" +
        url + "\">";
    DWORD written = 0;
    const BOOL ok =
        WriteFile(file, page.data(), static_cast<DWORD>(page.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == page.size() ? path : L"";
  }

  void Remove() {
    std::lock_guard<std::mutex> lock(mu_);
    if (dir_.empty()) return;
    DeleteFileW((dir_ + L"\\open.html").c_str());
    RemoveDirectoryW(dir_.c_str());
    dir_.clear();
  }

 private:
  std::mutex mu_;
  std::wstring dir_;
};

ForwardPage forwardPage;

// Long enough for a browser that is still starting to read the page.
constexpr auto kForwardPageLife = std::chrono::seconds(30);

}  // namespace

void OpenBrowser(const std::string& url, std::ostream& out) {
  const std::wstring page = forwardPage.Write(url);
  if (page.empty()) {
    forwardPage.Remove();
    out << "could not write the page that opens the panel: open the address above yourself\n";
    return;
  }
  const auto result = reinterpret_cast<INT_PTR>(
      ShellExecuteW(nullptr, L"open", page.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
  if (result <= 32) {
    forwardPage.Remove();
    out << "could not start the browser (error " << result
        << "): open the address above yourself\n";
    return;
  }
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
