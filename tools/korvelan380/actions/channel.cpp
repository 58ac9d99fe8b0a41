#include "actions/channel.h"

#include <string>

namespace korvelan380::tool {

uint8_t ReadRange(Session& s, uint8_t channel) {
  uint8_t index = 0;
  s.Check("KORVELAN380_RangeSet_R", KORVELAN380_RangeSet_R(s.id(), channel, &index));
  return index;
}

const Range& ChannelRange(Session& s, uint8_t channel, uint8_t* indexOut) {
  const uint8_t index = ReadRange(s, channel);
  if (indexOut != nullptr) *indexOut = index;
  const Range* range = RangeOf(index);
  if (range == nullptr) {
    throw ToolError("channel " + std::to_string(channel) + "'s range register reads " +
                        std::to_string(index) + ", which is no output range: select one first",
                    kExitFailed);
  }
  return *range;
}

ordered_json RangeJson(unsigned index) {
  return {
      {"index", index},
      {"name", RangeOf(index) != nullptr ? ordered_json(RangeName(index)) : ordered_json(nullptr)}};
}

void ConfigureChannel(Session& s, uint8_t channel, const DacChannelSettings& settings) {
  DacChannelSettings set = settings;
  const StatusCode status = KORVELAN380_DacChSet(s.id(), channel, &set);
  if (status == KORVELAN380_INVALID_ARGUMENT) {
    ToolError error = StatusError("KORVELAN380_DacChSet", status, s.options().device);
    error.hint =
        "mode 0 takes nothing else; mode 1: selectors 0-2, switches and preset enable 0-1; "
        "mode 2: selectors 0-2, switch B and preset enable 0-1; mode 3: selectors 0-1, "
        "preset enable 0-1";
    throw error;
  }
  s.Check("KORVELAN380_DacChSet", status);
}

ordered_json ReadChannelSettings(Session& s, uint8_t channel) {
  DacChannelSettings got{};
  const StatusCode status = KORVELAN380_DacChSet_R(s.id(), channel, &got);
  // 1 here means the preset code stands for no raw value: the other fields are read.
  if (status != KORVELAN380_INVALID_ARGUMENT) s.Check("KORVELAN380_DacChSet_R", status);
  ordered_json out = {{"mode", got.mode},        {"select_a", got.selectA},
                      {"select_b", got.selectB}, {"switch_a", got.switchA},
                      {"switch_b", got.switchB}, {"preset_enable", got.presetEnable},
                      {"preset", nullptr},       {"mode_parameter", got.modeParameter}};
  if (status == KORVELAN380_OK) {
    const Range* range = RangeOf(ReadRange(s, channel));
    out["preset"] = {
        {"raw", got.presetValue},
        {"volts", range != nullptr ? ordered_json(VoltsFromRaw(got.presetValue, *range))
                                   : ordered_json(nullptr)}};
  }
  return out;
}

ordered_json SettingsJson(const DacChannelSettings& set) {
  return {{"mode", set.mode},
          {"select_a", set.selectA},
          {"select_b", set.selectB},
          {"switch_a", set.switchA},
          {"switch_b", set.switchB},
          {"preset_enable", set.presetEnable},
          {"preset_raw", set.presetValue},
          {"mode_parameter", set.modeParameter}};
}

ordered_json ReadOutput(Session& s, uint8_t channel) {
  uint16_t code = 0;
  s.Check("KORVELAN380_DacValSet_NoCalibed_R",
          KORVELAN380_DacValSet_NoCalibed_R(s.id(), channel, &code));
  const uint8_t index = ReadRange(s, channel);
  ordered_json out = {{"channel", channel},
                      {"range", RangeJson(index)},
                      {"volts", nullptr},
                      {"raw", nullptr},
                      {"code", code}};
  // The raw value is the code read converted for the range read, as KORVELAN380_DacValSet_R
  // does it; converted here, the two registers are read once each. A code that stands for no
  // raw value of the range has none.
  const Range* range = RangeOf(index);
  uint16_t raw = 0;
  if (range != nullptr &&
      KORVELANGetRawValFromCalibed(s.id(), channel, index, code, &raw) == KORVELAN380_OK) {
    out["volts"] = VoltsFromRaw(raw, *range);
    out["raw"] = raw;
  }
  return out;
}

ordered_json SetOutput(Session& s, uint8_t channel, const OutputValue& value) {
  if (const auto* volts = std::get_if<Volts>(&value)) {
    const auto raw = RawFromVolts(volts->volts, ChannelRange(s, channel));
    if (!raw) throw UsageError(raw.error);
    s.Check("KORVELAN380_DacValSet", KORVELAN380_DacValSet(s.id(), channel, *raw));
    return {{"volts", volts->volts}, {"raw", *raw}};
  }
  if (const auto* raw = std::get_if<Raw>(&value)) {
    s.Check("KORVELAN380_DacValSet", KORVELAN380_DacValSet(s.id(), channel, raw->raw));
    return {{"raw", raw->raw}};
  }
  const uint16_t code = std::get<Code>(value).code;
  s.Check("KORVELAN380_DacValSet_NoCalibed",
          KORVELAN380_DacValSet_NoCalibed(s.id(), channel, code));
  return {{"code", code}};
}

}  // namespace korvelan380::tool
