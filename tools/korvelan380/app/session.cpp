#include "app/session.h"

#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "app/capture_session.h"
#include "app/usb_bus.h"
#include "os/os.h"

namespace korvelan380::tool {

namespace {
constexpr size_t kEepromSize = 128;
}

ToolError UsageError(const std::string& message) {
  return ToolError(message, kExitUsage);
}

std::string StatusMeaning(uint32_t status, const std::string& device) {
  const std::string module = "module " + device;
  switch (status) {
    case KORVELAN380_OK:
      return "success";
    case KORVELAN380_INVALID_ARGUMENT:
      return "an argument is outside its accepted values";
    case KORVELAN380_NOT_CONNECTED:
      return module + " is not connected";
    case KORVELAN380_OPEN_FAILED:
      return "the driver could not open " + module;
    case KORVELAN380_TRANSFER_FAILED:
      return "a transfer with " + module + " failed";
    case KORVELAN380_ALREADY_CONNECTED:
      return module + " is already connected";
    default:
      return "unknown status";
  }
}

ToolError StatusError(const std::string& call, uint32_t status, const std::string& device) {
  ToolError error(
      call + ": " + StatusMeaning(status, device) + " (status " + std::to_string(status) + ")",
      kExitFailed);
  error.call = call;
  error.status = status;
  return error;
}

ordered_json Latency::Json() const {
  return {{"ms", ms ? ordered_json(*ms) : ordered_json(nullptr)}, {"detail", detail}};
}

namespace {

// The library's own setting, applied at every connect, for programs that set none.
std::string LatencyFromEnvironment() {
  const char* env = std::getenv("KORVELAN380_LATENCY_MS");
  return env != nullptr ? env : "";
}

// A setting that could not be made: the report's words, and the error unless it was the default
// that found no way to set the timer here (status 4, `noWay` saying why).
Latency NotSet(const Options& options, StatusCode status, const std::string& device,
               const std::string& noWay) {
  Latency latency;
  if (status != KORVELAN380_OPEN_FAILED) {
    latency.detail =
        "the chip's own: KORVELAN380_LatencySet failed (status " + std::to_string(status) + ")";
    latency.failed = StatusError("KORVELAN380_LatencySet", status, device);
    return latency;
  }
  latency.detail = "the chip's own: " + noWay;
  latency.noWay = true;
  if (!options.latencyGiven) return latency;  // the default does what it can
  ToolError error("module " + device + "'s latency timer cannot be set: " + noWay, kExitFailed);
  error.call = "KORVELAN380_LatencySet";
  error.status = status;
  error.hint = "--latency keep leaves the chip's own setting";
  latency.failed = error;
  return latency;
}

}  // namespace

Latency SetLatency(const char* id, const Options& options) {
  Latency latency;
  if (!options.latencyMs) {
    latency.detail = "the chip's own, kept (--latency keep)";
    return latency;
  }
  if (const std::string env = LatencyFromEnvironment(); !options.latencyGiven && !env.empty()) {
    latency.detail = "KORVELAN380_LATENCY_MS=" + env + ", set by the library at connect";
    return latency;
  }
  // Looked up, not linked: a library from before the export is one that cannot set it.
  using LatencySetFn = decltype(&KORVELAN380_LatencySet);
  const auto set = reinterpret_cast<LatencySetFn>(os::LibraryExport("KORVELAN380_LatencySet"));
  if (set == nullptr) {
    return NotSet(options, KORVELAN380_OPEN_FAILED, id,
                  "this korvelan380 library has no KORVELAN380_LatencySet");
  }
  const StatusCode status = set(id, *options.latencyMs);
  if (status != KORVELAN380_OK) {
    return NotSet(options, status, id, "the driver has no FT_SetLatencyTimer");
  }
  latency.ms = *options.latencyMs;
  latency.detail = std::to_string(*latency.ms) + " ms, set at connect (" +
                   (options.latencyGiven ? "--latency" : "the tool's default") + ")";
  return latency;
}

Session::Session(const Options& options, bool attachOnFirstUse) : options_(options) {
  if (options_.device.empty() || options_.device.size() > 8) {
    throw UsageError("'" + options_.device +
                     "' is not a module: the device is the tail of the serial number "
                     "KORVELAN380<device>, 1 to 8 characters");
  }
  if (!options_.replay.empty()) options_.sim = true;  // the simulated module replays
  StartCapture(options_);  // first: the library must find the shim before the simulated module
  if (!options_.sim) {
    if (options_.trace) throw UsageError("--trace shows the simulated module's calls: add --sim");
    if (options_.simLatencyMs > 0) {
      throw UsageError("--sim-latency sets the simulated module: add --sim");
    }
    return;
  }
  sim_ = std::make_unique<Simulator>();
  sim_->Open(options_.simState.empty() ? os::DefaultSimStatePath() : options_.simState);
  // First use: a module that works out of the box, volts included.
  if (attachOnFirstUse && !sim_->Knows(Serial())) sim_->AttachFresh(Serial(), kEepromSize, true);
  sim_->SetReplyLatency(Serial(), static_cast<uint32_t>(options_.simLatencyMs * 1000.0));
  StartReplay(options_, *sim_);
}

Session::~Session() {
  try {
    Finish();
  } catch (...) {
    // Already on the way out of an error; that one is reported.
  }
}

void Session::Connect() {
  if (sim_ == nullptr) RequireUsbBus(options_.device);
  os::RequireLibrary();
  const StatusCode status = KORVELAN380_Connect(id());
  if (status == KORVELAN380_OK) {
    connected_ = true;
    latency_ = SetLatency(id(), options_);
    if (latency_.failed) throw *latency_.failed;
    return;
  }
  CheckReplay(false);
  ToolError error = StatusError("KORVELAN380_Connect", status, options_.device);
  if (status == KORVELAN380_OPEN_FAILED) {
    if (sim_ != nullptr) {
      error.hint = "the simulated module " + Serial() +
                   " is not attached: attach it with 'korvelan380 --sim -d " + options_.device +
                   " sim attach'";
    } else {
      error.hint = "is the module plugged in and FTDI's driver (" + os::DriverFile() +
                   ") installed? 'korvelan380 -d " + options_.device + " doctor' looks into it";
    }
  }
  if (status == KORVELAN380_TRANSFER_FAILED) connected_ = true;  // it stays in the table
  throw error;
}

void Session::Disconnect() {
  if (connected_) KORVELAN380_DisConnect(id());
  connected_ = false;
}

void Session::Finish() {
  if (finished_) return;
  finished_ = true;
  Disconnect();
  if (sim_ != nullptr) sim_->Save();
  CheckReplay(true);
}

void Session::Check(const char* call, StatusCode status) const {
  if (status != KORVELAN380_OK) CheckReplay(false);
  if (status != KORVELAN380_OK) throw StatusError(call, status, options_.device);
}

StatusCode ReadExioSelection(const char* id, uint8_t* low, uint8_t* high) {
  StatusCode status = KORVELAN380_OK;
  os::WithoutStdout([&] { status = KORVELAN380_EXIO_Sel_R(id, low, high); });
  return status;
}

}  // namespace korvelan380::tool
