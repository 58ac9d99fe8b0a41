// The tool on Windows: LoadLibraryW, LockFileEx, the tool's own path, and where the simulator
// and its state are. The tool takes korvelan380.dll late (a delay-load import), so that --sim can
// load the simulated FTD2XX.dll first and the library's imports of FTD2XX.dll resolve to it.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>

#include "app/tool.h"
#include "os/os.h"

namespace korvelan380::tool::os {
namespace fs = std::filesystem;

namespace {

// The system's message for an error code, without its line break.
std::string Message(DWORD code) {
  char text[512] = "";
  FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text,
                 sizeof text, nullptr);
  std::string message(text);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) {
    message.pop_back();
  }
  return message + " (error " + std::to_string(code) + ")";
}

}  // namespace

std::string ExecutableDir() {
  wchar_t path[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  if (length == 0 || length == MAX_PATH) return "";
  return fs::path(path).parent_path().string();
}

void SetEnv(const std::string& name, const std::string& value) {
  // The process' own environment, which the shim reads; and the C runtime's copy of it.
  SetEnvironmentVariableW(fs::path(name).wstring().c_str(), fs::path(value).wstring().c_str());
  _putenv_s(name.c_str(), value.c_str());
}

intptr_t LockFile(const std::string& path) {
  HANDLE file = CreateFileW(fs::path(path).wstring().c_str(), GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return -1;
  OVERLAPPED at{};
  if (!LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &at)) {
    CloseHandle(file);
    return -1;
  }
  return reinterpret_cast<intptr_t>(file);
}

void Unlock(intptr_t lock) {
  CloseHandle(reinterpret_cast<HANDLE>(lock));
}

void WithoutStdout(const std::function<void()>& fn) {
  std::cout.flush();
  std::fflush(stdout);
  const int saved = _dup(_fileno(stdout));
  const int sink = _open("NUL", _O_WRONLY);
  if (saved >= 0 && sink >= 0) _dup2(sink, _fileno(stdout));
  fn();
  std::fflush(stdout);
  if (saved >= 0 && sink >= 0) _dup2(saved, _fileno(stdout));
  if (sink >= 0) _close(sink);
  if (saved >= 0) _close(saved);
}

std::string StateDir() {
  const char* local = std::getenv("LOCALAPPDATA");
  const fs::path base = local != nullptr && *local != '\0' ? fs::path(local) : fs::path(".");
  return (base / "korvelan380").string();
}

std::string DefaultSimStatePath() {
  return (fs::path(StateDir()) / "sim-state.json").string();
}

std::optional<ShellResult> RunShell(const std::string& command) {
  std::fflush(nullptr);
  FILE* pipe = _popen(command.c_str(), "rb");
  if (pipe == nullptr) return std::nullopt;
  ShellResult result;
  char buffer[4096];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
    result.out.append(buffer, n);
  result.exit = _pclose(pipe);
  return result;
}

std::string DriverFile() {
  return "FTD2XX.dll";
}

std::vector<std::string> SimLibrariesBeside(const std::string& dir) {
  return {(fs::path(dir) / ".." / "sim" / "FTD2XX.dll").string()};
}

void* LoadDriver(const std::string& path, std::string& error) {
  // By full path: loaded under its name FTD2XX.dll, it is what korvelan380.dll's imports bind.
  HMODULE library = LoadLibraryW(fs::path(path).wstring().c_str());
  if (library == nullptr) error = Message(GetLastError());
  return reinterpret_cast<void*>(library);
}

void* Symbol(void* library, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void* BoundDriver(std::string& error) {
  // A module already loaded as FTD2XX.dll, else the one the system's search finds.
  HMODULE library = GetModuleHandleW(L"FTD2XX.dll");
  if (library == nullptr) library = LoadLibraryW(L"FTD2XX.dll");
  if (library == nullptr) error = Message(GetLastError());
  return reinterpret_cast<void*>(library);
}

void* LoadedLibrary(const std::string& path) {
  return reinterpret_cast<void*>(GetModuleHandleW(fs::path(path).wstring().c_str()));
}

void* OpenLibrary(const std::string& path, std::string& error) {
  HMODULE library = LoadLibraryW(fs::path(path).wstring().c_str());
  if (library == nullptr) error = Message(GetLastError());
  return reinterpret_cast<void*>(library);
}

std::vector<std::string> LoadedDriverFiles() {
  // korvelan380.dll imports its driver functions from the module loaded as FTD2XX.dll.
  const std::string file = FileOf(GetModuleHandleW(L"FTD2XX.dll"));
  return file.empty() ? std::vector<std::string>{} : std::vector<std::string>{file};
}

std::string FileOf(const void* address) {
  HMODULE module = nullptr;
  if (address == nullptr || !GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                                    GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                                static_cast<LPCWSTR>(address), &module)) {
    return "";
  }
  wchar_t path[MAX_PATH] = L"";
  if (GetModuleFileNameW(module, path, MAX_PATH) == 0) return "";
  return fs::path(path).string();
}

std::string OpenBackendFile() {
  return "";
}

void* LibraryExport(const char* name) {
  HMODULE library = GetModuleHandleW(L"korvelan380.dll");
  return library != nullptr ? Symbol(library, name) : nullptr;
}

void RequireLibrary() {
  if (GetModuleHandleW(L"korvelan380.dll") != nullptr) return;
  if (LoadLibraryW(L"korvelan380.dll") != nullptr) return;
  ToolError error("korvelan380.dll does not load: " + Message(GetLastError()), kExitFailed);
  error.hint =
      "install FTDI's D2XX driver (FTD2XX.dll), keep korvelan380.dll beside the tool, or use "
      "--sim; 'korvelan380 doctor' looks into it";
  throw error;
}

DriverLook LookAtDriver() {
  DriverLook look;
  look.missingHint = " (install FTDI's current D2XX driver)";
  // With --sim the simulated FTD2XX.dll is already loaded under that name: the library's too. A
  // reference of the look's own either way, which EndLook gives back.
  HMODULE driver = nullptr;
  if (!GetModuleHandleExW(0, L"FTD2XX.dll", &driver)) driver = LoadLibraryW(L"FTD2XX.dll");
  if (driver == nullptr) {
    look.problem = "FTD2XX.dll does not load (error " + std::to_string(GetLastError()) +
                   "); install FTDI's D2XX driver, which puts it in the system folder";
    return look;
  }
  wchar_t path[MAX_PATH] = L"";
  GetModuleFileNameW(driver, path, MAX_PATH);
  look.library = reinterpret_cast<void*>(driver);
  look.path = fs::path(path).string();
  return look;
}

DriverLook LookAtOpenBackend() {
  return {nullptr, "", "there is no open driver on Windows", ""};
}

void EndLook(const DriverLook& look) {
  if (look.library != nullptr) FreeLibrary(static_cast<HMODULE>(look.library));
}

}  // namespace korvelan380::tool::os
