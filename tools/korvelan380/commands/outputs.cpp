// The analog outputs: range, out, read, channel.
#include <CLI/CLI.hpp>
#include <cmath>
#include <memory>

#include "actions/channel.h"
#include "app/commands.h"
#include "core/values.h"

namespace korvelan380::tool {
namespace {

// A preset or output given in volts or as a raw value, for the channel's current range.
uint16_t RawFor(Session& s, uint8_t channel, const std::string& text, const char* what) {
  const OutputValue value = Take(ParseOutputValue(text));
  if (const auto* raw = std::get_if<Raw>(&value)) return raw->raw;
  if (std::holds_alternative<Code>(value)) {
    throw UsageError(std::string(what) + " is a raw value or volts, not a code");
  }
  return Take(RawFromVolts(std::get<Volts>(value).volts, ChannelRange(s, channel)));
}

uint8_t SmallNumber(const std::optional<std::string>& text, const char* what) {
  return text ? static_cast<uint8_t>(Take(ParseUnsigned(*text, 255, what))) : 0;
}

}  // namespace

uint8_t ParseChannel(const std::string& text, uint8_t highest) {
  if (text.size() == 1 && text[0] >= '0' && text[0] <= '0' + highest) {
    return static_cast<uint8_t>(text[0] - '0');
  }
  throw UsageError("'" + text + "' is not a channel here: give " +
                   (highest == 1 ? std::string("0 or 1") : "0, 1 or " + std::to_string(highest)));
}

std::string OutputText(const ordered_json& o) {
  std::string text = "channel " + std::to_string(o["channel"].get<int>()) + ": ";
  if (o["raw"].is_null()) {
    text += "no raw value (the code lies outside the calibrated range)";
  } else {
    const auto raw = o["raw"].get<uint16_t>();
    text += FormatVolts(o["volts"].get<double>()) + "  raw " + std::to_string(raw) + " (" +
            Hex(raw, 4) + ")";
  }
  text += "  code " + Hex(o["code"].get<uint16_t>(), 4) + "  range " +
          RangeName(o["range"]["index"].get<unsigned>());
  return text;
}

void RangeCommand(Session& s, Report& r, const std::string& channelText, const std::string& text) {
  const uint8_t channel = ParseChannel(channelText, 2);
  const uint8_t index = Take(ParseRange(text));
  s.Check("KORVELAN380_RangeSet", KORVELAN380_RangeSet(s.id(), channel, index));
  const Range& range = kRanges[index];
  r.json = {{"channel", channel}, {"range", RangeJson(index)}};
  r.json["limits"] = {{"low", range.bottom}, {"high", range.Top()}, {"step", range.Step()}};
  if (channel < 2) r.json["read_back"] = RangeJson(ReadRange(s, channel));
  r.Line("channel " + std::to_string(channel) + ": range " + range.name + " (index " +
         std::to_string(index) + "), " + FormatVolts(range.bottom) + " to " +
         FormatVolts(range.Top()) + " in steps of " + FormatVolts(range.Step()));
  if (channel < 2 && r.json["read_back"]["index"] != index) {
    r.Line("  but the module reports " + RangeName(r.json["read_back"]["index"].get<unsigned>()));
  }
}

void OutCommand(Session& s, Report& r, const std::string& channelText, const std::string& text) {
  const uint8_t channel = ParseChannel(channelText, 1);
  const ordered_json requested = SetOutput(s, channel, Take(ParseOutputValue(text)));
  const ordered_json output = ReadOutput(s, channel);
  r.json = {{"channel", channel}, {"requested", requested}, {"output", output}};
  r.Line(OutputText(output));
  if (requested.contains("volts") && !output["volts"].is_null() &&
      output["volts"].get<double>() != requested["volts"].get<double>()) {
    r.Line("  the nearest step to " + FormatVolts(requested["volts"].get<double>()));
  }
}

void ChannelCommand(Session& s, Report& r, const std::string& channelText, const ChannelArgs& a) {
  const uint8_t channel = ParseChannel(channelText, 1);
  r.json["channel"] = channel;
  if (a.Any()) {
    if (!a.mode) throw UsageError("give the channel's mode with --mode 0 to 3");
    DacChannelSettings set{};
    set.mode = SmallNumber(a.mode, "mode");
    set.selectA = SmallNumber(a.selectA, "selector");
    set.selectB = SmallNumber(a.selectB, "selector");
    set.switchA = SmallNumber(a.switchA, "switch");
    set.switchB = SmallNumber(a.switchB, "switch");
    set.presetEnable = a.presetEnable ? SmallNumber(a.presetEnable, "preset enable")
                                      : static_cast<uint8_t>(a.preset ? 1 : 0);
    if (a.preset) set.presetValue = RawFor(s, channel, *a.preset, "the preset");
    if (a.modeParameter) {
      set.modeParameter =
          static_cast<uint16_t>(Take(ParseUnsigned(*a.modeParameter, 0xFFFF, "mode parameter")));
    }
    ConfigureChannel(s, channel, set);
    r.json["written"] = SettingsJson(set);
  }
  const ordered_json got = ReadChannelSettings(s, channel);
  r.json["read_back"] = got;
  std::string preset = "none (the preset code stands for no raw value)";
  if (!got["preset"].is_null()) {
    preset = "raw " + std::to_string(got["preset"]["raw"].get<int>());
    if (!got["preset"]["volts"].is_null()) {
      preset += " (" + FormatVolts(got["preset"]["volts"].get<double>()) + ")";
    }
  }
  r.Line("channel " + std::to_string(channel) + (a.Any() ? " configured; it reads back:" : ":"));
  r.Line("  mode " + std::to_string(got["mode"].get<int>()) + ", select A " +
         std::to_string(got["select_a"].get<int>()) + ", select B " +
         std::to_string(got["select_b"].get<int>()) + ", switch A " +
         std::to_string(got["switch_a"].get<int>()) + ", switch B " +
         std::to_string(got["switch_b"].get<int>()));
  r.Line("  preset enable " + std::to_string(got["preset_enable"].get<int>()) + ", preset " +
         preset + ", mode parameter " + Hex(got["mode_parameter"].get<uint16_t>(), 4));
}

void RegisterOutputs(CommandSet& set) {
  auto a = std::make_shared<Args>();
  Command& range = set.Add(
      "range", "select a channel's output range",
      {"korvelan380 --sim range 0 -10..10V", "korvelan380 --sim range 1 uni5",
       "korvelan380 --sim range 0 +-2.5V", "korvelan380 --sim range 1 4   (index: 0..10V)"});
  range.app->add_option("CH", a->channel, "channel 0, 1 or 2")->required();
  range.app
      ->add_option("RANGE", a->value,
                   "-10..10V -5..5V -2.5..2.5V -1.25..1.25V 0..10V 0..5V 0..2.5V, an alias "
                   "(10V, +-5V, bip10, uni5, 0-10V) or an index 0 to 6")
      ->required();
  range.run = [a](Session& s, Report& r) { RangeCommand(s, r, a->channel, a->value); };
  Command& out = set.Add("out", "set a channel's output",
                         {"korvelan380 --sim out 0 2.5V", "korvelan380 --sim out 1 -1.25",
                          "korvelan380 --sim out 0 500mV", "korvelan380 --sim out 0 raw:8192",
                          "korvelan380 --sim out 1 code:0x1234"});
  out.app->add_option("CH", a->channel, "channel 0 or 1")->required();
  out.app
      ->add_option("VALUE", a->value,
                   "volts in the channel's range (2.5V, -1.25, 500mV), a raw value (raw:8192, "
                   "0 to 16383) or an uncalibrated code (code:0x1234)")
      ->required();
  out.run = [a](Session& s, Report& r) { OutCommand(s, r, a->channel, a->value); };
  Command& read = set.Add("read", "read a channel's output back: volts, raw value and code",
                          {"korvelan380 --sim read 0", "korvelan380 --sim read 1 --json"});
  read.app->add_option("CH", a->channel, "channel 0 or 1")->required();
  read.run = [a](Session& s, Report& r) {
    r.json = ReadOutput(s, ParseChannel(a->channel, 1));
    r.Line(OutputText(r.json));
  };
  auto fields = std::make_shared<ChannelArgs>();
  Command& channel =
      set.Add("channel", "configure a channel, or read its configuration back",
              {"korvelan380 --sim channel 0",
               "korvelan380 --sim channel 0 --mode 1 --select-a 2 --select-b 1 --switch-a 1",
               "korvelan380 --sim channel 1 --mode 2 --mode-parameter 0x1234 --preset 1.5V",
               "Fields left out are 0; a preset turns the preset enable on."});
  channel.app->add_option("CH", a->channel, "channel 0 or 1")->required();
  auto opt = [&channel](const char* name, std::optional<std::string>& slot, const char* help) {
    channel.app->add_option_function<std::string>(
        name, [&slot](const std::string& v) { slot = v; }, help);
  };
  opt("--mode", fields->mode, "mode 0 to 3");
  opt("--select-a", fields->selectA, "selector A (0 to 2; mode 3: 0 or 1)");
  opt("--select-b", fields->selectB, "selector B (0 to 2; mode 3: 0 or 1)");
  opt("--switch-a", fields->switchA, "switch A, 0 or 1 (mode 1)");
  opt("--switch-b", fields->switchB, "switch B, 0 or 1 (modes 1 and 2)");
  opt("--preset-enable", fields->presetEnable, "preset enable, 0 or 1");
  opt("--preset", fields->preset, "preset value: volts or raw:N, loaded as the preset code");
  opt("--mode-parameter", fields->modeParameter, "mode parameter 0 to 65535 (mode 2)");
  channel.run = [a, fields](Session& s, Report& r) { ChannelCommand(s, r, a->channel, *fields); };
}

}  // namespace korvelan380::tool
