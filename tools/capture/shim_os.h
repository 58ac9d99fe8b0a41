// What the recording shim needs from the operating system: the environment, the clock, the
// thread, the driver library and the capture file. shim_posix.cpp and shim_windows.cpp; the rest
// of the shim (shim.cpp) is the same everywhere.
#ifndef KORVELAN380_CAPTURE_SHIM_OS_H
#define KORVELAN380_CAPTURE_SHIM_OS_H

#include <cstdint>
#include <string>
#include <vector>

namespace korvelan380::capture::shim_os {

// The variable's value, "" when it is not set.
std::string Env(const char* name);
uint64_t NowNs();  // monotonic
uint64_t ThreadId();
uint64_t ProcessId();

// Where the vendor's installer puts its driver, in the order tried.
std::vector<std::string> VendorLocations();

// Loads the driver library at `path`; null, with `why` saying so, when it is not there, is this
// shim itself, or does not load.
void* OpenLibrary(const std::string& path, std::string& why);
void* Symbol(void* library, const char* name);
void CloseLibrary(void* library);

// The capture file, emptied or created (-1 when it cannot be), or opened to append to.
intptr_t CreateOutput(const std::string& path);
intptr_t AppendOutput(const std::string& path);
void WriteOutput(intptr_t file, const std::string& text);
void CloseOutput(intptr_t file);  // nothing for -1
// Puts `from` in the place of `to`, in one step.
bool RenameOver(const std::string& from, const std::string& to);

}  // namespace korvelan380::capture::shim_os

#endif  // KORVELAN380_CAPTURE_SHIM_OS_H
