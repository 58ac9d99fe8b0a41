// What the tool does differently on Linux and on Windows, all behind this one header: its
// definitions are in the *_posix.cpp and *_windows.cpp files beside it. What the tool decides
// from what these return is the same on both systems and lives outside this folder.
#ifndef KORVELAN380_TOOL_OS_OS_H
#define KORVELAN380_TOOL_OS_OS_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace korvelan380::tool::os {

// ---- The process (os_posix.cpp, os_windows.cpp) ----

// The folder the tool's own executable is in, or "" when it cannot be told.
std::string ExecutableDir();

// Sets the variable in this process' environment, where libraries loaded later read it.
void SetEnv(const std::string& name, const std::string& value);

// Takes an exclusive lock on the file (created when missing), waiting for it; -1 when it
// cannot be had. Released by Unlock or the process' end.
intptr_t LockFile(const std::string& path);
void Unlock(intptr_t lock);

// Runs `fn` with the process' standard output sent nowhere.
void WithoutStdout(const std::function<void()>& fn);

// The tool's state folder: $XDG_STATE_HOME/korvelan380, or ~/.local/state/korvelan380; on
// Windows %LOCALAPPDATA%\korvelan380.
std::string StateDir();
// sim-state.json in the state folder.
std::string DefaultSimStatePath();
// What a program run through the shell gave: its exit status and standard output.
struct ShellResult {
  int exit = -1;  // -1 when it did not end normally (a signal)
  std::string out;
};
// Runs `command` through the system's shell (sh -c; cmd /c on Windows), with this process'
// environment, standard input and standard error, and waits for it; none when it cannot be
// started.
std::optional<ShellResult> RunShell(const std::string& command);

// ---- The driver library (os_posix.cpp, os_windows.cpp) ----

// The driver's file name, libftd2xx.so or FTD2XX.dll on Windows. The simulated module and the
// recording shim take the same name, so that the library binds them as the driver.
std::string DriverFile();

// Where the simulated module's library is beside a tool whose executable is in `dir`: in an
// installation, then in the build tree. On Linux <libdir>/korvelan380/sim/libftd2xx.so relative
// to `dir` (../lib/korvelan380/sim/libftd2xx.so, or ../lib/<multiarch>/... with Debian's libdir),
// then ../../sim/libftd2xx.so; on Windows ..\sim\FTD2XX.dll, the ZIP's layout and the build
// tree's alike.
std::vector<std::string> SimLibrariesBeside(const std::string& dir);

// Loads a driver library so that the library, bound later, uses it: on Linux globally, under
// its soname; on Windows by full path, under its name FTD2XX.dll. Null, with `error` saying why,
// when it does not load.
void* LoadDriver(const std::string& path, std::string& error);
void* Symbol(void* library, const char* name);
// The driver library loaded under the driver's name, else the one the system's search finds:
// what the library binds when the tool has loaded none by path. Null, with `error` saying why,
// when none loads. It stays loaded.
void* BoundDriver(std::string& error);
// The library at `path` when this process has loaded it already, else null: nothing is loaded.
void* LoadedLibrary(const std::string& path);
// Loads the library at `path` (or by bare name, as the system searches) for itself, as the
// korvelan380 library loads a driver; null, with `error` saying why, when it does not load.
void* OpenLibrary(const std::string& path, std::string& error);

// The files of the libraries this process has loaded that define the driver functions
// (FT_OpenEx), in the order they were loaded.
std::vector<std::string> LoadedDriverFiles();
// The file of the loaded library that holds `address`, or "".
std::string FileOf(const void* address);
// The file name of the library's open driver (over libftdi), installed beside the library; ""
// on a system that has none.
std::string OpenBackendFile();

// Throws a ToolError when the library cannot be used before its first call. On Windows the
// tool loads korvelan380.dll at that call (after --sim has loaded the simulated FTD2XX.dll), and
// a missing FTD2XX.dll would end the process there instead.
void RequireLibrary();

// An export of the korvelan380 library this process runs with, once that library is loaded;
// null when the library lacks it.
void* LibraryExport(const char* name);

// The driver library the system's search finds, opened for the doctor to look at.
struct DriverLook {
  void* library = nullptr;  // null when it does not load; closed again by EndLook
  std::string path;         // the file it loaded from
  std::string problem;      // when it does not load: why, and how the driver is installed here
  std::string missingHint;  // what to add after the functions it lacks; "" for nothing
};
DriverLook LookAtDriver();
// The open driver beside the korvelan380 library, opened for the doctor to look at when the
// library bound no driver.
DriverLook LookAtOpenBackend();
void EndLook(const DriverLook& look);

// ---- The USB devices and the bus (usb_posix.cpp, usb_windows.cpp) ----

// The folder where FTDI's driver finds the USB devices, when it does not exist (a container or
// virtual machine without USB passthrough); "" when the bus is visible, as on Windows always.
std::string MissingUsbBus();

// An FTDI USB device (vendor 0403) as the system shows it.
struct FtdiDevice {
  std::optional<std::string> serial;  // none when the system does not show serial numbers
  std::string detail;                 // the doctor's line: where it is, its serial number
  bool mayOpen = true;                // false when this user may not open it (and why is in detail)
  // The kernel driver bound to its first interface, the one the module's chip has ("ftdi_sio"),
  // with the interface's name ("1-1:1.0"); none when nothing is bound or the system does not say.
  std::optional<std::string> interfaceDriver;
};
struct UsbLook {
  std::vector<FtdiDevice> devices;
  std::string none;  // what the doctor says when there is none
};
UsbLook LookAtUsb();

// Whether Linux's kernel driver ftdi_sio, which claims FTDI devices and keeps D2XX from them, is
// loaded; none on a system that has no such driver.
std::optional<bool> FtdiSioLoaded();

// ---- The panel (panel_posix.cpp, panel_windows.cpp) ----

// Fills `bytes` from the system's random source; throws a ToolError when it has none.
void RandomBytes(unsigned char* bytes, size_t size);

// Writes `content` to a file `name` in a new folder only this user can read; its path, or "" when
// it cannot be written.
std::string WritePrivateFile(const std::string& name, const std::string& content);
// Removes a file WritePrivateFile wrote, and its folder.
void RemovePrivateFile(const std::string& path);
// Starts the user's browser on a local file without waiting for it; false and why when it cannot.
bool StartBrowser(const std::string& path, std::string& why);

// Whether `name` is an IPv4 address in digits, or an IPv6 one in brackets ("[::1]").
bool IsNumericAddress(const std::string& name);

// From its making to its end, an interrupt no longer ends the process but is waited for: Ctrl-C
// (SIGINT), and on Linux SIGTERM too; on Windows also Ctrl-Break and the console window's
// closing, whose handler holds the process until the end (Windows ends it when the handler
// returns, about 5 s at most). Interrupts that were not waited for are dropped at the end, so
// that one coming during a stop cannot cut it short. Made before the threads that serve, which on
// Linux inherit the blocked signals.
class Interrupts {
 public:
  Interrupts();
  ~Interrupts();
  Interrupts(const Interrupts&) = delete;
  Interrupts& operator=(const Interrupts&) = delete;

  // Waits at most `milliseconds` for an interrupt; true when one came.
  bool Wait(int milliseconds);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// ---- The panel's connections (socket_posix.cpp, socket_windows.cpp) ----

// Waits at most `milliseconds` for the socket (an accepted connection) to have something to
// read, or to be closed; false when the time ran out.
bool WaitReadable(uintptr_t socket, int milliseconds);

// Ends an accepted connection both ways without closing it, so that the thread serving it sees
// the end at once; the thread closes it itself.
void ShutDownSocket(uintptr_t socket);

// What the system says of the last socket call's failure on this thread ("Address already in
// use").
std::string LastSocketError();

}  // namespace korvelan380::tool::os

#endif  // KORVELAN380_TOOL_OS_OS_H
