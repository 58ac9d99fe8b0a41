// doctor: what stands between the library and a module that does not answer. What there is to
// see comes from the operating system (os/); what counts as a problem is decided here, the same
// on every system.
#include "commands/doctor.h"

#include <CLI/CLI.hpp>
#include <iterator>
#include <memory>
#include <optional>
#include <string>

#include "actions/calibration.h"
#include "app/commands.h"
#include "app/usb_bus.h"
#include "d2xx.h"
#include "os/os.h"

namespace korvelan380::tool {

namespace {

// Each check a line of the report, and the count of problems for the exit status.
class Checks {
 public:
  explicit Checks(Report& r) : r_(r) { r_.json["checks"] = ordered_json::array(); }
  void Add(const std::string& check, const std::string& result, const std::string& detail) {
    r_.json["checks"].push_back({{"check", check}, {"result", result}, {"detail", detail}});
    r_.Line("[" + result + "]" + std::string(9 - result.size(), ' ') + check + ": " + detail);
    if (result == "problem") ++problems_;
  }
  int problems() const { return problems_; }

 private:
  Report& r_;
  int problems_ = 0;
};

// "all ten the library needs": the count in words, as the report has always said it.
std::string InWords(int count) {
  static constexpr const char* kWords[] = {"none", "one",    "two",   "three", "four",
                                           "five", "six",    "seven", "eight", "nine",
                                           "ten",  "eleven", "twelve"};
  return count < static_cast<int>(std::size(kWords)) ? kWords[count] : std::to_string(count);
}

// Whether the driver library loads, and has every function the library takes from it.
void CheckDriver(Checks& checks) {
  const os::DriverLook look = os::LookAtDriver();
  if (look.library == nullptr) {
    checks.Add("driver library", "problem", look.problem);
    return;
  }
  checks.Add("driver library", "ok", os::DriverFile() + " loads from " + look.path);
  std::string missing, optional;
  for (int fn = 0; fn < d2xx::kFunctionCount; ++fn) {
    if (os::Symbol(look.library, d2xx::FunctionName(fn)) != nullptr) continue;
    std::string& list = d2xx::IsOptional(fn) ? optional : missing;
    list += std::string(list.empty() ? "" : ", ") + d2xx::FunctionName(fn);
  }
  os::EndLook(look);
  checks.Add("driver functions", missing.empty() ? "ok" : "problem",
             missing.empty()
                 ? "all " + InWords(d2xx::kRequiredCount) + " the library needs are there"
                 : "missing: " + missing + look.missingHint);
  // The library still uses such a driver, without these settings.
  if (!optional.empty()) {
    checks.Add("optional driver functions", "note",
               "missing: " + optional +
                   " (without them a reply that never comes can keep a read waiting, and the "
                   "latency timer cannot be set)");
  }
}

// Linux's ftdi_sio takes FTDI devices before D2XX can; the simulated module does not mind it.
void CheckFtdiSio(Checks& checks, bool sim) {
  const std::optional<bool> loaded = os::FtdiSioLoaded();
  if (!loaded) return;
  checks.Add("ftdi_sio",
             !*loaded ? "ok"
             : sim    ? "note"
                      : "problem",
             *loaded ? "the kernel driver ftdi_sio is loaded: it claims FTDI devices and keeps "
                       "D2XX from them (sudo rmmod ftdi_sio, or blacklist it)"
                     : "the kernel driver ftdi_sio is not loaded");
}

// The FTDI devices the system shows, and whether the module is among them: said only when the
// system shows their serial numbers.
void CheckUsb(Checks& checks, const std::string& serial, bool sim) {
  const os::UsbLook usb = os::LookAtUsb();
  bool module = false;
  bool serialsShown = true;
  for (const os::FtdiDevice& device : usb.devices) {
    checks.Add("USB device", device.mayOpen ? "ok" : "problem", device.detail);
    module = module || device.serial == serial;
    serialsShown = serialsShown && device.serial.has_value();
  }
  if (usb.devices.empty()) {
    checks.Add("USB device", sim ? "note" : "problem",
               usb.none + std::string(sim ? "; not needed with --sim" : ""));
  } else if (!sim && serialsShown) {
    checks.Add("module on USB", module ? "ok" : "problem",
               module ? serial + " is attached" : "no FTDI device has the serial number " + serial);
  }
}

// The latency timer as the tool's commands would find it after their connect.
void CheckLatency(Checks& checks, const Latency& latency) {
  if (latency.failed) {
    checks.Add("latency timer", "problem", latency.failed->what());
  } else {
    checks.Add("latency timer", latency.noWay ? "note" : "ok", latency.detail);
  }
}

// A module never calibrated works, but its outputs are only as good as its parts: a note.
void CheckCalibrated(Checks& checks, const Session& s, const Calibration& c) {
  if (NeverCalibrated(c)) {
    checks.Add("calibration", "note",
               "never calibrated (" + CalibrationSummary(c)["summary"].get<std::string>() + "): '" +
                   AdjustCommand(s.options().device) + "' calibrates it against a voltmeter");
  } else {
    checks.Add("calibration", "ok", CalibrationSummary(c)["summary"].get<std::string>());
  }
}

// Whether the module opens and answers, and takes the latency timer the commands set.
void CheckConnect(Checks& checks, Session& s) {
  const StatusCode status = KORVELAN380_Connect(s.id());
  std::optional<Latency> latency;
  std::optional<Calibration> calibration;
  if (status == KORVELAN380_OK) {
    latency = SetLatency(s.id(), s.options());
    Calibration c;
    if (KORVELAN380_Calib_Val_Get(s.id(), &c.offsets, &c.gains) == KORVELAN380_OK) calibration = c;
  }
  if (status == KORVELAN380_OK || status == KORVELAN380_TRANSFER_FAILED) {
    KORVELAN380_DisConnect(s.id());
  }
  checks.Add("connect", status == KORVELAN380_OK ? "ok" : "problem",
             status == KORVELAN380_OK ? "module " + s.options().device + " opens and answers"
                                      : StatusMeaning(status, s.options().device) + " (status " +
                                            std::to_string(status) + ")");
  if (latency) CheckLatency(checks, *latency);
  if (calibration) CheckCalibrated(checks, s, *calibration);
}

// The connect, unless it is known to fail: without a USB bus FTDI's driver would crash the tool,
// and without the library (Windows loads it only now) there is nothing to connect with.
void CheckConnectWhereSafe(Checks& checks, Session& s, bool sim) {
  if (const std::string bus = sim ? "" : UsbBusProblem(); !bus.empty()) {
    checks.Add("USB bus", "problem", bus + " (" + UsbBusRemedy() + ")");
    checks.Add("connect", "problem", "not tried: FTDI's driver crashes opening a module here");
    return;
  }
  try {
    os::RequireLibrary();
  } catch (const ToolError& error) {
    checks.Add("library", "problem", std::string(error.what()) + " (" + error.hint + ")");
    checks.Add("connect", "problem", "not tried: the library does not load");
    return;
  }
  CheckConnect(checks, s);
}

void DoctorCommand(Session& s, Report& r) {
  Checks checks(r);
  const bool sim = s.options().sim;
  if (sim) checks.Add("simulated module", "ok", "loaded from " + s.sim()->LibraryPath());
  CheckDriver(checks);
  CheckFtdiSio(checks, sim);
  CheckUsb(checks, s.Serial(), sim);
  CheckConnectWhereSafe(checks, s, sim);
  r.json["problems"] = checks.problems();
  r.Line(checks.problems() == 0 ? "no problems found"
                                : std::to_string(checks.problems()) + " problem(s) found");
  if (checks.problems() != 0) r.exit = kExitFailed;
}

}  // namespace

void RegisterDoctor(CommandSet& set) {
  Command& c =
      set.Add("doctor", "look into a module that does not answer: driver, kernel, USB, connect",
              {"korvelan380 -d 7 doctor", "korvelan380 --sim doctor --json"});
  c.connect = false;  // the doctor connects itself, as one of its checks
  auto timing = std::make_shared<bool>(false);
  c.app->add_flag("--timing", *timing,
                  "time 100 reads of register 12 at the chip's own latency timer, and 100 more at "
                  "--latency's: median and 99th percentile of each");
  c.run = [timing](Session& s, Report& r) { *timing ? DoctorTiming(s, r) : DoctorCommand(s, r); };
}

}  // namespace korvelan380::tool
