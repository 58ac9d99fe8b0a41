// demo: a short session with the simulated module, step by step, with what went on the wire.
#include <functional>
#include <initializer_list>
#include <sstream>

#include "app/commands.h"
#include "core/wire.h"

namespace korvelan380::tool {

namespace {

using Part = std::function<void(Report&)>;

// The demo's report: each step numbered, with its own report indented under it and then the
// driver calls it made, taken from the simulated module's trace.
class Steps {
 public:
  Steps(Session& s, Report& r) : s_(s), r_(r) { s_.sim()->ClearTrace(); }

  void Run(const std::string& title, const Part& body) {
    Report part;
    body(part);
    const std::vector<WireLine> wire = DescribeTrace(s_.sim()->Trace());
    s_.sim()->ClearTrace();
    r_.json["steps"].push_back({{"step", title}, {"result", part.json}, {"wire", WireJson(wire)}});
    r_.Line("");
    r_.Line(std::to_string(++number_) + ". " + title);
    std::istringstream lines(part.text);
    for (std::string line; std::getline(lines, line);) r_.Line("   " + line);
    r_.Line("   on the wire:");
    r_.text += FormatWire(wire, "     ");
  }

 private:
  Session& s_;
  Report& r_;
  int number_ = 0;
};

// Several commands as one step: their results in a list, their lines one after the other.
void Together(Report& p, std::initializer_list<Part> commands) {
  p.json = ordered_json::array();
  for (const Part& command : commands) {
    Report part;
    command(part);
    p.json.push_back(part.json);
    p.text += part.text;
  }
}

void ConfigureChannel0(Session& s, Report& p) {
  ChannelArgs args;
  args.mode = "1";
  args.selectA = "2";
  args.selectB = "1";
  args.switchA = "1";
  args.switchB = "1";
  args.preset = "-5V";
  ChannelCommand(s, p, "0", args);
}

void LoadSine(Session& s, Report& p) {
  WaveArgs args;
  args.channel = "1";
  args.shape = "sine";
  args.samples = 256;
  args.amplitude = 2.0;
  args.offset = 2.5;
  std::istringstream none;
  WaveCommand(s, p, args, none);
}

void DemoCommand(Session& s, Report& r) {
  if (s.sim() == nullptr) {
    throw UsageError("the demo runs on the simulated module: korvelan380 --sim demo");
  }
  const std::string id = s.options().device;
  r.json["device"] = id;
  r.json["steps"] = ordered_json::array();
  r.Line("A session with the simulated module " + s.Serial() + " (state file " +
         s.sim()->StatePath() + ")");
  Steps steps(s, r);
  steps.Run("Connect module " + id, [&](Report& p) {
    s.Connect();
    p.json["connected"] = true;
    p.Line(
        "connected: the calibration comes from the EEPROM; a module never connected before "
        "also gets its outputs set to zero");
  });
  steps.Run("Ranges: channel 0 -10..10V, channel 1 0..5V", [&](Report& p) {
    Together(p, {[&](Report& a) { RangeCommand(s, a, "0", "-10..10V"); },
                 [&](Report& b) { RangeCommand(s, b, "1", "0..5V"); }});
  });
  steps.Run("Outputs in volts: channel 0 to 2.5 V, channel 1 to 1.25 V, read back", [&](Report& p) {
    Together(p, {[&](Report& a) { OutCommand(s, a, "0", "2.5V"); },
                 [&](Report& b) { OutCommand(s, b, "1", "1.25V"); }});
  });
  steps.Run("Configure channel 0: mode 1, selectors 2 and 1, both switches on, preset -5 V",
            [&](Report& p) { ConfigureChannel0(s, p); });
  steps.Run("Load a sine of 256 samples, 2.5 V +- 2 V, into channel 1's waveform memory",
            [&](Report& p) { LoadSine(s, p); });
  steps.Run("FIFO status", [&](Report& p) { FifoCommand(s, p, "status", ""); });
  steps.Run("Digital I/O: all eight lines outputs, 0x55 then 0xAA", [&](Report& p) {
    Together(p, {[&](Report& a) { DioCommand(s, a, "dir", "0xFF"); },
                 [&](Report& b) { DioCommand(s, b, "out", "0x55"); },
                 [&](Report& c) { DioCommand(s, c, "out", "0xAA"); }});
  });
  steps.Run("Disconnect", [&](Report& p) {
    s.Disconnect();
    p.json["disconnected"] = true;
    p.Line("disconnected; the module keeps its registers and EEPROM in the state file");
  });
}

}  // namespace

void RegisterDemo(CommandSet& set) {
  Command& c = set.Add(
      "demo", "a short session with the simulated module, with what went on the wire",
      {"korvelan380 --sim demo", "korvelan380 --sim --sim-state /tmp/demo.json demo --json"});
  c.connect = false;  // the connect is the demo's first step
  c.sim = true;
  c.run = DemoCommand;
}

}  // namespace korvelan380::tool
