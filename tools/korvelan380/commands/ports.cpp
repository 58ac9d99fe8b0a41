// The digital ports and the controls: dio, exio, select, clock, trigger, gate, fifo.
#include <CLI/CLI.hpp>
#include <bitset>
#include <memory>

#include "app/commands.h"
#include "core/values.h"

namespace korvelan380::tool {
namespace {

std::string ByteText(uint8_t value) {
  return Hex(value, 2) + " (0b" + std::bitset<8>(value).to_string() + ", " + std::to_string(value) +
         ")";
}

uint8_t Selector(const std::string& text, uint8_t highest, const char* which) {
  const auto value = ParseUnsigned(text, highest, which);
  if (!value) throw UsageError(value.error);
  return static_cast<uint8_t>(*value);
}

void ExioCommand(Session& s, Report& r, const std::string& what) {
  uint8_t in = 0;
  if (what != "in") {
    uint8_t low = 0;
    uint8_t high = 0;
    s.Check("KORVELAN380_EXIO_Sel_R", ReadExioSelection(s.id(), &low, &high));
    r.json["select"] = {{"low", low}, {"high", high}};
    r.Line("EXIO selection: low " + std::to_string(low) + ", high " + std::to_string(high));
  }
  s.Check("KORVELAN380_EXIO_In", KORVELAN380_EXIO_In(s.id(), &in));
  r.json["input"] = in;
  r.Line("EXIO input: " + ByteText(in));
}

void SelectCommand(Session& s, Report& r, const std::string& which, const std::string& low,
                   const std::string& high) {
  const bool ext = which == "ext";
  if (!ext && which != "exio") throw UsageError("select ext or select exio");
  if (low.empty() != high.empty()) throw UsageError("give both LOW and HIGH, or neither");
  const uint8_t limit = ext ? 4 : 6;
  if (!low.empty()) {
    const uint8_t l = Selector(low, limit, "low selection");
    const uint8_t h = Selector(high, limit, "high selection");
    if (ext) {
      s.Check("KORVELAN380_Exs_Sel", KORVELAN380_Exs_Sel(s.id(), l, h));
    } else {
      s.Check("KORVELAN380_EXIO_Sel", KORVELAN380_EXIO_Sel(s.id(), l, h));
    }
  }
  uint8_t l = 0;
  uint8_t h = 0;
  if (ext) {
    s.Check("KORVELAN380_Exs_Sel_R", KORVELAN380_Exs_Sel_R(s.id(), &l, &h));
  } else {
    s.Check("KORVELAN380_EXIO_Sel_R", ReadExioSelection(s.id(), &l, &h));
  }
  r.json = {{"selection", which}, {"low", l}, {"high", h}};
  r.Line(std::string(ext ? "external-signal" : "EXIO") + " selection: low " + std::to_string(l) +
         ", high " + std::to_string(h));
}

void ClockCommand(Session& s, Report& r, const std::string& channelText, const std::string& value) {
  const uint8_t channel = ParseChannel(channelText, 2);
  const uint32_t setting = Take(ParseUnsigned(value, 0xFFFFFFFF, "clock setting"));
  if (setting < 99) {
    throw UsageError("the clock setting " + std::to_string(setting) +
                     " is too small: it is 99 "
                     "to 4294967295");
  }
  s.Check("KORVELAN380_Clock_Gen", KORVELAN380_Clock_Gen(s.id(), channel, setting));
  r.json = {{"channel", channel}, {"clock_setting", setting}};
  r.Line("channel " + std::to_string(channel) + ": clock setting " + std::to_string(setting) +
         " (" + Hex(setting, 8) + ") loaded; the module does not report it back");
}

void TriggerCommand(Session& s, Report& r, const std::string& channelText,
                    const std::string& action) {
  const uint8_t channel = ParseChannel(channelText, 2);
  r.json["channel"] = channel;
  if (action == "start" || action == "stop") {
    s.Check("KORVELAN380_Trigger", KORVELAN380_Trigger(s.id(), channel, action == "start" ? 1 : 0));
    r.json["action"] = action;
  } else if (action != "status") {
    throw UsageError("'" + action + "': the trigger takes start, stop or status");
  }
  uint8_t status = 0;
  s.Check("KORVELAN380_Trigger_Stat", KORVELAN380_Trigger_Stat(s.id(), channel, &status));
  r.json["status"] = status;
  r.Line("channel " + std::to_string(channel) + " trigger" +
         (action == "status" ? "" : " " + action + " sent;") + " status " + std::to_string(status) +
         (channel == 2 ? " (channel 2 reports channel 0's status)" : ""));
}

void GateCommand(Session& s, Report& r, const std::string& channelText, const std::string& action) {
  const uint8_t channel = ParseChannel(channelText, 2);
  r.json["channel"] = channel;
  if (action == "on" || action == "off") {
    s.Check("KORVELAN380_GateSet", KORVELAN380_GateSet(s.id(), channel, action == "on" ? 1 : 0));
    r.json["set"] = action;
  } else if (action != "status") {
    throw UsageError("'" + action + "': the gate takes on, off or status");
  }
  uint8_t gate = 0;
  s.Check("KORVELAN380_GateSet_R", KORVELAN380_GateSet_R(s.id(), channel, &gate));
  r.json["gate"] = gate;
  r.Line("channel " + std::to_string(channel) + " gate" +
         (action == "status" ? "" : " set " + action + ";") + " reads " + (gate ? "on" : "off"));
}

}  // namespace

void DioCommand(Session& s, Report& r, const std::string& what, const std::string& value) {
  if (what == "dir" || what == "out") {
    const bool dir = what == "dir";
    if (!value.empty()) {
      const uint8_t byte = Take(ParseByte(value));
      if (dir) {
        s.Check("KORVELAN380_Dio_Dir", KORVELAN380_Dio_Dir(s.id(), byte));
      } else {
        s.Check("KORVELAN380_Dio_Out", KORVELAN380_Dio_Out(s.id(), byte));
      }
    }
    uint8_t got = 0;
    if (dir) {
      s.Check("KORVELAN380_Dio_Dir_R", KORVELAN380_Dio_Dir_R(s.id(), &got));
    } else {
      s.Check("KORVELAN380_Dio_Out_R", KORVELAN380_Dio_Out_R(s.id(), &got));
    }
    const char* name = dir ? "direction" : "output";
    r.json[name] = got;
    r.Line(std::string("DIO ") + name + ": " + ByteText(got));
    return;
  }
  if (what == "in") {
    if (!value.empty()) throw UsageError("dio in takes no byte");
    uint8_t in = 0;
    s.Check("KORVELAN380_Dio_In", KORVELAN380_Dio_In(s.id(), &in));
    r.json["input"] = in;
    r.Line("DIO input: " + ByteText(in));
    return;
  }
  r.json = ReadDio(s);
  r.Line("DIO direction: " + ByteText(r.json["direction"]));
  r.Line("DIO output:    " + ByteText(r.json["output"]));
  r.Line("DIO input:     " + ByteText(r.json["input"]));
}

ordered_json ReadDio(Session& s) {
  uint8_t dir = 0;
  uint8_t out = 0;
  uint8_t in = 0;
  s.Check("KORVELAN380_Dio_Dir_R", KORVELAN380_Dio_Dir_R(s.id(), &dir));
  s.Check("KORVELAN380_Dio_Out_R", KORVELAN380_Dio_Out_R(s.id(), &out));
  s.Check("KORVELAN380_Dio_In", KORVELAN380_Dio_In(s.id(), &in));
  return {{"direction", dir}, {"output", out}, {"input", in}};
}

ordered_json ReadFifo(Session& s) {
  uint8_t flag7[2] = {};
  uint8_t flag6[2] = {};
  uint32_t counter[2] = {};
  s.Check("KORVELAN380_Fifo_Status", KORVELAN380_Fifo_Status(s.id(), flag7, flag6, counter));
  ordered_json out = ordered_json::array();
  for (int c = 0; c < 2; ++c) {
    out.push_back(
        {{"channel", c}, {"flag7", flag7[c]}, {"flag6", flag6[c]}, {"counter", counter[c]}});
  }
  return out;
}

std::string FifoText(const ordered_json& fifo) {
  std::string text;
  for (const auto& c : fifo) {
    text += "FIFO of channel " + std::to_string(c["channel"].get<int>()) + ": flag 7 " +
            std::to_string(c["flag7"].get<int>()) + ", flag 6 " +
            std::to_string(c["flag6"].get<int>()) + ", counter " +
            std::to_string(c["counter"].get<uint32_t>()) + "\n";
  }
  return text;
}

void FifoCommand(Session& s, Report& r, const std::string& what, const std::string& channelText) {
  if (what == "clear") {
    if (channelText.empty()) throw UsageError("fifo clear takes a channel: 0 or 1");
    const uint8_t channel = ParseChannel(channelText, 2);
    s.Check("KORVELAN380_Fifo_Clr", KORVELAN380_Fifo_Clr(s.id(), channel));
    r.json["cleared"] = channel;
    r.Line("FIFO of channel " + std::to_string(channel == 1 ? 1 : 0) + " cleared");
  } else if (!what.empty() && what != "status") {
    throw UsageError("'" + what + "': fifo takes status or clear CH");
  }
  r.json["fifo"] = ReadFifo(s);
  r.text += FifoText(r.json["fifo"]);
}

void RegisterDio(CommandSet& set) {
  auto a = std::make_shared<Args>();
  Command& c = set.Add("dio", "the digital I/O port: direction, output, input",
                       {"korvelan380 --sim dio", "korvelan380 --sim dio dir 0xFF",
                        "korvelan380 --sim dio out 0b10100101", "korvelan380 --sim dio in",
                        "Bytes are decimal, 0x.. or 0b..; without a byte, dir and out read back."});
  c.app->add_option("WHAT", a->what, "dir, out or in (all three when left out)")
      ->check(CLI::IsMember({"dir", "out", "in"}));
  c.app->add_option("BYTE", a->value, "the byte to write");
  c.run = [a](Session& s, Report& r) { DioCommand(s, r, a->what, a->value); };
}

void RegisterControls(CommandSet& set) {
  auto a = std::make_shared<Args>();
  Command& fifo = set.Add("fifo", "FIFO status of both channels, or clear a channel's FIFO",
                          {"korvelan380 --sim fifo", "korvelan380 --sim fifo status --json",
                           "korvelan380 --sim fifo clear 1"});
  fifo.app->add_option("WHAT", a->what, "status (the default) or clear")
      ->check(CLI::IsMember({"status", "clear"}));
  fifo.app->add_option("CH", a->channel, "with clear: channel 0 or 1 (2 clears channel 0's)");
  fifo.run = [a](Session& s, Report& r) { FifoCommand(s, r, a->what, a->channel); };
  Command& trigger =
      set.Add("trigger", "start or stop a channel's trigger, or read its status",
              {"korvelan380 --sim trigger 0 start", "korvelan380 --sim trigger 1 stop",
               "korvelan380 --sim trigger 0 status"});
  trigger.app->add_option("CH", a->channel, "channel 0, 1 or 2")->required();
  trigger.app->add_option("ACTION", a->what, "start, stop or status")
      ->required()
      ->check(CLI::IsMember({"start", "stop", "status"}));
  trigger.run = [a](Session& s, Report& r) { TriggerCommand(s, r, a->channel, a->what); };
  Command& gate = set.Add("gate", "open or close a channel's gate, or read it",
                          {"korvelan380 --sim gate 0 on", "korvelan380 --sim gate 2 off",
                           "korvelan380 --sim gate 1 status"});
  gate.app->add_option("CH", a->channel, "channel 0, 1 or 2")->required();
  gate.app->add_option("ACTION", a->what, "on, off or status")
      ->required()
      ->check(CLI::IsMember({"on", "off", "status"}));
  gate.run = [a](Session& s, Report& r) { GateCommand(s, r, a->channel, a->what); };
  Command& select =
      set.Add("select", "the external-signal or EXIO selection: set it, or read it back",
              {"korvelan380 --sim select ext 2 3", "korvelan380 --sim select exio 6 1",
               "korvelan380 --sim select exio"});
  select.app->add_option("WHICH", a->what, "ext (selections 0 to 4) or exio (0 to 6)")
      ->required()
      ->check(CLI::IsMember({"ext", "exio"}));
  select.app->add_option("LOW", a->low, "the low selection");
  select.app->add_option("HIGH", a->high, "the high selection");
  select.run = [a](Session& s, Report& r) { SelectCommand(s, r, a->what, a->low, a->high); };
  Command& clock =
      set.Add("clock", "load a channel's clock setting (99 to 4294967295)",
              {"korvelan380 --sim clock 0 1000", "korvelan380 --sim clock 2 0x12345678"});
  clock.app->add_option("CH", a->channel, "channel 0, 1 or 2")->required();
  clock.app->add_option("VALUE", a->value, "the clock setting, decimal or 0x..")->required();
  clock.run = [a](Session& s, Report& r) { ClockCommand(s, r, a->channel, a->value); };
  Command& exio =
      set.Add("exio", "the EXIO port: its input byte (and with no argument its selection too)",
              {"korvelan380 --sim exio in", "korvelan380 --sim exio"});
  exio.app->add_option("WHAT", a->what, "in")->check(CLI::IsMember({"in"}));
  exio.run = [a](Session& s, Report& r) { ExioCommand(s, r, a->what); };
}

}  // namespace korvelan380::tool
