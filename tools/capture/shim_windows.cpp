// The recording shim on Windows: an FTD2XX.dll, LoadLibrary, WriteFile and the thread's id.
// Paths are kept in the process' code page, as std::filesystem converts them.
#include <windows.h>

#include <chrono>
#include <cwchar>
#include <filesystem>

#include "shim_os.h"

namespace korvelan380::capture::shim_os {
namespace fs = std::filesystem;

namespace {

HMODULE Self() {
  HMODULE self = nullptr;
  GetModuleHandleExW(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCWSTR>(&Self), &self);
  return self;
}

std::wstring ModulePath(HMODULE module) {
  wchar_t path[MAX_PATH] = L"";
  const DWORD length = GetModuleFileNameW(module, path, MAX_PATH);
  return length == 0 || length == MAX_PATH ? std::wstring() : std::wstring(path, length);
}

std::wstring FullPath(const std::wstring& path) {
  wchar_t full[MAX_PATH] = L"";
  const DWORD length = GetFullPathNameW(path.c_str(), MAX_PATH, full, nullptr);
  return length == 0 || length >= MAX_PATH ? path : std::wstring(full, length);
}

// Windows' file names ignore case.
bool SamePath(const std::wstring& a, const std::wstring& b) {
  return _wcsicmp(FullPath(a).c_str(), FullPath(b).c_str()) == 0;
}

std::string Why(DWORD code) {
  char text[512] = "";
  FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text,
                 sizeof text, nullptr);
  std::string message(text);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                              message.back() == ' ' || message.back() == '.')) {
    message.pop_back();
  }
  return message + ", error " + std::to_string(code);
}

}  // namespace

std::string Env(const char* name) {
  const std::wstring wide = fs::path(name).wstring();
  const DWORD size = GetEnvironmentVariableW(wide.c_str(), nullptr, 0);
  if (size == 0) return "";
  std::wstring value(size, L'\0');
  value.resize(GetEnvironmentVariableW(wide.c_str(), value.data(), size));
  return fs::path(value).string();
}

uint64_t NowNs() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}

uint64_t ThreadId() {
  return GetCurrentThreadId();
}

uint64_t ProcessId() {
  return GetCurrentProcessId();
}

std::vector<std::string> VendorLocations() {
  // The vendor's installer puts FTD2XX.dll in the system folder.
  wchar_t system[MAX_PATH] = L"";
  const UINT length = GetSystemDirectoryW(system, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return {};
  return {(fs::path(std::wstring(system, length)) / "FTD2XX.dll").string()};
}

void* OpenLibrary(const std::string& path, std::string& why) {
  const std::wstring wide = fs::path(path).wstring();
  if (GetFileAttributesW(wide.c_str()) == INVALID_FILE_ATTRIBUTES) {
    why = "not there";
    return nullptr;
  }
  // Both by name and, should a link or another spelling lead to it, by the module loaded.
  const HMODULE self = Self();
  if (SamePath(wide, ModulePath(self))) {
    why = "this shim itself";
    return nullptr;
  }
  // Its own folder first for what it needs in turn.
  HMODULE library = LoadLibraryExW(wide.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (library == nullptr) {
    why = Why(GetLastError());
    return nullptr;
  }
  if (library == self) {
    FreeLibrary(library);
    why = "this shim itself";
    return nullptr;
  }
  return reinterpret_cast<void*>(library);
}

void* Symbol(void* library, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void CloseLibrary(void* library) {
  FreeLibrary(static_cast<HMODULE>(library));
}

namespace {

intptr_t Open(const std::string& path, DWORD access, DWORD disposition) {
  // Others may read the capture while it is written.
  HANDLE file = CreateFileW(fs::path(path).wstring().c_str(), access, FILE_SHARE_READ, nullptr,
                            disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  return file == INVALID_HANDLE_VALUE ? -1 : reinterpret_cast<intptr_t>(file);
}

}  // namespace

intptr_t CreateOutput(const std::string& path) {
  return Open(path, GENERIC_WRITE, CREATE_ALWAYS);
}

intptr_t AppendOutput(const std::string& path) {
  return Open(path, FILE_APPEND_DATA, OPEN_EXISTING);
}

void WriteOutput(intptr_t file, const std::string& text) {
  if (file < 0) return;
  size_t done = 0;
  while (done < text.size()) {
    DWORD n = 0;
    if (!WriteFile(reinterpret_cast<HANDLE>(file), text.data() + done,
                   static_cast<DWORD>(text.size() - done), &n, nullptr) ||
        n == 0) {
      return;
    }
    done += n;
  }
}

void CloseOutput(intptr_t file) {
  if (file >= 0) CloseHandle(reinterpret_cast<HANDLE>(file));
}

bool RenameOver(const std::string& from, const std::string& to) {
  return MoveFileExW(fs::path(from).wstring().c_str(), fs::path(to).wstring().c_str(),
                     MOVEFILE_REPLACE_EXISTING) != 0;
}

}  // namespace korvelan380::capture::shim_os
