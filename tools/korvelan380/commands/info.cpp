// info: every setting the module reports, in one look.
#include "actions/calibration.h"
#include "actions/channel.h"
#include "app/commands.h"
#include "core/values.h"

namespace korvelan380::tool {

namespace {

std::string SettingsText(const ordered_json& settings) {
  return "  mode " + std::to_string(settings["mode"].get<int>()) + ", select A/B " +
         std::to_string(settings["select_a"].get<int>()) + "/" +
         std::to_string(settings["select_b"].get<int>()) + ", switch A/B " +
         std::to_string(settings["switch_a"].get<int>()) + "/" +
         std::to_string(settings["switch_b"].get<int>()) + ", preset enable " +
         std::to_string(settings["preset_enable"].get<int>()) + ", preset " +
         (settings["preset"].is_null()
              ? std::string("none")
              : "raw " + std::to_string(settings["preset"]["raw"].get<int>())) +
         ", mode parameter " + Hex(settings["mode_parameter"].get<uint16_t>(), 4);
}

// Channel 0's or 1's output, configuration, trigger status and gate.
ordered_json ReadChannel(Session& s, Report& r, uint8_t ch) {
  const ordered_json output = ReadOutput(s, ch);
  const ordered_json settings = ReadChannelSettings(s, ch);
  uint8_t trigger = 0;
  uint8_t gate = 0;
  s.Check("KORVELAN380_Trigger_Stat", KORVELAN380_Trigger_Stat(s.id(), ch, &trigger));
  s.Check("KORVELAN380_GateSet_R", KORVELAN380_GateSet_R(s.id(), ch, &gate));
  r.Line(OutputText(output));
  r.Line(SettingsText(settings));
  r.Line("  trigger status " + std::to_string(trigger) + ", gate " + (gate ? "on" : "off"));
  return {
      {"channel", ch},
      {"range", output["range"]},
      {"output", {{"volts", output["volts"]}, {"raw", output["raw"]}, {"code", output["code"]}}},
      {"configuration", settings},
      {"trigger", trigger},
      {"gate", gate}};
}

// The digital lines, the EXIO port and the external-signal selection.
void ReadPorts(Session& s, Report& r) {
  const ordered_json dio = ReadDio(s);
  r.json["dio"] = dio;
  r.Line("DIO direction " + Hex(dio["direction"], 2) + ", output " + Hex(dio["output"], 2) +
         ", input " + Hex(dio["input"], 2));

  uint8_t low = 0;
  uint8_t high = 0;
  uint8_t exio = 0;
  s.Check("KORVELAN380_EXIO_Sel_R", ReadExioSelection(s.id(), &low, &high));
  s.Check("KORVELAN380_EXIO_In", KORVELAN380_EXIO_In(s.id(), &exio));
  r.json["exio"] = {{"select", {{"low", low}, {"high", high}}}, {"input", exio}};
  r.Line("EXIO selection low " + std::to_string(low) + ", high " + std::to_string(high) +
         "; input " + Hex(exio, 2));
  s.Check("KORVELAN380_Exs_Sel_R", KORVELAN380_Exs_Sel_R(s.id(), &low, &high));
  r.json["external_select"] = {{"low", low}, {"high", high}};
  r.Line("external-signal selection low " + std::to_string(low) + ", high " + std::to_string(high));
}

void InfoCommand(Session& s, Report& r) {
  r.json["device"] = s.options().device;
  r.json["serial"] = s.Serial();
  r.json["simulated"] = s.options().sim;
  r.json["latency"] = s.latency().Json();
  r.Line("module " + s.options().device + " (" + s.Serial() + ")" +
         (s.options().sim ? ", simulated" : ""));
  r.Line("latency timer: " + s.latency().detail);

  ordered_json channels = ordered_json::array();
  for (uint8_t ch = 0; ch < 2; ++ch) channels.push_back(ReadChannel(s, r, ch));
  r.json["channels"] = channels;
  uint8_t gate2 = 0;
  s.Check("KORVELAN380_GateSet_R", KORVELAN380_GateSet_R(s.id(), 2, &gate2));
  r.json["gate_channel_2"] = gate2;
  r.Line("channel 2 gate " + std::string(gate2 ? "on" : "off"));

  ReadPorts(s, r);

  r.json["fifo"] = ReadFifo(s);
  r.text += FifoText(r.json["fifo"]);
  const Calibration calibration = ReadCalibration(s);
  r.json["calibration"] = CalibrationSummary(calibration);
  r.json["calibration"]["never_calibrated"] = NeverCalibrated(calibration);
  r.Line("calibration: " + r.json["calibration"]["summary"].get<std::string>());
  if (NeverCalibrated(calibration)) {
    r.Line("  never calibrated: '" + AdjustCommand(s.options().device) +
           "' calibrates it against a voltmeter");
  }
  r.Line("(clock settings are write-only: the module does not report them)");
}

}  // namespace

void RegisterInfo(CommandSet& set) {
  set.Add("info", "every setting the module reports",
          {"korvelan380 --sim info", "korvelan380 -d 7 info --json"})
      .run = InfoCommand;
}

}  // namespace korvelan380::tool
