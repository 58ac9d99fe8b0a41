// The simulated module behind --sim: found, loaded and bound, and its state file.
#include "app/simulator.h"

#include "hex.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/tool.h"
#include "os/os.h"

#ifndef KORVELAN380_SIM_BUILD_PATH
#define KORVELAN380_SIM_BUILD_PATH ""
#endif

namespace korvelan380::tool {
namespace fs = std::filesystem;

namespace {

constexpr const char* kStateFormat = "korvelan380 simulated modules";
constexpr int kStateVersion = 1;

ToolError StateFileError(const std::string& path, const std::string& why) {
  ToolError error("the simulator's state file " + path + " " + why, kExitUsage);
  error.hint = "delete it to start afresh, or give another file with --sim-state FILE";
  return error;
}

}  // namespace

std::vector<std::string> SimLibraryCandidates() {
  if (const char* env = std::getenv("KORVELAN380_SIM_LIBRARY"); env != nullptr && *env != '\0') {
    return {env};  // named explicitly: nothing else is tried
  }
  std::vector<std::string> candidates;
  if (const std::string dir = os::ExecutableDir(); !dir.empty()) {
    candidates = os::SimLibrariesBeside(dir);
  }
  if (*KORVELAN380_SIM_BUILD_PATH != '\0') candidates.push_back(KORVELAN380_SIM_BUILD_PATH);
  return candidates;
}

std::string SimLibraryFile() {
  return os::DriverFile();
}

// The control functions of the simulator's C layer (korvelan380_sim.h), bound by name.
struct Simulator::Api {
  void (*reset)();
  int (*attach)(const char*, size_t);
  int (*detach)(const char*);
  int (*isAttached)(const char*);
  void (*setIdealCalibration)(const char*);
  void (*setRegister)(const char*, uint8_t, uint8_t);
  void (*setReplyLatencyUs)(const char*, uint32_t);
  int (*measure)(const char*, uint8_t, double*);
  size_t (*exportState)(const char*, uint8_t*, size_t);
  int (*importState)(const char*, const uint8_t*, size_t);
  size_t (*traceCount)(const char*);
  int (*traceFn)(size_t);
  uint32_t (*traceArg)(size_t);
  uint32_t (*traceStatus)(size_t);
  size_t (*traceData)(size_t, uint8_t*, size_t);
  void (*clearTrace)();
  const char* (*fnName)(int);
};

Simulator::Simulator() : api_(new Api{}) {
  const std::vector<std::string> candidates = SimLibraryCandidates();
  std::string tried;
  for (const std::string& candidate : candidates) {
    std::error_code ec;
    if (!fs::exists(candidate, ec)) {
      tried += "\n  " + candidate + " (not there)";
      continue;
    }
    const std::string path = fs::weakly_canonical(candidate, ec).string();
    std::string why;
    library_ = os::LoadDriver(path, why);
    if (library_ != nullptr) {
      path_ = path;
      break;
    }
    tried += "\n  " + candidate + " (" + why + ")";
  }
  if (library_ == nullptr) {
    delete api_;
    ToolError error(
        "the simulated module's library " + SimLibraryFile() + " was not found; tried:" + tried,
        kExitFailed);
    error.hint = "build the project, or name the library with KORVELAN380_SIM_LIBRARY=PATH";
    throw error;
  }
  bool complete = true;
  auto bind = [&](auto& slot, const char* name) {
    slot = reinterpret_cast<std::remove_reference_t<decltype(slot)>>(os::Symbol(library_, name));
    complete = complete && slot != nullptr;
  };
  bind(api_->reset, "ksim_reset");
  bind(api_->attach, "ksim_attach");
  bind(api_->detach, "ksim_detach");
  bind(api_->isAttached, "ksim_is_attached");
  bind(api_->setIdealCalibration, "ksim_set_ideal_calibration");
  bind(api_->setRegister, "ksim_set_register");
  bind(api_->setReplyLatencyUs, "ksim_set_reply_latency_us");
  bind(api_->measure, "ksim_measure");
  bind(api_->exportState, "ksim_export_state");
  bind(api_->importState, "ksim_import_state");
  bind(api_->traceCount, "ksim_trace_count");
  bind(api_->traceFn, "ksim_trace_fn");
  bind(api_->traceArg, "ksim_trace_arg");
  bind(api_->traceStatus, "ksim_trace_status");
  bind(api_->traceData, "ksim_trace_data");
  bind(api_->clearTrace, "ksim_clear_trace");
  bind(api_->fnName, "ksim_fn_name");
  if (!complete) {
    delete api_;
    api_ = nullptr;
    throw ToolError(path_ + " is not the simulated module: its control functions are missing",
                    kExitFailed);
  }
  // This process owns the simulated modules: they come from the state file alone.
  api_->reset();
}

Simulator::~Simulator() {
  if (lock_ >= 0) os::Unlock(lock_);
  delete api_;
  // The library stays loaded: the library under test may still hold its functions.
}

void Simulator::Open(const std::string& statePath) {
  statePath_ = statePath;
  std::error_code ec;
  const fs::path parent = fs::path(statePath).parent_path();
  if (!parent.empty()) fs::create_directories(parent, ec);
  // Invocations that share a state file run one after the other.
  lock_ = os::LockFile(statePath + ".lock");
  if (lock_ < 0) {
    throw StateFileError(statePath, "cannot be locked (" + statePath + ".lock)");
  }
  std::ifstream file(statePath, std::ios::binary);
  if (!file) {
    if (fs::exists(statePath, ec)) throw StateFileError(statePath, "cannot be read");
    return;
  }
  std::stringstream content;
  content << file.rdbuf();
  const nlohmann::json doc = nlohmann::json::parse(content.str(), nullptr, false);
  if (doc.is_discarded() || !doc.is_object()) {
    throw StateFileError(statePath, "is not a JSON document");
  }
  if (!doc.contains("format") || doc["format"] != kStateFormat || !doc.contains("version") ||
      doc["version"] != kStateVersion || !doc.contains("modules") || !doc["modules"].is_object()) {
    throw StateFileError(statePath, "is not a version 1 state of simulated modules");
  }
  std::vector<std::pair<std::string, std::vector<uint8_t>>> modules;
  for (const auto& [serial, state] : doc["modules"].items()) {
    std::vector<uint8_t> bytes;
    if (!state.is_string() || !hex::Decode(state.get<std::string>(), bytes)) {
      throw StateFileError(statePath, "holds a malformed state for " + serial);
    }
    modules.emplace_back(serial, std::move(bytes));
  }
  for (const auto& [serial, bytes] : modules) {
    if (api_->importState(serial.c_str(), bytes.data(), bytes.size()) == 0) {
      api_->reset();
      throw StateFileError(statePath, "holds a malformed state for " + serial);
    }
    known_.insert(serial);
  }
}

void Simulator::AttachFresh(const std::string& serial, size_t eepromSize, bool idealCalibration) {
  api_->detach(serial.c_str());
  api_->attach(serial.c_str(), eepromSize);
  if (idealCalibration) api_->setIdealCalibration(serial.c_str());
  known_.insert(serial);
}

void Simulator::Detach(const std::string& serial) {
  api_->detach(serial.c_str());
  known_.insert(serial);
}

bool Simulator::IsAttached(const std::string& serial) const {
  return api_->isAttached(serial.c_str()) != 0;
}

void Simulator::SetRegister(const std::string& serial, uint8_t reg, uint8_t value) {
  api_->setRegister(serial.c_str(), reg, value);
}

void Simulator::SetReplyLatency(const std::string& serial, uint32_t replyLatencyUs) {
  api_->setReplyLatencyUs(serial.c_str(), replyLatencyUs);
}

double Simulator::Measure(const std::string& serial, uint8_t channel) const {
  double volts = 0.0;
  if (api_->measure(serial.c_str(), channel, &volts) != 0) {
    throw ToolError("the simulated module " + serial + " is not attached, or has no channel " +
                        std::to_string(channel),
                    kExitFailed);
  }
  return volts;
}

void Simulator::Save() {
  if (statePath_.empty()) return;
  nlohmann::json doc = {{"format", kStateFormat}, {"version", kStateVersion}};
  doc["modules"] = nlohmann::json::object();
  for (const std::string& serial : known_) {
    std::vector<uint8_t> bytes(api_->exportState(serial.c_str(), nullptr, 0));
    api_->exportState(serial.c_str(), bytes.data(), bytes.size());
    doc["modules"][serial] = hex::Encode(bytes);
  }
  // A new file renamed over the old one: a reader never sees half a state.
  const std::string temporary = statePath_ + ".new";
  {
    std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
    file << doc.dump(1) << "\n";
    if (!file.flush()) throw StateFileError(statePath_, "cannot be written (" + temporary + ")");
  }
  std::error_code ec;
  fs::rename(temporary, statePath_, ec);
  if (ec) throw StateFileError(statePath_, "cannot be replaced: " + ec.message());
}

std::vector<capture::DriverCall> Simulator::Trace() const {
  std::vector<capture::DriverCall> calls(api_->traceCount(nullptr));
  for (size_t i = 0; i < calls.size(); ++i) {
    capture::DriverCall& c = calls[i];
    c.fn = api_->traceFn(i);
    c.arg = api_->traceArg(i);
    c.status = api_->traceStatus(i);
    c.data.resize(api_->traceData(i, nullptr, 0));
    api_->traceData(i, c.data.data(), c.data.size());
  }
  return calls;
}

void Simulator::ClearTrace() {
  api_->clearTrace();
}

}  // namespace korvelan380::tool
