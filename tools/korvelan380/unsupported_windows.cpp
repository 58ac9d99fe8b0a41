// What the Windows tool does not have yet: recording through the shim (--capture), replay
// (--replay) and doctor --timing, which all take the driver apart by its Linux name.
// Each says so with a usage error, and changes nothing.
#include "capture_commands.h"
#include "commands.h"

namespace korvelan380::tool {

namespace {

ToolError NotOnWindows(const std::string& what) {
  ToolError error(what + " is not available in the Windows tool yet", kExitUsage);
  error.hint = "run it with the Linux tool";
  return error;
}

}  // namespace

std::vector<std::string> CaptureLibraryCandidates() {
  return {};
}

void StartCapture(const Options& options) {
  if (!options.capture.empty()) throw NotOnWindows("--capture");
}

void StartReplay(const Options& options, Simulator&) {
  if (!options.replay.empty()) throw NotOnWindows("--replay");
}

void CheckReplay(bool) {}

void DoctorTiming(Session&, Report&) {
  throw NotOnWindows("doctor --timing");
}

}  // namespace korvelan380::tool
