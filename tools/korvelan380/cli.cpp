// The command line: options and commands (CLI11), and one invocation from parse to exit status.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdlib>
#include <functional>
#include <iostream>

#include "commands.h"
#include "panel.h"
#include "session.h"
#include "tool.h"
#include "wire.h"

namespace korvelan380::tool {
namespace {

// What the parsed command does once the session is set up.
struct Command {
  CLI::App* app = nullptr;
  bool connect = true;         // the caller connects before and disconnects after
  bool sim = false;            // always on the simulated module
  bool attachFirstUse = true;  // a module the state file does not know is attached first
  std::function<void(Session&, Report&)> run;
};

std::string Examples(std::initializer_list<const char*> lines) {
  std::string text = "\nExamples:";
  for (const char* line : lines) text += std::string("\n  ") + line;
  return text;
}

ordered_json ErrorJson(const ToolError& e) {
  ordered_json error = {{"message", e.what()}};
  if (!e.call.empty()) {
    error["call"] = e.call;
    error["status"] = e.status;
  }
  if (!e.hint.empty()) error["hint"] = e.hint;
  return error;
}

}  // namespace

int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
        std::istream& in) {
  Options options;
  if (const char* device = std::getenv("KORVELAN380_DEVICE"); device != nullptr && *device) {
    options.device = device;
  }
  CLI::App app{"Drive a KORVELAN380 analog-output module from the shell.", "korvelan380"};
  app.fallthrough();
  app.require_subcommand(1);
  app.add_option("-d,--device", options.device,
                 "the module: the tail of its serial number KORVELAN380<ID> "
                 "(default $KORVELAN380_DEVICE, else 0)");
  app.add_flag("--sim", options.sim, "use the simulated module instead of the installed driver");
  app.add_option("--sim-state", options.simState,
                 "the simulated modules' state file (default " + DefaultSimStatePath() + ")");
  app.add_flag("--json", options.json, "print one JSON document instead of text");
  app.add_flag("--trace", options.trace, "with --sim: also show every driver call on the wire");
  app.set_version_flag("--version", std::string("korvelan380 ") + KORVELAN380_VERSION);
  app.footer(Examples({"korvelan380 --sim info", "korvelan380 --sim out 0 2.5V",
                       "korvelan380 --sim read 0", "korvelan380 -d 7 doctor",
                       "korvelan380 --sim demo", "korvelan380 COMMAND --help"}) +
             "\n\nExit status: 0 done; 1 the module or the library reported a failure "
             "(or doctor found a problem); 2 a bad command line, value or file.");

  std::vector<Command> commands;
  auto add = [&](const char* name, const char* help, std::initializer_list<const char*> ex) {
    Command c;
    c.app = app.add_subcommand(name, help);
    c.app->footer(Examples(ex));
    commands.push_back(c);
    return &commands.back();
  };
  commands.reserve(32);

  // Arguments the commands take, filled by the parse.
  std::string channel, value, range, what, arg1, arg2, path;
  bool save = false;
  bool blank = false;
  uint32_t eepromSize = 128;
  ChannelArgs channelArgs;
  WaveArgs wave;

  Command* c = add("info", "every setting the module reports",
                   {"korvelan380 --sim info", "korvelan380 -d 7 info --json"});
  c->run = [&](Session& s, Report& r) { InfoCommand(s, r); };

  c = add("range", "select a channel's output range",
          {"korvelan380 --sim range 0 -10..10V", "korvelan380 --sim range 1 uni5",
           "korvelan380 --sim range 0 +-2.5V", "korvelan380 --sim range 1 4   (index: 0..10V)"});
  c->app->add_option("CH", channel, "channel 0, 1 or 2")->required();
  c->app
      ->add_option("RANGE", range,
                   "-10..10V -5..5V -2.5..2.5V -1.25..1.25V 0..10V 0..5V 0..2.5V, an alias "
                   "(10V, +-5V, bip10, uni5, 0-10V) or an index 0 to 6")
      ->required();
  c->run = [&](Session& s, Report& r) { RangeCommand(s, r, channel, range); };

  c = add("out", "set a channel's output",
          {"korvelan380 --sim out 0 2.5V", "korvelan380 --sim out 1 -1.25",
           "korvelan380 --sim out 0 500mV", "korvelan380 --sim out 0 raw:8192",
           "korvelan380 --sim out 1 code:0x1234"});
  c->app->add_option("CH", channel, "channel 0 or 1")->required();
  c->app
      ->add_option("VALUE", value,
                   "volts in the channel's range (2.5V, -1.25, 500mV), a raw value (raw:8192, "
                   "0 to 16383) or an uncalibrated code (code:0x1234)")
      ->required();
  c->run = [&](Session& s, Report& r) { OutCommand(s, r, channel, value); };

  c = add("read", "read a channel's output back: volts, raw value and code",
          {"korvelan380 --sim read 0", "korvelan380 --sim read 1 --json"});
  c->app->add_option("CH", channel, "channel 0 or 1")->required();
  c->run = [&](Session& s, Report& r) { ReadCommand(s, r, channel); };

  c = add("channel", "configure a channel, or read its configuration back",
          {"korvelan380 --sim channel 0",
           "korvelan380 --sim channel 0 --mode 1 --select-a 2 --select-b 1 --switch-a 1",
           "korvelan380 --sim channel 1 --mode 2 --mode-parameter 0x1234 --preset 1.5V",
           "Fields left out are 0; a preset turns the preset enable on."});
  c->app->add_option("CH", channel, "channel 0 or 1")->required();
  auto opt = [&](const char* name, std::optional<std::string>& slot, const char* help) {
    commands.back().app->add_option_function<std::string>(
        name, [&slot](const std::string& v) { slot = v; }, help);
  };
  opt("--mode", channelArgs.mode, "mode 0 to 3");
  opt("--select-a", channelArgs.selectA, "selector A (0 to 2; mode 3: 0 or 1)");
  opt("--select-b", channelArgs.selectB, "selector B (0 to 2; mode 3: 0 or 1)");
  opt("--switch-a", channelArgs.switchA, "switch A, 0 or 1 (mode 1)");
  opt("--switch-b", channelArgs.switchB, "switch B, 0 or 1 (modes 1 and 2)");
  opt("--preset-enable", channelArgs.presetEnable, "preset enable, 0 or 1");
  opt("--preset", channelArgs.preset, "preset value: volts or raw:N, loaded as the preset code");
  opt("--mode-parameter", channelArgs.modeParameter, "mode parameter 0 to 65535 (mode 2)");
  c->run = [&](Session& s, Report& r) { ChannelCommand(s, r, channel, channelArgs); };

  c = add("dio", "the digital I/O port: direction, output, input",
          {"korvelan380 --sim dio", "korvelan380 --sim dio dir 0xFF",
           "korvelan380 --sim dio out 0b10100101", "korvelan380 --sim dio in",
           "Bytes are decimal, 0x.. or 0b..; without a byte, dir and out read back."});
  c->app->add_option("WHAT", what, "dir, out or in (all three when left out)")
      ->check(CLI::IsMember({"dir", "out", "in"}));
  c->app->add_option("BYTE", value, "the byte to write");
  c->run = [&](Session& s, Report& r) {
    if (what == "in" && !value.empty()) throw UsageError("dio in takes no byte");
    DioCommand(s, r, what, value);
  };

  c = add("wave", "load a waveform into a channel's memory (or its FIFO with --codes)",
          {"korvelan380 --sim wave 0 samples.txt        (one value a line, volts)",
           "korvelan380 --sim wave 1 scope.csv --column 2",
           "korvelan380 --sim wave 1 scope.csv --column volts --clip",
           "seq 0 100 16383 | korvelan380 --sim wave 0 - --raw",
           "korvelan380 --sim wave 0 --sine --samples 1000 --amplitude 5 --offset 0",
           "korvelan380 --sim wave 1 --square --samples 64 --dry-run",
           "korvelan380 --sim wave 0 codes.txt --codes"});
  c->app->add_option("CH", wave.channel, "channel 0 or 1")->required();
  c->app->add_option("FILE", wave.file, "samples, one a line or CSV; - reads standard input");
  c->app->add_option("--column", wave.column, "the CSV column: a number from 1, or a header name");
  c->app->add_flag("--raw", wave.raw, "the values are raw values 0 to 16383, not volts");
  c->app->add_flag("--codes", wave.codes,
                   "the values are uncalibrated codes 0 to 65535, loaded into the FIFO");
  for (const char* shape : {"sine", "square", "triangle", "saw"}) {
    c->app->add_flag_callback(
        std::string("--") + shape, [&wave, shape] { wave.shape = shape; },
        std::string("generate a ") + shape + " instead of reading a file");
  }
  c->app->add_option("--samples", wave.samples, "generated samples (default 1024)");
  c->app->add_option("--cycles", wave.cycles, "periods in the generated samples (default 1)");
  c->app->add_option_function<double>(
      "--amplitude", [&wave](double v) { wave.amplitude = v; },
      "peak volts from the offset (default 90% of half the range)");
  c->app->add_option_function<double>(
      "--offset", [&wave](double v) { wave.offset = v; },
      "volts at the centre (default mid-range)");
  c->app->add_flag("--dry-run", wave.dryRun,
                   "load nothing: count, clipping, step and a preview of the waveform");
  c->app->add_flag("--clip", wave.clip, "hold samples outside the range at its limits");
  c->run = [&](Session& s, Report& r) { WaveCommand(s, r, wave, in); };

  c = add("fifo", "FIFO status of both channels, or clear a channel's FIFO",
          {"korvelan380 --sim fifo", "korvelan380 --sim fifo status --json",
           "korvelan380 --sim fifo clear 1"});
  c->app->add_option("WHAT", what, "status (the default) or clear")
      ->check(CLI::IsMember({"status", "clear"}));
  c->app->add_option("CH", channel, "with clear: channel 0 or 1 (2 clears channel 0's)");
  c->run = [&](Session& s, Report& r) { FifoCommand(s, r, what, channel); };

  c = add("trigger", "start or stop a channel's trigger, or read its status",
          {"korvelan380 --sim trigger 0 start", "korvelan380 --sim trigger 1 stop",
           "korvelan380 --sim trigger 0 status"});
  c->app->add_option("CH", channel, "channel 0, 1 or 2")->required();
  c->app->add_option("ACTION", what, "start, stop or status")
      ->required()
      ->check(CLI::IsMember({"start", "stop", "status"}));
  c->run = [&](Session& s, Report& r) { TriggerCommand(s, r, channel, what); };

  c = add("gate", "open or close a channel's gate, or read it",
          {"korvelan380 --sim gate 0 on", "korvelan380 --sim gate 2 off",
           "korvelan380 --sim gate 1 status"});
  c->app->add_option("CH", channel, "channel 0, 1 or 2")->required();
  c->app->add_option("ACTION", what, "on, off or status")
      ->required()
      ->check(CLI::IsMember({"on", "off", "status"}));
  c->run = [&](Session& s, Report& r) { GateCommand(s, r, channel, what); };

  c = add("select", "the external-signal or EXIO selection: set it, or read it back",
          {"korvelan380 --sim select ext 2 3", "korvelan380 --sim select exio 6 1",
           "korvelan380 --sim select exio"});
  c->app->add_option("WHICH", what, "ext (selections 0 to 4) or exio (0 to 6)")
      ->required()
      ->check(CLI::IsMember({"ext", "exio"}));
  c->app->add_option("LOW", arg1, "the low selection");
  c->app->add_option("HIGH", arg2, "the high selection");
  c->run = [&](Session& s, Report& r) { SelectCommand(s, r, what, arg1, arg2); };

  c = add("clock", "load a channel's clock setting (99 to 4294967295)",
          {"korvelan380 --sim clock 0 1000", "korvelan380 --sim clock 2 0x12345678"});
  c->app->add_option("CH", channel, "channel 0, 1 or 2")->required();
  c->app->add_option("VALUE", value, "the clock setting, decimal or 0x..")->required();
  c->run = [&](Session& s, Report& r) { ClockCommand(s, r, channel, value); };

  c = add("exio", "the EXIO port: its input byte (and with no argument its selection too)",
          {"korvelan380 --sim exio in", "korvelan380 --sim exio"});
  c->app->add_option("WHAT", what, "in")->check(CLI::IsMember({"in"}));
  c->run = [&](Session& s, Report& r) { ExioCommand(s, r, what); };

  c = add("calib", "the calibration: show, export to JSON, import from JSON",
          {"korvelan380 --sim calib show", "korvelan380 --sim calib export cal.json",
           "korvelan380 --sim calib import cal.json --save",
           "Gains are written with their 32-bit patterns: export then import is bit-exact."});
  c->app->require_subcommand(1);
  Command* calib = c;
  Command showCommand;
  showCommand.app = calib->app->add_subcommand("show", "all 14 gains and offsets");
  showCommand.app->footer(Examples({"korvelan380 --sim calib show --json"}));
  showCommand.run = [&](Session& s, Report& r) { CalibShow(s, r); };
  commands.push_back(showCommand);
  Command exportCommand;
  exportCommand.app = calib->app->add_subcommand("export", "write the calibration to a JSON file");
  exportCommand.app->add_option("FILE", path, "the JSON file")->required();
  exportCommand.app->footer(Examples({"korvelan380 --sim calib export cal.json"}));
  exportCommand.run = [&](Session& s, Report& r) { CalibExport(s, r, path); };
  commands.push_back(exportCommand);
  Command importCommand;
  importCommand.app = calib->app->add_subcommand(
      "import", "set the calibration from a JSON file (this session only, unless --save)");
  importCommand.app->add_option("FILE", path, "the JSON file")->required();
  importCommand.app->add_flag("--save", save, "also store it in the module's EEPROM");
  importCommand.app->footer(Examples({"korvelan380 --sim calib import cal.json --save"}));
  importCommand.run = [&](Session& s, Report& r) { CalibImport(s, r, path, save); };
  commands.push_back(importCommand);

  PanelArgs panel;
  c = add("panel", "a test panel for the module in the browser, served until Ctrl-C",
          {"korvelan380 --sim panel --open", "korvelan380 -d 7 panel --port 8380",
           "It prints the page's address, with the token every request needs."});
  c->app->add_option("--port", panel.port, "the port (default 0: a free one)")
      ->check(CLI::Range(0, 65535));
  c->app->add_option("--listen", panel.listen,
                     "the address to listen on (default 127.0.0.1); the token is needed on any");
  c->app->add_flag("--open", panel.open, "start the browser on the page (xdg-open)");
  c->run = [&](Session& s, Report& r) { PanelCommand(s, r, panel, out); };

  c = add("doctor", "look into a module that does not answer: driver, kernel, USB, connect",
          {"korvelan380 -d 7 doctor", "korvelan380 --sim doctor --json"});
  c->connect = false;
  c->run = [&](Session& s, Report& r) { DoctorCommand(s, r); };

  c = add("demo", "a short session with the simulated module, with what went on the wire",
          {"korvelan380 --sim demo", "korvelan380 --sim --sim-state /tmp/demo.json demo --json"});
  c->connect = false;
  c->sim = true;
  c->run = [&](Session& s, Report& r) { DemoCommand(s, r); };

  c = add("sim", "the simulated module: status, attach, detach, reset, input",
          {"korvelan380 sim status", "korvelan380 -d 3 sim attach --eeprom-size 256",
           "korvelan380 sim detach", "korvelan380 sim reset --blank",
           "korvelan380 sim input dio 0xA5     (what the DIO inputs see)",
           "The sim commands always use the simulated module; --sim is implied."});
  c->connect = false;
  c->sim = true;
  c->attachFirstUse = false;
  c->app->add_option("ACTION", what, "status (the default), attach, detach, reset or input")
      ->check(CLI::IsMember({"status", "attach", "detach", "reset", "input"}));
  c->app->add_option("PORT", arg1, "with input: dio or exio");
  c->app->add_option("BYTE", arg2, "with input: the byte the inputs see");
  c->app->add_option("--eeprom-size", eepromSize, "attach, reset: EEPROM user area bytes (128)");
  c->app->add_flag("--blank", blank,
                   "attach, reset: a blank EEPROM instead of the ideal calibration");
  c->run = [&](Session& s, Report& r) {
    SimCommand(s, r, what.empty() ? "status" : what, arg1, arg2, eepromSize, blank);
  };

  std::vector<std::string> reversed(args.rbegin(), args.rend());
  try {
    app.parse(reversed);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e, out, err);
    return code == 0 ? kExitOk : kExitUsage;
  }

  const auto parsed = std::find_if(commands.begin(), commands.end(), [](const Command& cmd) {
    return cmd.app->parsed() && (cmd.app->get_subcommands().empty());
  });
  if (parsed == commands.end()) return kExitUsage;
  if (parsed->sim) options.sim = true;

  Report report;
  int status = kExitOk;
  ordered_json trace;
  std::string traceText;
  try {
    Session session(options, parsed->attachFirstUse);
    try {
      if (parsed->connect) session.Connect();
      parsed->run(session, report);
      session.Finish();
    } catch (...) {
      if (options.trace && session.sim() != nullptr) {
        const auto wire = DescribeTrace(session.sim()->Trace());
        trace = WireJson(wire);
        traceText = FormatWire(wire, "  ");
      }
      throw;
    }
    if (options.trace && session.sim() != nullptr) {
      const auto wire = DescribeTrace(session.sim()->Trace());
      trace = WireJson(wire);
      traceText = FormatWire(wire, "  ");
    }
    status = report.exit;
  } catch (const ToolError& e) {
    err << "korvelan380: " << e.what() << "\n";
    if (!e.hint.empty()) err << "  " << e.hint << "\n";
    if (options.json) {
      ordered_json doc = {{"error", ErrorJson(e)}};
      if (!trace.is_null()) doc["trace"] = trace;
      out << doc.dump(2) << "\n";
    } else if (!traceText.empty()) {
      out << "on the wire:\n" << traceText;
    }
    return e.exit;
  } catch (const std::exception& e) {
    // Nothing should get here; if something does, it is said plainly rather than aborting.
    err << "korvelan380: unexpected error: " << e.what() << "\n";
    return kExitFailed;
  }
  if (options.json) {
    ordered_json doc = report.json;
    if (!trace.is_null()) doc["trace"] = trace;
    out << doc.dump(2) << "\n";
  } else {
    out << report.text;
    if (!traceText.empty()) out << "on the wire:\n" << traceText;
  }
  return status;
}

}  // namespace korvelan380::tool
