// What the tool does differently on each operating system, behind one set of functions:
// os_posix.cpp and os_windows.cpp.
#ifndef KORVELAN380_TOOL_OS_H
#define KORVELAN380_TOOL_OS_H

#include <cstdint>
#include <functional>
#include <string>

namespace korvelan380::tool::os {

// The folder the tool's own executable is in, or "" when it cannot be told.
std::string ExecutableDir();

// Loads the simulated module's driver library so that the library, bound later, uses it: on
// Linux globally, under its soname; on Windows by full path, under its name FTD2XX.dll. Null,
// with `error` saying why, when it does not load.
void* LoadDriver(const std::string& path, std::string& error);
void* Symbol(void* library, const char* name);
// The driver library loaded under the driver's name, else the one the system's search finds:
// what the library binds when the tool has loaded none by path. Null, with `error` saying why,
// when none loads.
void* BoundDriver(std::string& error);

// Sets the variable in this process' environment, where libraries loaded later read it.
void SetEnv(const std::string& name, const std::string& value);

// Takes an exclusive lock on the file (created when missing), waiting for it; -1 when it
// cannot be had. Released by Unlock or the process' end.
intptr_t LockFile(const std::string& path);
void Unlock(intptr_t lock);

// Runs `fn` with the process' standard output sent nowhere.
void WithoutStdout(const std::function<void()>& fn);

// Throws a ToolError when the library cannot be used before its first call. On Windows the
// tool loads korvelan380.dll at that call (after --sim has loaded the simulated FTD2XX.dll), and
// a missing FTD2XX.dll would end the process there instead.
void RequireLibrary();

}  // namespace korvelan380::tool::os

#endif  // KORVELAN380_TOOL_OS_H
