// doctor: what stands between the library and a module that does not answer. What there is to
// see comes from the operating system (os/); what counts as a problem is decided here, the same
// on every system.
#include "commands/doctor.h"

#include <CLI/CLI.hpp>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "actions/calibration.h"
#include "app/commands.h"
#include "app/driver.h"
#include "app/usb_bus.h"
#include "d2xx.h"
#include "os/os.h"

namespace korvelan380::tool {

namespace {

// The checks made, in the order the report gives them.
class Checks {
 public:
  void Add(const std::string& check, const std::string& result, const std::string& detail) {
    entries_.push_back({check, result, detail});
  }
  void Add(const Checks& more) {
    entries_.insert(entries_.end(), more.entries_.begin(), more.entries_.end());
  }
  // A line for each check, the count of problems, and the exit status that goes with them.
  void Write(Report& r) const {
    int problems = 0;
    r.json["checks"] = ordered_json::array();
    for (const Entry& e : entries_) {
      r.json["checks"].push_back({{"check", e.check}, {"result", e.result}, {"detail", e.detail}});
      r.Line("[" + e.result + "]" + std::string(9 - e.result.size(), ' ') + e.check + ": " +
             e.detail);
      if (e.result == "problem") ++problems;
    }
    r.json["problems"] = problems;
    r.Line(problems == 0 ? "no problems found" : std::to_string(problems) + " problem(s) found");
    if (problems != 0) r.exit = kExitFailed;
  }

 private:
  struct Entry {
    std::string check, result, detail;
  };
  std::vector<Entry> entries_;
};

// "all ten the library needs": the count in words, as the report has always said it.
std::string InWords(int count) {
  static constexpr const char* kWords[] = {"none", "one",    "two",   "three", "four",
                                           "five", "six",    "seven", "eight", "nine",
                                           "ten",  "eleven", "twelve"};
  return count < static_cast<int>(std::size(kWords)) ? kWords[count] : std::to_string(count);
}

// The driver functions `library` lacks, required or optional ones, separated by commas.
std::string Missing(void* library, bool optional) {
  std::string list;
  for (int fn = 0; fn < d2xx::kFunctionCount; ++fn) {
    if (d2xx::IsOptional(fn) != optional) continue;
    if (os::Symbol(library, d2xx::FunctionName(fn)) != nullptr) continue;
    list += std::string(list.empty() ? "" : ", ") + d2xx::FunctionName(fn);
  }
  return list;
}

// Whether `library` has every function the library takes from it, and the optional ones.
void CheckFunctions(Checks& checks, void* library, const std::string& missingHint) {
  const std::string missing = Missing(library, false), optional = Missing(library, true);
  checks.Add("driver functions", missing.empty() ? "ok" : "problem",
             missing.empty()
                 ? "all " + InWords(d2xx::kRequiredCount) + " the library needs are there"
                 : "missing: " + missing + missingHint);
  // The library still uses such a driver, without these settings.
  if (!optional.empty()) {
    checks.Add("optional driver functions", "note",
               "missing: " + optional +
                   " (without them a reply that never comes can keep a read waiting, and the "
                   "latency timer cannot be set)");
  }
}

// A driver library the library did not bind: whether it loads, and what it lacks.
void CheckUnbound(Checks& checks, const std::string& check, const os::DriverLook& look) {
  if (look.library == nullptr) {
    checks.Add(check, "problem", look.problem);
    return;
  }
  checks.Add(check, "ok", look.path + " loads");
  CheckFunctions(checks, look.library, look.missingHint);
  os::EndLook(look);
}

// A libftd2xx.so that loads but was passed over for the open driver: what it lacks.
void NotePassedOver(Checks& checks) {
  const os::DriverLook look = os::LookAtDriver();
  if (look.library == nullptr) return;
  checks.Add("driver library", "note",
             look.path + " loads but lacks " + Missing(look.library, false) +
                 ", so the library passed it over");
  os::EndLook(look);
}

// The driver the library bound, and why; when it bound none, why each driver it may take does
// not serve.
void CheckDriver(Checks& checks, const DriverInUse& driver, bool sim) {
  if (driver.kind != DriverKind::kNone) {
    checks.Add("driver", "ok", DescribeDriver(driver, sim));
    if (void* library = os::LoadedLibrary(driver.path)) CheckFunctions(checks, library, "");
    if (driver.kind == DriverKind::kOpen && DriverRequest().empty()) NotePassedOver(checks);
    return;
  }
  const std::string request = DriverRequest();
  checks.Add("driver", "problem",
             "the library has no driver" +
                 (request.empty() ? std::string() : " (KORVELAN380_DRIVER=" + request + ")"));
  if (request.empty() || request == "vendor") {
    CheckUnbound(checks, "driver library", os::LookAtDriver());
  }
  if (!os::OpenBackendFile().empty() && (request.empty() || request == "open")) {
    CheckUnbound(checks, "open driver", os::LookAtOpenBackend());
  }
  if (!request.empty() && request != "vendor" && request != "open") {
    os::DriverLook look;
    look.library = os::OpenLibrary(request, look.problem);
    look.path = request;
    CheckUnbound(checks, "driver library", look);
  }
}

// Linux's ftdi_sio takes FTDI devices before FTDI's driver can; the simulated module does not
// mind it, and the open driver has a check of its own (CheckUsb).
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

// The kernel driver on the module's interface, for the open driver: libftdi detaches it.
void CheckInterface(Checks& checks, const os::FtdiDevice& module) {
  checks.Add("module's interface", module.interfaceDriver ? "note" : "ok",
             module.interfaceDriver
                 ? "the kernel driver " + *module.interfaceDriver +
                       " is bound to it: libftdi detaches it from that interface only, when it "
                       "opens the module (other FTDI serial ports keep it)"
                 : "no kernel driver is bound to it");
}

// The FTDI devices the system shows, whether this user may open them, and whether the module is
// among them: said only when the system shows their serial numbers.
void CheckUsb(Checks& checks, const std::string& serial, bool sim, bool open) {
  const os::UsbLook usb = os::LookAtUsb();
  const os::FtdiDevice* module = nullptr;
  bool serialsShown = true;
  for (const os::FtdiDevice& device : usb.devices) {
    checks.Add("USB device", device.mayOpen ? "ok" : "problem", device.detail);
    if (device.serial == serial) module = &device;
    serialsShown = serialsShown && device.serial.has_value();
  }
  if (usb.devices.empty()) {
    checks.Add("USB device", sim ? "note" : "problem",
               usb.none + std::string(sim ? "; not needed with --sim" : ""));
  } else if (!sim && serialsShown) {
    checks.Add("module on USB", module != nullptr ? "ok" : "problem",
               module != nullptr ? serial + " is attached"
                                 : "no FTDI device has the serial number " + serial);
  }
  if (open && module != nullptr) CheckInterface(checks, *module);
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
  Checks checks;
  const bool sim = s.options().sim;
  if (sim) checks.Add("simulated module", "ok", "loaded from " + s.sim()->LibraryPath());
  // The connect first: the library loads its driver then, and that driver is the one to look
  // into. Its checks come last in the report.
  Checks connect;
  CheckConnectWhereSafe(connect, s, sim);
  const DriverInUse driver = ObserveDriver();
  CheckDriver(checks, driver, sim);
  const bool open = driver.kind == DriverKind::kOpen;
  if (!open) CheckFtdiSio(checks, driver.kind == DriverKind::kSimulated);
  CheckUsb(checks, s.Serial(), sim, open);
  checks.Add(connect);
  checks.Write(r);
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
