// demo: a short session with the simulated module, step by step, with what went on the wire.
#include <functional>
#include <sstream>

#include "commands.h"
#include "wire.h"

namespace korvelan380::tool {

namespace {

void DemoCommand(Session& s, Report& r) {
  if (s.sim() == nullptr) {
    throw UsageError("the demo runs on the simulated module: korvelan380 --sim demo");
  }
  const std::string id = s.options().device;
  r.json["device"] = id;
  r.json["steps"] = ordered_json::array();
  r.Line("A session with the simulated module " + s.Serial() + " (state file " +
         s.sim()->StatePath() + ")");
  int number = 0;
  s.sim()->ClearTrace();
  auto step = [&](const std::string& title, const std::function<void(Report&)>& body) {
    Report part;
    body(part);
    const std::vector<WireLine> wire = DescribeTrace(s.sim()->Trace());
    s.sim()->ClearTrace();
    r.json["steps"].push_back({{"step", title}, {"result", part.json}, {"wire", WireJson(wire)}});
    r.Line("");
    r.Line(std::to_string(++number) + ". " + title);
    std::istringstream lines(part.text);
    for (std::string line; std::getline(lines, line);) r.Line("   " + line);
    r.Line("   on the wire:");
    r.text += FormatWire(wire, "     ");
  };

  step("Connect module " + id, [&](Report& p) {
    s.Connect();
    p.json["connected"] = true;
    p.Line(
        "connected: the calibration comes from the EEPROM; a module never connected before "
        "also gets its outputs set to zero");
  });
  step("Ranges: channel 0 -10..10V, channel 1 0..5V", [&](Report& p) {
    Report a;
    Report b;
    RangeCommand(s, a, "0", "-10..10V");
    RangeCommand(s, b, "1", "0..5V");
    p.json = {a.json, b.json};
    p.text = a.text + b.text;
  });
  step("Outputs in volts: channel 0 to 2.5 V, channel 1 to 1.25 V, read back", [&](Report& p) {
    Report a;
    Report b;
    OutCommand(s, a, "0", "2.5V");
    OutCommand(s, b, "1", "1.25V");
    p.json = {a.json, b.json};
    p.text = a.text + b.text;
  });
  step("Configure channel 0: mode 1, selectors 2 and 1, both switches on, preset -5 V",
       [&](Report& p) {
         ChannelArgs args;
         args.mode = "1";
         args.selectA = "2";
         args.selectB = "1";
         args.switchA = "1";
         args.switchB = "1";
         args.preset = "-5V";
         ChannelCommand(s, p, "0", args);
       });
  step("Load a sine of 256 samples, 2.5 V +- 2 V, into channel 1's waveform memory",
       [&](Report& p) {
         WaveArgs args;
         args.channel = "1";
         args.shape = "sine";
         args.samples = 256;
         args.amplitude = 2.0;
         args.offset = 2.5;
         std::istringstream none;
         WaveCommand(s, p, args, none);
       });
  step("FIFO status", [&](Report& p) { FifoCommand(s, p, "status", ""); });
  step("Digital I/O: all eight lines outputs, 0x55 then 0xAA", [&](Report& p) {
    Report a;
    Report b;
    Report c;
    DioCommand(s, a, "dir", "0xFF");
    DioCommand(s, b, "out", "0x55");
    DioCommand(s, c, "out", "0xAA");
    p.json = {a.json, b.json, c.json};
    p.text = a.text + b.text + c.text;
  });
  step("Disconnect", [&](Report& p) {
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
