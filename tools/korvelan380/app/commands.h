// The commands. Each file registers its own with the command line: its arguments, its help, and
// what it does in the session (connected by the caller unless said otherwise), filling the report
// with what it did and found.
#ifndef KORVELAN380_TOOL_COMMANDS_H
#define KORVELAN380_TOOL_COMMANDS_H

#include <cstdint>
#include <deque>
#include <functional>
#include <initializer_list>
#include <iosfwd>
#include <optional>
#include <string>

#include "app/session.h"
#include "app/tool.h"
#include "core/values.h"

namespace CLI {
class App;
}

namespace korvelan380::tool {

// A subcommand: its arguments and help, how the session is set up for it, and what it does.
struct Command {
  CLI::App* app = nullptr;
  bool connect = true;         // the caller connects before and disconnects after
  bool sim = false;            // always on the simulated module
  bool attachFirstUse = true;  // a module the state file does not know is attached first
  std::function<void(Session&, Report&)> run;
};

// The tool's subcommands, as each command's Register function adds its own.
class CommandSet {
 public:
  CommandSet(CLI::App& app, std::istream& in, std::ostream& out) : app_(app), in_(in), out_(out) {}
  // A subcommand of the tool, or of `parent`, with its examples below its help.
  Command& Add(const char* name, const char* help, std::initializer_list<const char*> examples,
               Command* parent = nullptr);
  // Standard input, for the commands that read it.
  std::istream& in() { return in_; }
  // Standard output, for a command that says something before it is done (the panel's address).
  std::ostream& out() { return out_; }
  // After the parse: the innermost command given, or null.
  const Command* Chosen() const;

 private:
  CLI::App& app_;
  std::istream& in_;
  std::ostream& out_;
  std::deque<Command> commands_;  // a deque: the commands' options point into them
};

// The words a command takes from its command line, kept alive by its run function.
struct Args {
  std::string channel, what, value, low, high;
};

// The value, or the usage error that says why the text is none.
template <typename T>
T Take(const Parsed<T>& parsed) {
  if (!parsed) throw UsageError(parsed.error);
  return *parsed;
}

// Channel arguments: "0", "1" (and "2" where the module has a third register set).
uint8_t ParseChannel(const std::string& text, uint8_t highest);

// ---- Outputs: range, out, read, channel ----
void RegisterOutputs(CommandSet& set);
std::string OutputText(const ordered_json& output);
void RangeCommand(Session& s, Report& r, const std::string& channel, const std::string& range);
void OutCommand(Session& s, Report& r, const std::string& channel, const std::string& value);

struct ChannelArgs {
  std::optional<std::string> mode, selectA, selectB, switchA, switchB, presetEnable, preset,
      modeParameter;
  bool Any() const {
    return mode || selectA || selectB || switchA || switchB || presetEnable || preset ||
           modeParameter;
  }
};
void ChannelCommand(Session& s, Report& r, const std::string& channel, const ChannelArgs& args);

// ---- Ports and controls: dio, fifo, trigger, gate, select, clock, exio ----
void RegisterDio(CommandSet& set);
// fifo, trigger, gate, select, clock, exio: apart from dio for the help's order
void RegisterControls(CommandSet& set);
void DioCommand(Session& s, Report& r, const std::string& what, const std::string& value);
void FifoCommand(Session& s, Report& r, const std::string& what, const std::string& channel);
ordered_json ReadFifo(Session& s);
ordered_json ReadDio(Session& s);
std::string FifoText(const ordered_json& fifo);

// ---- Waveforms ----
void RegisterWave(CommandSet& set);
struct WaveArgs {
  std::string channel;
  std::string file;  // "-" for standard input, empty with a generator
  std::string column;
  bool raw = false;
  bool codes = false;
  bool fifo = false;  // the FIFO rather than the memory; codes always go there
  std::string shape;  // sine, square, triangle, saw
  uint32_t samples = 1024;
  double cycles = 1;
  std::optional<double> amplitude, offset;
  bool dryRun = false;
  bool clip = false;
};
void WaveCommand(Session& s, Report& r, const WaveArgs& args, std::istream& in);

// ---- Calibration: calib show, export, import ----
void RegisterCalib(CommandSet& set);
// The calib subcommands.
void CalibShow(Session& s, Report& r);
void CalibExport(Session& s, Report& r, const std::string& path);
void CalibImport(Session& s, Report& r, const std::string& path, bool save);

// ---- Whole-module commands, and the simulated module itself ----
void RegisterInfo(CommandSet& set);
void RegisterDoctor(CommandSet& set);
void RegisterPanel(CommandSet& set);  // panel.cpp
void RegisterTrace(CommandSet& set);
// trace FILE: a capture decoded into the wire view --trace prints.
void TraceCommand(Report& r, const std::string& path);
void RegisterDemo(CommandSet& set);
void RegisterSim(CommandSet& set);

}  // namespace korvelan380::tool

#endif  // KORVELAN380_TOOL_COMMANDS_H
