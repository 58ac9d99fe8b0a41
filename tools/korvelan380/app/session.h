// One invocation's module: the simulated module set up when asked for, the connect at the start
// and the disconnect at the end, and the checks every library call goes through.
#ifndef KORVELAN380_TOOL_SESSION_H
#define KORVELAN380_TOOL_SESSION_H

#include <memory>
#include <string>

#include "app/simulator.h"
#include "app/tool.h"
#include "korvelan380.h"

namespace korvelan380::tool {

// What a status code means, said of module `device` ("module 7 is not connected").
std::string StatusMeaning(uint32_t status, const std::string& device);
// The error for a library call that returned `status`.
ToolError StatusError(const std::string& call, uint32_t status, const std::string& device);

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

  void Connect();
  void Disconnect();
  // Disconnects and saves the simulated modules; also run on the way out of a failed command.
  void Finish();

  // Throws StatusError unless `status` is 0.
  void Check(const char* call, StatusCode status) const;

 private:
  Options options_;
  std::unique_ptr<Simulator> sim_;
  bool connected_ = false;
  bool finished_ = false;
};

// KORVELAN380_EXIO_Sel_R, with the byte it prints to standard output kept out of the tool's own.
StatusCode ReadExioSelection(const char* id, uint8_t* low, uint8_t* high);

}  // namespace korvelan380::tool

#endif  // KORVELAN380_TOOL_SESSION_H
