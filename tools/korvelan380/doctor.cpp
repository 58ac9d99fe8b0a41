// doctor: what stands between the library and a module that does not answer.
#include "doctor.h"

#include <CLI/CLI.hpp>
#include <memory>

#include "capture_commands.h"
#include "commands.h"

namespace korvelan380::tool {

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

namespace {

void DoctorCommand(Session& s, Report& r) {
  Checks checks(r);
  const bool sim = s.options().sim;
  if (sim) checks.Add("simulated module", "ok", "loaded from " + s.sim()->LibraryPath());
  SystemChecks(checks, s, sim);
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
