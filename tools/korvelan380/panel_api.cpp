// The test panel's JSON API: an endpoint per family of the library's calls, each request's body
// checked field by field before the first call on the module.
#include "panel_api.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>

#include "commands.h"
#include "os/os.h"
#include "values.h"
#include "wave.h"

namespace korvelan380::tool {
namespace {

using nlohmann::json;

// A request that cannot go to the module as it is: 400, with what is wrong.
struct BadRequest : std::runtime_error {
  using std::runtime_error::runtime_error;
};

json ParseBody(const std::string& body) {
  json doc = json::parse(body, nullptr, false);
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

// The range the module reports for the channel; its index too, when asked for.
const Range& CurrentRange(Session& s, uint8_t channel, uint8_t* indexOut = nullptr) {
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
    const auto parsed = RawFromVolts(*volts, CurrentRange(s, channel));
    if (!parsed) throw BadRequest(parsed.error);
    s.Check("KORVELAN380_DacValSet", KORVELAN380_DacValSet(s.id(), channel, *parsed));
  } else if (raw) {
    s.Check("KORVELAN380_DacValSet",
            KORVELAN380_DacValSet(s.id(), channel, static_cast<uint16_t>(*raw)));
  } else {
    s.Check("KORVELAN380_DacValSet_NoCalibed",
            KORVELAN380_DacValSet_NoCalibed(s.id(), channel, static_cast<uint16_t>(*code)));
  }
  return {{"output", ReadOutput(s, channel)}};
}

ordered_json PostRange(Session& s, const json& doc) {
  OnlyFields(doc, {"channel", "range"});
  const uint8_t channel = Channel(doc, 2);
  if (!doc.contains("range")) throw BadRequest("'range' is missing: an index 0 to 6 or a name");
  uint8_t index = 0;
  if (doc["range"].is_string()) {
    const auto parsed = ParseRange(doc["range"].get<std::string>());
    if (!parsed) throw BadRequest(parsed.error);
    index = *parsed;
  } else {
    index = static_cast<uint8_t>(Required(doc, "range", 0, 6));
  }
  s.Check("KORVELAN380_RangeSet", KORVELAN380_RangeSet(s.id(), channel, index));
  return {{"channel", channel}, {"range", RangeJson(index)}};
}

ordered_json GetChannel(Session& s) {
  return {{"channels", {ReadChannelSettings(s, 0), ReadChannelSettings(s, 1)}}};
}

ordered_json PostChannel(Session& s, const json& doc) {
  OnlyFields(doc, {"channel", "mode", "select_a", "select_b", "switch_a", "switch_b",
                   "preset_enable", "preset_volts", "preset_raw", "mode_parameter"});
  const uint8_t channel = Channel(doc, 1);
  DacChannelSettings set{};
  set.mode = static_cast<uint8_t>(Required(doc, "mode", 0, 3));
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
    const auto parsed = RawFromVolts(*presetVolts, CurrentRange(s, channel));
    if (!parsed) throw BadRequest(parsed.error);
    set.presetValue = *parsed;
  }
  const StatusCode status = KORVELAN380_DacChSet(s.id(), channel, &set);
  if (status == KORVELAN380_INVALID_ARGUMENT) {
    // Refused by the library before anything was sent: a bad combination for the mode.
    ToolError error = StatusError("KORVELAN380_DacChSet", status, s.options().device);
    error.exit = kExitUsage;
    error.hint =
        "mode 0 takes nothing else; mode 1: selectors 0-2, switches and preset enable 0-1; "
        "mode 2: selectors 0-2, switch B and preset enable 0-1; mode 3: selectors 0-1, "
        "preset enable 0-1";
    throw error;
  }
  s.Check("KORVELAN380_DacChSet", status);
  return {{"channel", channel}, {"settings", ReadChannelSettings(s, channel)}};
}

// ---- waveforms ----

ordered_json PostWave(Session& s, const json& doc) {
  OnlyFields(doc, {"channel", "shape", "samples", "cycles", "amplitude", "offset", "csv", "column",
                   "load", "clip"});
  const uint8_t channel = Channel(doc, 1);
  const bool generated = doc.contains("shape");
  if (generated == doc.contains("csv")) throw BadRequest("give a 'shape' or a 'csv', not both");
  const uint32_t count = Whole(doc, "samples", 1, kSampleLimit, false).value_or(1024);
  const double cycles = Number(doc, "cycles").value_or(1);
  if (cycles <= 0 || cycles > count) {
    throw BadRequest("'cycles' is more than 0 and at most the number of samples");
  }
  const auto amplitude = Number(doc, "amplitude");
  const auto offset = Number(doc, "offset");
  std::string column;
  if (doc.contains("column")) {
    column = doc["column"].is_number_unsigned() ? std::to_string(doc["column"].get<uint64_t>())
                                                : Text(doc, "column").value_or("");
  }
  std::string load;
  if (doc.contains("load")) load = Choice(doc, "load", {"memory", "fifo"});
  const bool clip = Flag(doc, "clip").value_or(false);
  std::string shape;
  if (generated) {
    shape = Choice(doc, "shape", {"sine", "square", "triangle", "saw"});
  } else {
    Text(doc, "csv");  // checks its type before the module is read
    if (doc.contains("samples") || doc.contains("cycles") || amplitude || offset) {
      throw BadRequest("'samples', 'cycles', 'amplitude' and 'offset' go with a 'shape'");
    }
  }

  uint8_t rangeIndex = 0;
  const Range& range = CurrentRange(s, channel, &rangeIndex);
  std::vector<double> volts;
  if (generated) {
    const double a = amplitude.value_or(range.span / 2 * 0.9);
    const double o = offset.value_or(range.bottom + range.span / 2);
    volts.resize(count);
    for (uint32_t i = 0; i < count; ++i) {
      volts[i] = o + a * Shape(shape, std::fmod(cycles * i / count, 1.0));
    }
  } else {
    std::istringstream csv(doc["csv"].get<std::string>());
    volts = ReadSamples(csv, "the CSV", column, Units::kVolts);
    if (volts.empty()) throw BadRequest("the CSV holds no samples");
    if (volts.size() > kSampleLimit) {
      throw BadRequest("the CSV holds " + std::to_string(volts.size()) +
                       " samples: the module takes at most " + std::to_string(kSampleLimit));
    }
  }

  ordered_json clipped = ordered_json::array();
  ordered_json plotted = ordered_json::array();
  std::vector<uint16_t> raw(volts.size());
  for (size_t i = 0; i < volts.size(); ++i) {
    if (!(volts[i] >= range.bottom && volts[i] <= range.Top())) clipped.push_back(i);
    raw[i] = ClippedRaw(volts[i], range);
    plotted.push_back(Micro(volts[i]));
  }
  ordered_json reply = {{"channel", channel},
                        {"range", RangeJson(rangeIndex)},
                        {"limits", {{"low", range.bottom}, {"high", range.Top()}}},
                        {"count", volts.size()},
                        {"volts", std::move(plotted)},
                        {"clipped", clipped},
                        {"loaded", nullptr}};
  if (load.empty()) return reply;
  if (!clipped.empty() && !clip) {
    throw BadRequest(std::to_string(clipped.size()) + " of " + std::to_string(volts.size()) +
                     " samples lie outside the range " + range.name + ": its limits are " +
                     FormatVolts(range.bottom) + " to " + FormatVolts(range.Top()) +
                     " ('clip': true holds them at the limits)");
  }
  const auto n = static_cast<int32_t>(raw.size());
  if (load == "memory") {
    s.Check("KORVELAN380_WavImgSet", KORVELAN380_WavImgSet(s.id(), channel, raw.data(), n));
  } else {
    // The FIFO takes codes as they are: each sample is calibrated here first.
    std::vector<uint16_t> codes(raw.size());
    for (size_t i = 0; i < raw.size(); ++i) {
      s.Check("KORVELANGetCalibedVal",
              KORVELANGetCalibedVal(s.id(), channel, rangeIndex, raw[i], &codes[i]));
    }
    s.Check("KORVELAN380_Fifo_ImgSet", KORVELAN380_Fifo_ImgSet(s.id(), channel, codes.data(), n));
  }
  reply["loaded"] = load;
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

// ---- calibration: the tool's own export and import, through a file of their own ----

class TemporaryFile {
 public:
  TemporaryFile() : path_(panel_os::NewTemporaryFile()) {}
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  ~TemporaryFile() {
    std::error_code ec;
    std::filesystem::remove(path_, ec);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

ordered_json GetCalib(Session& s) {
  Report shown;
  CalibShow(s, shown);
  TemporaryFile file;
  Report exported;
  CalibExport(s, exported, file.path());
  std::ifstream in(file.path());
  std::stringstream content;
  content << in.rdbuf();
  return {{"entries", shown.json["entries"]},
          {"summary", CalibrationSummary(s)["summary"]},
          {"document", ordered_json::parse(content.str())}};
}

ordered_json PostCalib(Session& s, const json& doc) {
  OnlyFields(doc, {"document", "save"});
  if (!doc.contains("document") || !doc["document"].is_object()) {
    throw BadRequest("'document' is the calibration as exported: a JSON object");
  }
  const auto save = Flag(doc, "save");
  if (!save) throw BadRequest("'save' is missing: true also stores it in the EEPROM");
  TemporaryFile file;
  {
    std::ofstream out(file.path(), std::ios::trunc);
    out << doc["document"].dump();
    if (!out.flush()) throw ToolError("cannot write " + file.path(), kExitFailed);
  }
  Report imported;
  try {
    CalibImport(s, imported, file.path(), *save);
  } catch (ToolError& e) {
    // The file is the panel's own: the message names the calibration instead.
    std::string message = e.what();
    if (message.rfind(file.path(), 0) == 0) {
      message = "the calibration" + message.substr(file.path().size());
    }
    ToolError renamed(message, e.exit);
    renamed.call = e.call;
    renamed.status = e.status;
    throw renamed;
  }
  return {{"saved", *save}, {"entries", imported.json["entries"]}};
}

ordered_json ErrorBody(const std::string& message) {
  return {{"error", {{"message", message}}}};
}

}  // namespace

ordered_json PanelApi::Info() {
  const Simulator* sim = session_.sim();
  return {{"device", session_.options().device},
          {"serial", session_.Serial()},
          {"simulated", sim != nullptr},
          {"sim_state", sim != nullptr ? ordered_json(sim->StatePath()) : ordered_json(nullptr)},
          {"version", KORVELAN380_VERSION},
          {"sample_limit", kSampleLimit},
          {"ranges", RangesJson()}};
}

void PanelApi::DrainTrace() {
  // Calls made between the copy and the clear are lost to the log; the log is for people, and
  // the window is a few microseconds.
  const std::vector<TraceEntry> trace = session_.sim()->Trace();
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

ApiReply PanelApi::Handle(std::string_view method, std::string_view endpoint,
                          const std::string& body) {
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
      {"wire", nullptr, nullptr},
  };
  const Route* route = nullptr;
  for (const Route& r : routes) {
    if (r.name == endpoint) route = &r;
  }
  if (route == nullptr) return {404, ErrorBody("no endpoint /api/" + std::string(endpoint))};

  if (session_.sim() != nullptr) {
    std::lock_guard<std::mutex> lock(wireMu_);
    if (++requestsSinceDrain_ >= 100) DrainTrace();
  }
  try {
    if (endpoint == "info" || endpoint == "wire") {
      if (method != "GET") return {405, ErrorBody("/api/" + std::string(endpoint) + " takes GET")};
      if (endpoint == "info") return {200, Info()};
      if (session_.sim() == nullptr) {
        return {404, ErrorBody("the wire log is kept for the simulated module (--sim) only")};
      }
      return {200, Wire()};
    }
    if (method == "GET" && route->get) return {200, route->get(session_)};
    if (method == "POST" && route->post) return {200, route->post(session_, ParseBody(body))};
    return {405, ErrorBody("/api/" + std::string(endpoint) + " takes " +
                           (route->get && route->post ? "GET or POST"
                            : route->get              ? "GET"
                                                      : "POST"))};
  } catch (const BadRequest& e) {
    return {400, ErrorBody(e.what())};
  } catch (const ToolError& e) {
    ordered_json error = {{"message", e.what()}};
    if (!e.call.empty()) {
      error["call"] = e.call;
      error["status"] = e.status;
      error["meaning"] = StatusMeaning(e.status, session_.options().device);
    }
    if (!e.hint.empty()) error["hint"] = e.hint;
    return {e.exit == kExitUsage ? 400 : 500, {{"error", error}}};
  } catch (const std::exception& e) {
    return {500, ErrorBody(std::string("unexpected error: ") + e.what())};
  }
}

bool HostAllowed(std::string_view host, int port) {
  const std::string suffix = ":" + std::to_string(port);
  if (host.size() <= suffix.size() || host.substr(host.size() - suffix.size()) != suffix) {
    return false;
  }
  const std::string name(host.substr(0, host.size() - suffix.size()));
  return name == "localhost" || panel_os::IsNumericAddress(name);
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
