// The command line: the options every command takes, the commands as their files register them,
// and one invocation from parse to exit status.
#include <CLI/CLI.hpp>
#include <cstdlib>
#include <iostream>
#include <optional>

#include "actions/errors.h"
#include "app/commands.h"
#include "app/session.h"
#include "app/tool.h"
#include "core/values.h"
#include "core/wire.h"
#include "os/os.h"

namespace korvelan380::tool {
namespace {

// The commands' files, in the order the help lists their commands. A new command is a file with
// its Register function, declared in commands.h, and a line here.
constexpr void (*kCommands[])(CommandSet&) = {
    RegisterInfo,  RegisterOutputs, RegisterDio,   RegisterWave, RegisterControls, RegisterCalib,
    RegisterPanel, RegisterDoctor,  RegisterTrace, RegisterDemo, RegisterSim};

std::string Examples(std::initializer_list<const char*> lines) {
  std::string text = "\nExamples:";
  for (const char* line : lines) text += std::string("\n  ") + line;
  return text;
}

void AddOptions(CLI::App& app, Options& options) {
  if (const char* device = std::getenv("KORVELAN380_DEVICE"); device != nullptr && *device) {
    options.device = device;
    options.deviceGiven = true;
  }
  app.fallthrough();
  app.require_subcommand(1);
  app.add_option("-d,--device", options.device,
                 "the module: the tail of its serial number KORVELAN380<ID> "
                 "(default $KORVELAN380_DEVICE, else 0)")
      ->each([&options](const std::string&) { options.deviceGiven = true; });
  app.add_flag("--sim", options.sim, "use the simulated module instead of the installed driver");
  app.add_option("--sim-state", options.simState,
                 "the simulated modules' state file (default " + os::DefaultSimStatePath() + ")");
  app.add_option("--sim-latency", options.simLatencyMs,
                 "with --sim: milliseconds before the module's reply can be read (default 0)")
      ->check(CLI::Range(0.0, 10000.0));
  app.add_option_function<std::string>(
         "--latency",
         [&options](const std::string& text) {
           const Parsed<std::optional<uint8_t>> latency = ParseLatency(text);
           if (!latency) throw CLI::ValidationError("--latency", latency.error);
           options.latencyMs = *latency;
           options.latencyGiven = true;
         },
         "the USB chip's latency timer, set at connect: 1 to 255 ms, or keep to leave the "
         "chip's own (default 2: a short reply waits up to 2 ms in the chip, not its 16)")
      ->type_name("MS|keep");
  app.add_option("--capture", options.capture, "record every driver call in FILE (JSON Lines)");
  app.add_option("--capture-limit", options.captureLimit,
                 "with --capture: keep the file under BYTES, dropping the oldest calls");
  app.add_option("--replay", options.replay,
                 "the simulated module answers from a capture FILE (implies --sim)");
  app.add_flag("--json", options.json, "print one JSON document instead of text");
  app.add_flag("--trace", options.trace, "with --sim: also show every driver call on the wire");
  app.set_version_flag("--version", std::string("korvelan380 ") + KORVELAN380_VERSION);
  app.footer(Examples({"korvelan380 --sim info", "korvelan380 --sim out 0 2.5V",
                       "korvelan380 --sim read 0", "korvelan380 -d 7 doctor",
                       "korvelan380 --sim demo", "korvelan380 COMMAND --help"}) +
             "\n\nExit status: 0 done; 1 the module or the library reported a failure "
             "(or doctor found a problem); 2 a bad command line, value or file.");
}

// How a command ended: its report or the error that stopped it, and with --trace the driver
// calls it made.
struct Outcome {
  Report report;
  std::optional<ToolError> error;
  std::optional<std::vector<WireLine>> wire;
};

Outcome Execute(const Command& command, const Options& options) {
  Outcome o;
  std::optional<Session> session;
  try {
    session.emplace(options, command.attachFirstUse);
    if (command.connect) session->Connect();
    command.run(*session, o.report);
    session->Finish();
  } catch (const ToolError& e) {
    o.error = e;
  }
  // Taken before the session ends: a failed command's trace stops where it failed.
  if (options.trace && session && session->sim() != nullptr) {
    o.wire = DescribeTrace(session->sim()->Trace());
  }
  return o;
}

int Render(const Outcome& o, bool json, std::ostream& out, std::ostream& err) {
  if (o.error) {
    err << "korvelan380: " << o.error->what() << "\n";
    if (!o.error->hint.empty()) err << "  " << o.error->hint << "\n";
  }
  if (json) {
    ordered_json doc = o.error ? ordered_json{{"error", ErrorJson(*o.error)}} : o.report.json;
    if (o.wire) doc["trace"] = WireJson(*o.wire);
    out << doc.dump(2) << "\n";
  } else {
    if (!o.error) out << o.report.text;
    if (o.wire && !o.wire->empty()) out << "on the wire:\n" << FormatWire(*o.wire, "  ");
  }
  return o.error ? o.error->exit : o.report.exit;
}

}  // namespace

Command& CommandSet::Add(const char* name, const char* help,
                         std::initializer_list<const char*> examples, Command* parent) {
  Command& c = commands_.emplace_back();
  c.app = (parent != nullptr ? *parent->app : app_).add_subcommand(name, help);
  c.app->footer(Examples(examples));
  return c;
}

const Command* CommandSet::Chosen() const {
  for (const Command& c : commands_) {
    if (c.app->parsed() && c.app->get_subcommands().empty()) return &c;
  }
  return nullptr;
}

int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
        std::istream& in) {
  Options options;
  CLI::App app{"Drive a KORVELAN380 analog-output module from the shell.", "korvelan380"};
  AddOptions(app, options);
  CommandSet commands(app, in, out);
  for (const auto add : kCommands) add(commands);
  std::vector<std::string> reversed(args.rbegin(), args.rend());
  try {
    app.parse(reversed);
  } catch (const CLI::ParseError& e) {
    return app.exit(e, out, err) == 0 ? kExitOk : kExitUsage;
  }
  const Command* command = commands.Chosen();
  if (command == nullptr) return kExitUsage;
  options.sim = options.sim || command->sim;
  try {
    return Render(Execute(*command, options), options.json, out, err);
  } catch (const std::exception& e) {
    // Nothing should get here; if something does, it is said plainly rather than aborting.
    err << "korvelan380: unexpected error: " << e.what() << "\n";
    return kExitFailed;
  }
}

}  // namespace korvelan380::tool
