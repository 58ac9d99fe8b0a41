#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "app/capture_session.h"
#include "os/os.h"

#ifndef KORVELAN380_CAPTURE_INSTALL_PATH
#define KORVELAN380_CAPTURE_INSTALL_PATH "../lib/korvelan380/capture/libftd2xx.so"
#endif
#ifndef KORVELAN380_CAPTURE_BUILD_PATH
#define KORVELAN380_CAPTURE_BUILD_PATH ""
#endif

namespace korvelan380::tool {
namespace fs = std::filesystem;

namespace {

using DepartureFn = size_t (*)(int, char*, size_t);
DepartureFn departureFn = nullptr;  // set while the simulated module replays
void* shimLibrary = nullptr;        // set once --capture has loaded the shim

std::string FirstThere(const std::vector<std::string>& candidates) {
  for (const std::string& candidate : candidates) {
    std::error_code ec;
    if (fs::exists(candidate, ec)) return fs::weakly_canonical(candidate, ec).string();
  }
  return "";
}

}  // namespace

std::vector<std::string> CaptureLibraryCandidates() {
  if (const char* env = std::getenv("KORVELAN380_CAPTURE_LIBRARY"); env != nullptr && *env) {
    return {env};
  }
  std::vector<std::string> candidates;
  const std::string dir = os::ExecutableDir();
  if (!dir.empty()) {
    candidates.push_back((fs::path(dir) / KORVELAN380_CAPTURE_INSTALL_PATH).string());
#ifndef _WIN32
    // On Windows the installed layout is the build tree's: bin\ beside capture\.
    candidates.push_back(dir + "/../../capture/libftd2xx.so");
#endif
  }
  if (*KORVELAN380_CAPTURE_BUILD_PATH != '\0') candidates.push_back(KORVELAN380_CAPTURE_BUILD_PATH);
  return candidates;
}

void StartCapture(const Options& options) {
  if (options.capture.empty()) return;
  if (!options.replay.empty()) {
    throw UsageError("--capture and --replay do not go together: a replay answers from a capture");
  }
  {
    std::ofstream probe(options.capture, std::ios::app);
    if (!probe) throw UsageError("cannot write the capture file " + options.capture);
  }
  const std::string shim = FirstThere(CaptureLibraryCandidates());
  if (shim.empty()) {
    ToolError error("the recording shim " + SimLibraryFile() + " was not found", kExitFailed);
    error.hint = "build the project, or name it with KORVELAN380_CAPTURE_LIBRARY=PATH";
    throw error;
  }
  if (options.sim) {
    // The shim forwards to the simulated module only when it is named.
    const std::string sim = FirstThere(SimLibraryCandidates());
    if (!sim.empty()) os::SetEnv("KORVELAN380_CAPTURE_DRIVER", sim);
  }
  std::error_code ec;
  os::SetEnv("KORVELAN380_CAPTURE_FILE", fs::absolute(options.capture, ec).string());
  if (options.captureLimit != 0) {
    os::SetEnv("KORVELAN380_CAPTURE_LIMIT", std::to_string(options.captureLimit));
  }
  // Before the simulated module: the library binds the first driver loaded under the driver's
  // name (libftd2xx.so, FTD2XX.dll), and the shim then loads the one it forwards to.
  std::string why;
  shimLibrary = os::LoadDriver(shim, why);
  if (shimLibrary == nullptr) {
    throw ToolError("the recording shim " + shim + " does not load: " + why, kExitFailed);
  }
}

void* CaptureShim() {
  return shimLibrary;
}

void StartReplay(const Options& options, Simulator& sim) {
  if (options.replay.empty()) return;
  std::string why;
  void* library = os::LoadDriver(sim.LibraryPath(), why);  // already loaded: the same one
  using StartFn = int (*)(const char*, char*, size_t);
  auto start =
      library ? reinterpret_cast<StartFn>(os::Symbol(library, "ksim_replay_start")) : nullptr;
  auto departure = library
                       ? reinterpret_cast<DepartureFn>(os::Symbol(library, "ksim_replay_departure"))
                       : nullptr;
  if (start == nullptr || departure == nullptr) {
    throw ToolError("the simulated module " + sim.LibraryPath() + " cannot replay captures",
                    kExitFailed);
  }
  char refused[1024] = "";
  if (start(options.replay.c_str(), refused, sizeof refused) == 0) {
    ToolError error(refused, kExitUsage);
    error.hint = "a capture is written by 'korvelan380 --capture FILE COMMAND' or the shim";
    throw error;
  }
  departureFn = departure;
}

void CheckReplay(bool atEnd) {
  if (departureFn == nullptr) return;
  char text[2048] = "";
  if (departureFn(atEnd ? 1 : 0, text, sizeof text) == 0) return;
  ToolError error(std::string("the replay departed from the capture: ") + text, kExitFailed);
  error.hint = "the program made other driver calls than the ones recorded";
  throw error;
}

}  // namespace korvelan380::tool
