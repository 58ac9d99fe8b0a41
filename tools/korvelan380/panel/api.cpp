// The test panel's JSON API: an endpoint per family of the library's calls, each request's body
// checked field by field before the first call on the module.
#include "panel/api.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <optional>
#include <sstream>

#include "actions/calibration.h"
#include "actions/calibration_adjust.h"
#include "actions/channel.h"
#include "actions/errors.h"
#include "actions/waveform.h"
#include "app/commands.h"
#include "core/samples.h"
#include "core/values.h"
#include "os/os.h"

namespace korvelan380::tool {
namespace {

using nlohmann::json;

// A request that cannot go to the module as it is: 400, with what is wrong.
struct BadRequest : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Deeper documents are refused before they are parsed: copying or printing one recurses once a
// level, and no request needs more than a few.
constexpr size_t kMaxNesting = PanelApi::kMaxNesting;

// The deepest nesting of arrays and objects in `text`, counted outside strings; stops counting
// past `limit`. A scan without recursion, however deep the text.
size_t Nesting(std::string_view text, size_t limit) {
  size_t depth = 0;
  size_t deepest = 0;
  bool inString = false;
  for (size_t i = 0; i < text.size() && deepest <= limit; ++i) {
    const char c = text[i];
    if (inString) {
      if (c == '\\') ++i;
      inString = c != '"';
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      deepest = std::max(deepest, ++depth);
    } else if ((c == ']' || c == '}') && depth > 0) {
      --depth;
    }
  }
  return deepest;
}

json ParseBody(std::string_view body) {
  if (Nesting(body, kMaxNesting) > kMaxNesting) {
    throw BadRequest("the body nests arrays and objects more than " + std::to_string(kMaxNesting) +
                     " deep");
  }
  // The keys of each object being parsed, innermost last: a key given twice is refused, where
  // the parser would keep the last silently.
  std::vector<std::vector<std::string>> keys;
  const json::parser_callback_t noDuplicates = [&keys](int, json::parse_event_t event,
                                                       json& parsed) {
    if (event == json::parse_event_t::object_start) keys.emplace_back();
    if (event == json::parse_event_t::object_end) keys.pop_back();
    if (event == json::parse_event_t::key) {
      std::vector<std::string>& seen = keys.back();
      const std::string& key = parsed.get_ref<const std::string&>();
      if (std::find(seen.begin(), seen.end(), key) != seen.end()) {
        throw BadRequest("the field '" + key + "' is given twice");
      }
      seen.push_back(key);
    }
    return true;
  };
  json doc = json::parse(body, noDuplicates, false);
  if (doc.is_discarded()) throw BadRequest("the body is not valid JSON");
  if (!doc.is_object()) throw BadRequest("the body is a JSON object: {\"field\": value, ...}");
  return doc;
}

// A misspelt field would otherwise be left out silently.
void OnlyFields(const json& doc, std::initializer_list<std::string_view> fields) {
  for (const auto& item : doc.items()) {
    if (std::find(fields.begin(), fields.end(), item.key()) == fields.end()) {
      throw BadRequest("unknown field '" + item.key() + "'");
    }
  }
}

std::string Quoted(const char* key) {
  return std::string("'") + key + "'";
}

std::optional<uint32_t> Whole(const json& doc, const char* key, uint32_t low, uint32_t high,
                              bool required) {
  if (!doc.contains(key)) {
    if (required) throw BadRequest(Quoted(key) + " is missing");
    return std::nullopt;
  }
  const json& v = doc[key];
  const std::string expected =
      Quoted(key) + " is a whole number " + std::to_string(low) + " to " + std::to_string(high);
  if (!v.is_number_integer()) throw BadRequest(expected);
  if (!v.is_number_unsigned() || v.get<uint64_t>() < low || v.get<uint64_t>() > high) {
    throw BadRequest(expected + ", not " + v.dump());
  }
  return static_cast<uint32_t>(v.get<uint64_t>());
}

uint32_t Required(const json& doc, const char* key, uint32_t low, uint32_t high) {
  return *Whole(doc, key, low, high, true);
}

uint8_t Channel(const json& doc, uint8_t highest) {
  return static_cast<uint8_t>(Required(doc, "channel", 0, highest));
}

std::optional<double> Number(const json& doc, const char* key) {
  if (!doc.contains(key)) return std::nullopt;
  const json& v = doc[key];
  if (!v.is_number() || !std::isfinite(v.get<double>())) {
    throw BadRequest(Quoted(key) + " is a number");
  }
  return v.get<double>();
}

std::optional<std::string> Text(const json& doc, const char* key) {
  if (!doc.contains(key)) return std::nullopt;
  if (!doc[key].is_string()) throw BadRequest(Quoted(key) + " is a string");
  return doc[key].get<std::string>();
}

std::optional<bool> Flag(const json& doc, const char* key) {
  if (!doc.contains(key)) return std::nullopt;
  if (!doc[key].is_boolean()) throw BadRequest(Quoted(key) + " is true or false");
  return doc[key].get<bool>();
}

// One of `choices`, as a string.
std::string Choice(const json& doc, const char* key,
                   std::initializer_list<std::string_view> choices) {
  const auto text = Text(doc, key);
  std::string list;
  for (std::string_view c : choices) list += (list.empty() ? "" : ", ") + std::string(c);
  if (!text) throw BadRequest(Quoted(key) + " is missing: one of " + list);
  if (std::find(choices.begin(), choices.end(), *text) == choices.end()) {
    throw BadRequest(Quoted(key) + " is one of " + list + ", not '" + *text + "'");
  }
  return *text;
}

ordered_json RangesJson() {
  ordered_json ranges = ordered_json::array();
  for (const Range& r : kRanges) {
    ranges.push_back({{"index", r.index},
                      {"name", r.name},
                      {"low", r.bottom},
                      {"high", r.Top()},
                      {"step", r.Step()}});
  }
  return ranges;
}

// Volts rounded to the microvolt, so that a plot of half a million samples stays a few MB.
double Micro(double volts) {
  return std::round(volts * 1e6) / 1e6;
}

// ---- output, range, channel ----

ordered_json GetOutput(Session& s) {
  return {{"channels", {ReadOutput(s, 0), ReadOutput(s, 1)}}};
}

ordered_json PostOutput(Session& s, const json& doc) {
  OnlyFields(doc, {"channel", "volts", "raw", "code"});
  const uint8_t channel = Channel(doc, 1);
  const auto volts = Number(doc, "volts");
  const auto raw = Whole(doc, "raw", 0, kMaxRaw, false);
  const auto code = Whole(doc, "code", 0, 0xFFFF, false);
  if (volts.has_value() + raw.has_value() + code.has_value() != 1) {
    throw BadRequest("give one of 'volts', 'raw' or 'code'");
  }
  if (volts) {
    SetOutput(s, channel, Volts{*volts});
  } else if (raw) {
    SetOutput(s, channel, Raw{static_cast<uint16_t>(*raw)});
  } else {
    SetOutput(s, channel, Code{static_cast<uint16_t>(*code)});
  }
  return {{"output", ReadOutput(s, channel)}};
}

// The range a request gives, by index or by name.
uint8_t RangeIndex(const json& doc) {
  if (doc["range"].is_string()) {
    const auto parsed = ParseRange(doc["range"].get<std::string>());
    if (!parsed) throw BadRequest(parsed.error);
    return *parsed;
  }
  return static_cast<uint8_t>(Required(doc, "range", 0, 6));
}

ordered_json PostRange(Session& s, const json& doc) {
  OnlyFields(doc, {"channel", "range"});
  const uint8_t channel = Channel(doc, 2);
  if (!doc.contains("range")) throw BadRequest("'range' is missing: an index 0 to 6 or a name");
  const uint8_t index = RangeIndex(doc);
  s.Check("KORVELAN380_RangeSet", KORVELAN380_RangeSet(s.id(), channel, index));
  return {{"channel", channel}, {"range", RangeJson(index)}};
}

ordered_json GetChannel(Session& s) {
  return {{"channels", {ReadChannelSettings(s, 0), ReadChannelSettings(s, 1)}}};
}

// The library sends 0 for the fields a mode does not use, and loads a preset only when it is
// enabled: any other value there would be dropped without a word.
void OnlyFieldsOfMode(const json& doc, uint8_t mode) {
  struct Use {
    const char* field;
    bool used[4];  // in modes 0 to 3
  };
  static constexpr Use kUses[] = {{"select_a", {false, true, true, true}},
                                  {"select_b", {false, true, true, true}},
                                  {"switch_a", {false, true, false, false}},
                                  {"switch_b", {false, true, true, false}},
                                  {"mode_parameter", {false, false, true, false}}};
  for (const Use& use : kUses) {
    if (!use.used[mode] && doc.contains(use.field) && doc[use.field] != 0) {
      throw BadRequest(Quoted(use.field) + " is not used in mode " + std::to_string(mode) +
                       ": leave it out or 0");
    }
  }
  const bool enabled = doc.contains("preset_enable") && doc["preset_enable"] == 1;
  for (const char* preset : {"preset_volts", "preset_raw"}) {
    if (doc.contains(preset) && !enabled) {
      throw BadRequest(Quoted(preset) + " is loaded only with 'preset_enable': 1");
    }
  }
}

ordered_json PostChannel(Session& s, const json& doc) {
  OnlyFields(doc, {"channel", "mode", "select_a", "select_b", "switch_a", "switch_b",
                   "preset_enable", "preset_volts", "preset_raw", "mode_parameter"});
  const uint8_t channel = Channel(doc, 1);
  DacChannelSettings set{};
  set.mode = static_cast<uint8_t>(Required(doc, "mode", 0, 3));
  OnlyFieldsOfMode(doc, set.mode);
  set.selectA = static_cast<uint8_t>(Whole(doc, "select_a", 0, 2, false).value_or(0));
  set.selectB = static_cast<uint8_t>(Whole(doc, "select_b", 0, 2, false).value_or(0));
  set.switchA = static_cast<uint8_t>(Whole(doc, "switch_a", 0, 1, false).value_or(0));
  set.switchB = static_cast<uint8_t>(Whole(doc, "switch_b", 0, 1, false).value_or(0));
  set.presetEnable = static_cast<uint8_t>(Whole(doc, "preset_enable", 0, 1, false).value_or(0));
  set.modeParameter =
      static_cast<uint16_t>(Whole(doc, "mode_parameter", 0, 0xFFFF, false).value_or(0));
  const auto presetVolts = Number(doc, "preset_volts");
  const auto presetRaw = Whole(doc, "preset_raw", 0, kMaxRaw, false);
  if (presetVolts && presetRaw) throw BadRequest("give 'preset_volts' or 'preset_raw', not both");
  if (presetRaw) set.presetValue = static_cast<uint16_t>(*presetRaw);
  if (presetVolts) {
    const auto parsed = RawFromVolts(*presetVolts, ChannelRange(s, channel));
    if (!parsed) throw BadRequest(parsed.error);
    set.presetValue = *parsed;
  }
  ConfigureChannel(s, channel, set);
  return {{"channel", channel}, {"settings", ReadChannelSettings(s, channel)}};
}

// ---- waveforms ----

// A /api/wave request, checked in full before the module is asked anything.
struct WaveRequest {
  uint8_t channel = 0;
  std::optional<Generator> generator;
  std::vector<double> samples;  // from the CSV
  Units units = Units::kVolts;
  std::optional<WaveTarget> target;  // none: plotted only
  bool clip = false;
};

Generator WaveGenerator(const json& doc) {
  Generator g;
  g.shape = Choice(doc, "shape", {"sine", "square", "triangle", "saw"});
  g.samples = Whole(doc, "samples", 1, kSampleLimit, false).value_or(1024);
  g.cycles = Number(doc, "cycles").value_or(1);
  if (g.cycles <= 0 || g.cycles > g.samples) {
    throw BadRequest("'cycles' is more than 0 and at most the number of samples");
  }
  g.amplitude = Number(doc, "amplitude");
  g.offset = Number(doc, "offset");
  return g;
}

std::vector<double> CsvSamples(const json& doc, Units units) {
  for (const char* key : {"samples", "cycles", "amplitude", "offset"}) {
    if (doc.contains(key)) {
      throw BadRequest("'samples', 'cycles', 'amplitude' and 'offset' go with a 'shape'");
    }
  }
  std::string column;
  if (doc.contains("column")) {
    column = doc["column"].is_number_unsigned() ? std::to_string(doc["column"].get<uint64_t>())
                                                : Text(doc, "column").value_or("");
  }
  std::istringstream csv(Text(doc, "csv").value_or(""));
  std::vector<double> samples;
  try {
    samples = ReadSamples(csv, "the CSV", column, units).values;
  } catch (const SampleError& e) {
    throw BadRequest(e.what());
  }
  if (samples.size() > kSampleLimit) {
    throw BadRequest("the CSV holds " + std::to_string(samples.size()) +
                     " samples: the module takes at most " + std::to_string(kSampleLimit));
  }
  return samples;
}

WaveRequest ParseWave(const json& doc) {
  OnlyFields(doc, {"channel", "shape", "samples", "cycles", "amplitude", "offset", "csv", "column",
                   "units", "load", "clip"});
  WaveRequest w;
  w.channel = Channel(doc, 1);
  if (doc.contains("shape") == doc.contains("csv")) {
    throw BadRequest("give a 'shape' or a 'csv', not both");
  }
  if (doc.contains("units")) {
    const std::string units = Choice(doc, "units", {"volts", "raw", "codes"});
    w.units = units == "raw" ? Units::kRaw : units == "codes" ? Units::kCodes : Units::kVolts;
  }
  if (doc.contains("load")) {
    w.target =
        Choice(doc, "load", {"memory", "fifo"}) == "fifo" ? WaveTarget::kFifo : WaveTarget::kMemory;
  }
  if (w.units == Units::kCodes && w.target == WaveTarget::kMemory) {
    throw BadRequest("codes go to the FIFO as given: the memory calibrates what it takes");
  }
  w.clip = Flag(doc, "clip").value_or(false);
  if (doc.contains("shape")) {
    if (w.units != Units::kVolts) {
      throw BadRequest("the shapes make volts: 'units' goes with a 'csv'");
    }
    w.generator = WaveGenerator(doc);
  } else {
    w.samples = CsvSamples(doc, w.units);
  }
  return w;
}

// What each sample stands for in volts, for the plot: volts as given (outside the range too),
// and for codes what the module's calibration makes of them (null where nothing).
ordered_json PlottedVolts(Session& s, const Waveform& w, const std::vector<double>& given) {
  ordered_json volts = ordered_json::array();
  for (size_t i = 0; i < w.values.size(); ++i) {
    uint16_t raw = w.values[i];
    if (w.units == Units::kVolts) {
      volts.push_back(Micro(given[i]));
    } else if (w.range == nullptr ||
               (w.units == Units::kCodes &&
                KORVELANGetRawValFromCalibed(s.id(), w.channel, w.rangeIndex, w.values[i], &raw) !=
                    KORVELAN380_OK)) {
      volts.push_back(nullptr);
    } else {
      volts.push_back(Micro(VoltsFromRaw(raw, *w.range)));
    }
  }
  return volts;
}

ordered_json PostWave(Session& s, const json& doc) {
  WaveRequest request = ParseWave(doc);
  const uint8_t rangeIndex = WaveRange(s, request.channel, request.units);
  if (request.generator) request.samples = Generate(*request.generator, kRanges[rangeIndex]);
  const Waveform w = MakeWaveform(request.channel, rangeIndex, request.units, request.samples);
  ordered_json reply = {{"channel", w.channel},
                        {"range", RangeJson(rangeIndex)},
                        {"limits", w.range != nullptr ? ordered_json{{"low", w.range->bottom},
                                                                     {"high", w.range->Top()}}
                                                      : ordered_json(nullptr)},
                        {"units", UnitsName(w.units)},
                        {"count", w.values.size()},
                        {"volts", PlottedVolts(s, w, request.samples)},
                        {"clipped", w.clipped},
                        {"loaded", nullptr}};
  if (!request.target) return reply;
  LoadWaveform(s, w, *request.target, request.clip, "'clip': true holds them at the limits");
  reply["loaded"] = *request.target == WaveTarget::kFifo ? "fifo" : "memory";
  return reply;
}

ordered_json GetFifo(Session& s) {
  return {{"fifo", ReadFifo(s)}};
}

ordered_json PostFifo(Session& s, const json& doc) {
  OnlyFields(doc, {"action", "channel"});
  Choice(doc, "action", {"clear"});
  const uint8_t channel = Channel(doc, 2);
  s.Check("KORVELAN380_Fifo_Clr", KORVELAN380_Fifo_Clr(s.id(), channel));
  return GetFifo(s);
}

// ---- trigger and gate ----

ordered_json GetTrigger(Session& s) {
  ordered_json trigger = ordered_json::array();
  ordered_json gate = ordered_json::array();
  for (uint8_t c = 0; c < 3; ++c) {
    uint8_t value = 0;
    // Channel 2's trigger status is channel 0's: it is not read twice.
    if (c < 2) {
      s.Check("KORVELAN380_Trigger_Stat", KORVELAN380_Trigger_Stat(s.id(), c, &value));
      trigger.push_back(value);
    }
    s.Check("KORVELAN380_GateSet_R", KORVELAN380_GateSet_R(s.id(), c, &value));
    gate.push_back(value);
  }
  return {{"trigger", trigger}, {"gate", gate}};
}

ordered_json PostTrigger(Session& s, const json& doc) {
  OnlyFields(doc, {"channel", "trigger", "gate"});
  const uint8_t channel = Channel(doc, 2);
  if (doc.contains("trigger") == doc.contains("gate")) {
    throw BadRequest("give 'trigger' (\"start\" or \"stop\") or 'gate' (true or false)");
  }
  if (doc.contains("trigger")) {
    const bool start = Choice(doc, "trigger", {"start", "stop"}) == "start";
    s.Check("KORVELAN380_Trigger", KORVELAN380_Trigger(s.id(), channel, start ? 1 : 0));
  } else {
    const bool on = *Flag(doc, "gate");
    s.Check("KORVELAN380_GateSet", KORVELAN380_GateSet(s.id(), channel, on ? 1 : 0));
  }
  return GetTrigger(s);
}

// ---- selections, clock, EXIO input ----

// The library prints the EXIO selection to standard output while it reads it; the tool swaps
// standard output out for that, which two threads must not do at once.
std::mutex exioSelectionMu;

ordered_json GetSelect(Session& s) {
  uint8_t low = 0;
  uint8_t high = 0;
  s.Check("KORVELAN380_Exs_Sel_R", KORVELAN380_Exs_Sel_R(s.id(), &low, &high));
  ordered_json reply = {{"ext", {{"low", low}, {"high", high}}}};
  {
    std::lock_guard<std::mutex> lock(exioSelectionMu);
    s.Check("KORVELAN380_EXIO_Sel_R", ReadExioSelection(s.id(), &low, &high));
  }
  reply["exio"] = {{"low", low}, {"high", high}};
  uint8_t input = 0;
  s.Check("KORVELAN380_EXIO_In", KORVELAN380_EXIO_In(s.id(), &input));
  reply["exio_input"] = input;
  return reply;
}

ordered_json PostSelect(Session& s, const json& doc) {
  const std::string which = Choice(doc, "which", {"ext", "exio", "clock"});
  if (which == "clock") {
    OnlyFields(doc, {"which", "channel", "setting"});
    const uint8_t channel = Channel(doc, 2);
    const uint32_t setting = Required(doc, "setting", 99, 0xFFFFFFFF);
    s.Check("KORVELAN380_Clock_Gen", KORVELAN380_Clock_Gen(s.id(), channel, setting));
    return {{"clock", {{"channel", channel}, {"setting", setting}}}};
  }
  OnlyFields(doc, {"which", "low", "high"});
  const uint32_t highest = which == "ext" ? 4 : 6;
  const auto low = static_cast<uint8_t>(Required(doc, "low", 0, highest));
  const auto high = static_cast<uint8_t>(Required(doc, "high", 0, highest));
  if (which == "ext") {
    s.Check("KORVELAN380_Exs_Sel", KORVELAN380_Exs_Sel(s.id(), low, high));
  } else {
    s.Check("KORVELAN380_EXIO_Sel", KORVELAN380_EXIO_Sel(s.id(), low, high));
  }
  return GetSelect(s);
}

// ---- digital I/O ----

ordered_json PostDio(Session& s, const json& doc) {
  OnlyFields(doc, {"direction", "output"});
  const auto direction = Whole(doc, "direction", 0, 255, false);
  const auto output = Whole(doc, "output", 0, 255, false);
  if (!direction && !output) throw BadRequest("give 'direction' or 'output' (0 to 255), or both");
  if (direction) {
    s.Check("KORVELAN380_Dio_Dir", KORVELAN380_Dio_Dir(s.id(), static_cast<uint8_t>(*direction)));
  }
  if (output) {
    s.Check("KORVELAN380_Dio_Out", KORVELAN380_Dio_Out(s.id(), static_cast<uint8_t>(*output)));
  }
  return ReadDio(s);
}

// ---- calibration: the document `calib export` writes, as data ----

ordered_json GetCalib(Session& s) {
  const Calibration c = ReadCalibration(s);
  return {{"entries", EntriesJson(c)},
          {"summary", CalibrationSummary(c)["summary"]},
          {"never_calibrated", NeverCalibrated(c)},
          {"adjust_command", AdjustCommand(s.options().device)},
          {"document", CalibrationDocument(s, c)}};
}

ordered_json PostCalib(Session& s, const json& doc) {
  OnlyFields(doc, {"document", "save", "force"});
  if (!doc.contains("document") || !doc["document"].is_object()) {
    throw BadRequest("'document' is the calibration as exported: a JSON object");
  }
  const auto save = Flag(doc, "save");
  if (!save) throw BadRequest("'save' is missing: true also stores it in the EEPROM");
  // An expert may set values no module should have; everyone else is stopped before any change.
  const bool force = Flag(doc, "force").value_or(false);
  const Calibration now =
      ImportCalibration(s, {ParseCalibration(doc["document"], "the calibration"), *save, force});
  return {{"saved", *save}, {"entries", EntriesJson(now)}};
}

// ---- the guided calibration: one request a reading ----

// One pair, a channel's 7, both channels in one range, or all 14.
std::vector<AdjustPair> PairsAsked(const json& doc) {
  const auto channel = Whole(doc, "channel", 0, 1, false);
  std::optional<uint8_t> range;
  if (doc.contains("range")) range = RangeIndex(doc);
  return AdjustPairs(
      channel ? std::optional<uint8_t>(static_cast<uint8_t>(*channel)) : std::nullopt, range);
}

uint64_t Adjustment(const json& doc) {
  return Required(doc, "adjustment", 1, 0xFFFFFFFF);
}
}  // namespace

ApiReply PanelApi::Adjust(std::string_view method, std::string_view body) {
  if (method == "GET") return {200, adjustment_.State(session_)};
  if (method != "POST") return {405, ErrorDocument("/api/adjust takes GET or POST"), "GET, POST"};
  const json doc = ParseBody(body);
  const std::string action = Choice(doc, "action", {"start", "reading", "keep", "discard"});
  if (action == "start") {
    OnlyFields(doc, {"action", "channel", "range"});
    return {200, adjustment_.Start(session_, PairsAsked(doc))};
  }
  if (action == "reading") {
    OnlyFields(doc, {"action", "adjustment", "pair", "point", "volts"});
    const AdjustPlace at{Adjustment(doc), Required(doc, "pair", 0, kCalibrationEntries - 1),
                         static_cast<uint8_t>(Required(doc, "point", 0, 2))};
    const auto volts = Number(doc, "volts");
    if (!volts) throw BadRequest("'volts' is missing: the reading, in volts");
    return {200, adjustment_.Reading(session_, at, *volts)};
  }
  OnlyFields(doc, {"action", "adjustment"});
  if (action == "keep") return {200, adjustment_.Keep(session_, Adjustment(doc))};
  return {200, adjustment_.Discard(session_, Adjustment(doc))};
}

ordered_json PanelApi::Info() {
  const Simulator* sim = session_.sim();
  return {{"device", session_.options().device},
          {"serial", session_.Serial()},
          {"simulated", sim != nullptr},
          {"sim_state", sim != nullptr ? ordered_json(sim->StatePath()) : ordered_json(nullptr)},
          {"version", KORVELAN380_VERSION},
          {"latency", session_.latency().Json()},
          {"sample_limit", kSampleLimit},
          {"ranges", RangesJson()}};
}

void PanelApi::DrainTrace() {
  // Calls made between the copy and the clear are lost to the log; the log is for people, and
  // the window is a few microseconds.
  const std::vector<capture::DriverCall> trace = session_.sim()->Trace();
  session_.sim()->ClearTrace();
  for (WireLine& line : DescribeTrace(trace)) wire_.push_back(std::move(line));
  while (wire_.size() > kWireLines) wire_.pop_front();
  requestsSinceDrain_ = 0;
}

ordered_json PanelApi::Wire() {
  std::lock_guard<std::mutex> lock(wireMu_);
  DrainTrace();
  return {{"lines", WireJson({wire_.begin(), wire_.end()})}};
}

std::optional<ApiReply> PanelApi::OfTheApi(std::string_view method, std::string_view endpoint,
                                           std::string_view body) {
  if (endpoint == "info" || endpoint == "wire") {
    if (method != "GET") {
      return ApiReply{405, ErrorDocument("/api/" + std::string(endpoint) + " takes GET"), "GET"};
    }
    if (endpoint == "info") return ApiReply{200, Info()};
    if (session_.sim() == nullptr) {
      return ApiReply{404,
                      ErrorDocument("the wire log is kept for the simulated module (--sim) only")};
    }
    return ApiReply{200, Wire()};
  }
  if (endpoint == "adjust") return Adjust(method, body);
  // The calibration is not set behind the back of a guided calibration under way.
  if (endpoint == "calib" && method == "POST") {
    const json doc = ParseBody(body);
    return ApiReply{200, adjustment_.Unless([&] { return PostCalib(session_, doc); })};
  }
  return std::nullopt;
}

ApiReply PanelApi::Handle(std::string_view method, std::string_view endpoint,
                          std::string_view body) {
  using Get = std::function<ordered_json(Session&)>;
  using Post = std::function<ordered_json(Session&, const json&)>;
  struct Route {
    std::string_view name;
    Get get;
    Post post;
  };
  static const Route routes[] = {
      {"output", GetOutput, PostOutput},    {"range", nullptr, PostRange},
      {"channel", GetChannel, PostChannel}, {"wave", nullptr, PostWave},
      {"fifo", GetFifo, PostFifo},          {"trigger", GetTrigger, PostTrigger},
      {"select", GetSelect, PostSelect},    {"dio", ReadDio, PostDio},
      {"calib", GetCalib, PostCalib},       {"info", nullptr, nullptr},
      {"wire", nullptr, nullptr},           {"adjust", nullptr, nullptr},
  };
  const Route* route = nullptr;
  for (const Route& r : routes) {
    if (r.name == endpoint) route = &r;
  }
  if (route == nullptr) return {404, ErrorDocument("no endpoint /api/" + std::string(endpoint))};

  if (session_.sim() != nullptr) {
    std::lock_guard<std::mutex> lock(wireMu_);
    if (++requestsSinceDrain_ >= 100) DrainTrace();
  }
  try {
    if (auto reply = OfTheApi(method, endpoint, body)) return std::move(*reply);
    if (method == "GET" && route->get) return {200, route->get(session_)};
    if (method == "POST" && route->post) return {200, route->post(session_, ParseBody(body))};
    const std::string allow = route->get && route->post ? "GET, POST" : route->get ? "GET" : "POST";
    return {405,
            ErrorDocument("/api/" + std::string(endpoint) + " takes " +
                          (route->get && route->post ? "GET or POST" : allow)),
            allow};
  } catch (const BadRequest& e) {
    return {400, ErrorDocument(e.what())};
  } catch (const AdjustConflict& e) {
    return {409, ErrorDocument(e.what())};
  } catch (const ToolError& e) {
    const std::string meaning =
        e.call.empty() ? "" : StatusMeaning(e.status, session_.options().device);
    // Refused by the library before anything was sent: the values were wrong, not the module.
    const bool refused =
        e.exit == kExitUsage || (!e.call.empty() && e.status == KORVELAN380_INVALID_ARGUMENT);
    return {refused ? 400 : 500, {{"error", ErrorJson(e, meaning)}}};
  } catch (const std::exception& e) {
    return {500, ErrorDocument(std::string("unexpected error: ") + e.what())};
  }
}

bool HostAllowed(std::string_view host, int port) {
  const std::string suffix = ":" + std::to_string(port);
  if (host.size() <= suffix.size() || host.substr(host.size() - suffix.size()) != suffix) {
    return false;
  }
  const std::string name(host.substr(0, host.size() - suffix.size()));
  return name == "localhost" || os::IsNumericAddress(name);
}

bool OriginAllowed(std::string_view origin, std::string_view host) {
  return origin.empty() || origin == "http://" + std::string(host);
}

bool SameToken(std::string_view given, std::string_view token) {
  if (given.size() != token.size()) return false;
  unsigned char difference = 0;
  for (size_t i = 0; i < token.size(); ++i) {
    difference |= static_cast<unsigned char>(given[i] ^ token[i]);
  }
  return difference == 0;
}

}  // namespace korvelan380::tool
