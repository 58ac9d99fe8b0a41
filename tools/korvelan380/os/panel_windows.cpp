// The panel on Windows: BCryptGenRandom, a private file for ShellExecuteW, and Ctrl-C, Ctrl-Break
// and the console window's closing taken by a console control handler.
#include <winsock2.h>
#include <ws2tcpip.h>
//
#include <bcrypt.h>
#include <shellapi.h>
#include <windows.h>

#include <mutex>
#include <string>

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

std::wstring Wide(const std::string& text) {
  const int length =
      MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
  return wide;
}

std::string Utf8(const std::wstring& wide) {
  const int length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                         nullptr, 0, nullptr, nullptr);
  std::string text(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), text.data(), length,
                      nullptr, nullptr);
  return text;
}

}  // namespace

// In a folder of the user's own temporary folder, under a random name.
std::string WritePrivateFile(const std::string& name, const std::string& content) {
  wchar_t temp[MAX_PATH + 1];
  const DWORD length = GetTempPathW(MAX_PATH + 1, temp);
  if (length == 0 || length > MAX_PATH) return "";
  unsigned char bytes[8];
  RandomBytes(bytes, sizeof bytes);
  std::wstring folder = std::wstring(temp) + L"korvelan380-panel-";
  for (unsigned char b : bytes) folder += L"0123456789abcdef"[b % 16];
  if (!CreateDirectoryW(folder.c_str(), nullptr)) return "";
  const std::wstring path = folder + L"\\" + Wide(name);
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  bool written = false;
  if (file != INVALID_HANDLE_VALUE) {
    DWORD count = 0;
    written =
        WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &count, nullptr) &&
        count == content.size();
    CloseHandle(file);
  }
  if (written) return Utf8(path);
  RemovePrivateFile(Utf8(path));
  return "";
}

void RemovePrivateFile(const std::string& path) {
  const std::wstring wide = Wide(path);
  DeleteFileW(wide.c_str());
  RemoveDirectoryW(wide.substr(0, wide.rfind(L'\\')).c_str());
}

bool StartBrowser(const std::string& path, std::string& why) {
  const auto result = reinterpret_cast<INT_PTR>(
      ShellExecuteW(nullptr, L"open", Wide(path).c_str(), nullptr, nullptr, SW_SHOWNORMAL));
  if (result > 32) return true;
  why = "error " + std::to_string(result);
  return false;
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
