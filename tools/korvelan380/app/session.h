// One invocation's module: the simulated module set up when asked for, the connect at the start
// and the disconnect at the end, and the checks every library call goes through.
#ifndef KORVELAN380_TOOL_SESSION_H
#define KORVELAN380_TOOL_SESSION_H

#include <memory>
#include <optional>
#include <string>

#include "app/simulator.h"
#include "app/tool.h"
#include "korvelan380.h"

namespace korvelan380::tool {

// What a status code means, said of module `device` ("module 7 is not connected").
std::string StatusMeaning(uint32_t status, const std::string& device);
// The error for a library call that returned `status`.
ToolError StatusError(const std::string& call, uint32_t status, const std::string& device);

// The latency timer as the connect left it, for the commands that report the connection.
struct Latency {
  std::optional<uint8_t> ms;        // set at connect; none: the chip's own setting stands
  std::string detail;               // for people: the setting, and who chose it
  bool noWay = false;               // the default found no way to set it here (status 4)
  std::optional<ToolError> failed;  // it had to be set and could not be
  ordered_json Json() const;
};

// Sets the connected module's latency timer as `options` ask; a failure is in the result. The
// default gives way to KORVELAN380_LATENCY_MS, which the library applies at connect.
Latency SetLatency(const char* id, const Options& options);

class Session {
 public:
  // With --sim, loads the simulator and its state file and, unless told not to, attaches the
  // module on first use.
  explicit Session(const Options& options, bool attachOnFirstUse = true);
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;
  ~Session();

  const Options& options() const { return options_; }
  const char* id() const { return options_.device.c_str(); }
  std::string Serial() const { return "KORVELAN380" + options_.device; }
  Simulator* sim() { return sim_.get(); }

  // Connects, then sets the latency timer: a failure to set it fails the connect, unless it was
  // the default that the driver (or the library) has no way to set.
  void Connect();
  const Latency& latency() const { return latency_; }
  void Disconnect();
  // Disconnects and saves the simulated modules; also run on the way out of a failed command.
  void Finish();

  // Throws StatusError unless `status` is 0.
  void Check(const char* call, StatusCode status) const;

 private:
  Options options_;
  std::unique_ptr<Simulator> sim_;
  Latency latency_;
  bool connected_ = false;
  bool finished_ = false;
};

// KORVELAN380_EXIO_Sel_R, with the byte it prints to standard output kept out of the tool's own.
StatusCode ReadExioSelection(const char* id, uint8_t* low, uint8_t* high);

}  // namespace korvelan380::tool

#endif  // KORVELAN380_TOOL_SESSION_H
