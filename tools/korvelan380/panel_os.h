// What the panel does differently on each operating system: panel_posix.cpp and
// panel_windows.cpp.
#ifndef KORVELAN380_TOOL_PANEL_OS_H
#define KORVELAN380_TOOL_PANEL_OS_H

#include <cstddef>
#include <iosfwd>
#include <memory>
#include <string>

namespace korvelan380::tool::panel_os {

// Fills `bytes` from the system's random source; throws a ToolError when it has none.
void RandomBytes(unsigned char* bytes, size_t size);

// Starts the user's browser on `url` without waiting for it; says on `out` when it cannot.
void OpenBrowser(const std::string& url, std::ostream& out);

// A new empty file in the temporary folder, for this process alone; throws a ToolError when
// none can be made.
std::string NewTemporaryFile();

// Whether `name` is an IPv4 address in digits, or an IPv6 one in brackets ("[::1]").
bool IsNumericAddress(const std::string& name);

// From its making to its end, an interrupt no longer ends the process but is waited for: Ctrl-C
// (SIGINT), and on Linux SIGTERM too. Made before the threads that serve, which on Linux inherit
// the blocked signals.
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

}  // namespace korvelan380::tool::panel_os

#endif  // KORVELAN380_TOOL_PANEL_OS_H
