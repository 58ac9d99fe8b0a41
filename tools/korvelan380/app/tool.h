// The korvelan380 command-line tool: what every command shares.
#ifndef KORVELAN380_TOOL_TOOL_H
#define KORVELAN380_TOOL_TOOL_H

#include <cstdint>
#include <iosfwd>
#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace korvelan380::tool {

using nlohmann::ordered_json;

// Exit statuses.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;  // the library or the module reported a failure
inline constexpr int kExitUsage = 2;   // a bad command line, value or file

// The USB chip's latency timer the tool sets at connect unless told otherwise: a short reply
// then waits at most 2 ms in the chip instead of the 16 ms the chip starts with.
inline constexpr uint8_t kDefaultLatencyMs = 2;

// The options every command takes.
struct Options {
  std::string device = "0";
  bool deviceGiven = false;  // by -d or $KORVELAN380_DEVICE, not the default
  bool sim = false;
  std::string simState;  // empty: the per-user default
  bool json = false;
  bool trace = false;
  // With --sim: how long the module takes to answer a read, and how long FT_Read waits for it.
  double simLatencyMs = 0;
  std::string capture;        // record every driver call in this file
  uint64_t captureLimit = 0;  // its size limit in bytes, 0 for none
  std::string replay;         // the simulated module answers from this capture
  // The latency timer set at connect, in milliseconds; none keeps the chip's setting. Only one
  // given on the command line must be met: the default is dropped where it cannot be set.
  std::optional<uint8_t> latencyMs = kDefaultLatencyMs;
  bool latencyGiven = false;
};

// A command that cannot go on: the message for standard error, the exit status, and for a
// library call its name and status.
class ToolError : public std::runtime_error {
 public:
  ToolError(std::string message, int exitStatus) : std::runtime_error(message), exit(exitStatus) {}
  int exit;
  std::string call;
  uint32_t status = 0;
  std::string hint;  // a further line that says what to try
};

ToolError UsageError(const std::string& message);

// What a command found, for people (text) and for scripts (json).
struct Report {
  ordered_json json = ordered_json::object();
  std::string text;
  int exit = kExitOk;  // a command that finds problems without failing sets it
  void Line(const std::string& line) { text += line + "\n"; }
};

// Runs one invocation: args without the program name. Output goes to out, errors to err.
int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
        std::istream& in);

}  // namespace korvelan380::tool

#endif  // KORVELAN380_TOOL_TOOL_H
