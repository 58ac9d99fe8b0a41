// doctor: what stands between the library and a module that does not answer.
#include <dlfcn.h>
#include <link.h>
#include <unistd.h>
#include <CLI/CLI.hpp>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>

#include "capture_commands.h"
#include "commands.h"
#include "usb_bus.h"

namespace korvelan380::tool {
namespace fs = std::filesystem;

namespace {

constexpr const char* kDriverFunctions[] = {
    "FT_OpenEx",         "FT_Close",     "FT_Read",      "FT_Write",     "FT_Purge",
    "FT_GetQueueStatus", "FT_GetStatus", "FT_EE_UASize", "FT_EE_UARead", "FT_EE_UAWrite"};
constexpr const char* kFtdiVendor = "0403";

std::string ReadLine(const fs::path& path) {
  std::ifstream file(path);
  std::string line;
  std::getline(file, line);
  return line;
}

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

// The FTDI devices the kernel sees, and whether this user may open them.
void CheckUsb(Checks& checks, const std::string& serial, bool sim) {
  std::error_code ec;
  int found = 0;
  bool module = false;
  for (const auto& dev : fs::directory_iterator("/sys/bus/usb/devices", ec)) {
    if (ReadLine(dev.path() / "idVendor") != kFtdiVendor) continue;
    ++found;
    const std::string devSerial = ReadLine(dev.path() / "serial");
    module = module || devSerial == serial;
    char node[64];
    std::snprintf(node, sizeof node, "/dev/bus/usb/%03d/%03d",
                  std::atoi(ReadLine(dev.path() / "busnum").c_str()),
                  std::atoi(ReadLine(dev.path() / "devnum").c_str()));
    const bool mayOpen = access(node, R_OK | W_OK) == 0;
    checks.Add("USB device", mayOpen ? "ok" : "problem",
               std::string(node) + " serial " + (devSerial.empty() ? "(none)" : devSerial) +
                   (mayOpen ? ", this user may open it"
                            : ": this user may not open it; add a udev rule such as "
                              "SUBSYSTEM==\"usb\", ATTRS{idVendor}==\"0403\", MODE=\"0666\""));
  }
  const bool serialsKnown = found > 0;
  if (found == 0) {
    for (const std::string& node : FtdiNodes()) {
      ++found;
      checks.Add("USB device", "ok",
                 node + " is an FTDI device (sysfs does not show its serial number)");
    }
  }
  if (found == 0) {
    checks.Add("USB device", sim ? "note" : "problem",
               "no FTDI USB device (vendor 0403) is attached" +
                   std::string(sim ? "; not needed with --sim" : ""));
  } else if (!sim && serialsKnown) {
    checks.Add("module on USB", module ? "ok" : "problem",
               module ? serial + " is attached" : "no FTDI device has the serial number " + serial);
  }
}

// Whether the module opens and answers.
void CheckConnect(Checks& checks, Session& s) {
  const StatusCode status = KORVELAN380_Connect(s.id());
  if (status == KORVELAN380_OK || status == KORVELAN380_TRANSFER_FAILED) {
    KORVELAN380_DisConnect(s.id());
  }
  checks.Add("connect", status == KORVELAN380_OK ? "ok" : "problem",
             status == KORVELAN380_OK ? "module " + s.options().device + " opens and answers"
                                      : StatusMeaning(status, s.options().device) + " (status " +
                                            std::to_string(status) + ")");
}

void DoctorCommand(Session& s, Report& r) {
  Checks checks(r);
  const bool sim = s.options().sim;
  if (sim) checks.Add("simulated module", "ok", "loaded from " + s.sim()->LibraryPath());

  void* driver = dlopen("libftd2xx.so", RTLD_NOW | RTLD_LOCAL);
  if (driver == nullptr) {
    checks.Add("driver library", "problem",
               std::string("libftd2xx.so does not load: ") + dlerror() +
                   "; install FTDI's D2XX driver where the loader finds it (e.g. /usr/local/lib, "
                   "then ldconfig)");
  } else {
    std::string where = "(unknown path)";
    link_map* map = nullptr;
    if (dlinfo(driver, RTLD_DI_LINKMAP, &map) == 0 && map != nullptr && map->l_name != nullptr) {
      where = map->l_name;
    }
    checks.Add("driver library", "ok", "libftd2xx.so loads from " + where);
    std::string missing;
    for (const char* fn : kDriverFunctions) {
      if (dlsym(driver, fn) == nullptr) missing += std::string(missing.empty() ? "" : ", ") + fn;
    }
    checks.Add("driver functions", missing.empty() ? "ok" : "problem",
               missing.empty() ? "all ten the library uses are there" : "missing: " + missing);
    dlclose(driver);
  }

  const bool ftdiSio = fs::exists("/sys/module/ftdi_sio");
  checks.Add("ftdi_sio",
             !ftdiSio ? "ok"
             : sim    ? "note"
                      : "problem",
             ftdiSio ? "the kernel driver ftdi_sio is loaded: it claims FTDI devices and keeps "
                       "D2XX from them (sudo rmmod ftdi_sio, or blacklist it)"
                     : "the kernel driver ftdi_sio is not loaded");
  CheckUsb(checks, s.Serial(), sim);
  if (const std::string bus = sim ? "" : UsbBusProblem(); !bus.empty()) {
    checks.Add("USB bus", "problem", bus + " (" + UsbBusRemedy() + ")");
    checks.Add("connect", "problem", "not tried: FTDI's driver crashes opening a module here");
  } else {
    CheckConnect(checks, s);
  }
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
  c.app->add_flag(
      "--timing", *timing,
      "time 100 reads of register 12 on a connected module: median and 99th percentile");
  c.run = [timing](Session& s, Report& r) { *timing ? DoctorTiming(s, r) : DoctorCommand(s, r); };
}

}  // namespace korvelan380::tool
