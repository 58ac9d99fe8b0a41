// The calibration: the 14 gains and offsets, shown, exported to JSON and imported from it.
// Gains travel as their 32-bit patterns beside the decimal value, so that NaN payloads and -0.0
// come back bit for bit.
#include <CLI/CLI.hpp>
#include <bit>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>

#include "commands.h"
#include "values.h"

namespace korvelan380::tool {
namespace {

constexpr const char* kFormat = "korvelan380 calibration";
constexpr int kVersion = 1;
constexpr size_t kEntries = KORVELAN380_CALIBRATION_ENTRIES;
constexpr size_t kRangesPerChannel = 7;

struct Calibration {
  CalibrationOffsets offsets{};
  CalibrationGains gains{};
};

Calibration Get(Session& s) {
  Calibration c;
  s.Check("KORVELAN380_Calib_Val_Get", KORVELAN380_Calib_Val_Get(s.id(), &c.offsets, &c.gains));
  return c;
}

// The gain and offset that make the conversion of an entry the identity.
float IdealGain(size_t entry) {
  return static_cast<float>(kRanges[entry % kRangesPerChannel].span / kStepsPerSpan);
}
uint16_t IdealOffset(size_t entry) {
  return entry % kRangesPerChannel < 4 ? 0x2000 : 0;
}

bool IsIdeal(const Calibration& c, size_t e) {
  return std::bit_cast<uint32_t>(c.gains.gain[e]) == std::bit_cast<uint32_t>(IdealGain(e)) &&
         c.offsets.offset[e] == IdealOffset(e);
}

std::string GainText(float gain) {
  char text[32];
  std::snprintf(text, sizeof text, "%.9g", static_cast<double>(gain));
  return text;
}

// The decimal gain for JSON: null where JSON has no number (NaN, infinities).
ordered_json GainNumber(float gain) {
  return std::isfinite(gain) ? ordered_json(static_cast<double>(gain)) : ordered_json(nullptr);
}

ordered_json EntriesJson(const Calibration& c) {
  ordered_json entries = ordered_json::array();
  for (size_t e = 0; e < kEntries; ++e) {
    entries.push_back({{"entry", e},
                       {"channel", e / kRangesPerChannel},
                       {"range", kRanges[e % kRangesPerChannel].name},
                       {"gain", GainNumber(c.gains.gain[e])},
                       {"gain_bits", Hex(std::bit_cast<uint32_t>(c.gains.gain[e]), 8)},
                       {"offset", c.offsets.offset[e]},
                       {"ideal", IsIdeal(c, e)}});
  }
  return entries;
}

ToolError FileError(const std::string& path, const std::string& why) {
  ToolError error(path + ": " + why, kExitUsage);
  error.hint =
      "nothing was changed; 'korvelan380 calib export FILE.json' writes a file to start from";
  return error;
}

uint32_t GainBits(const std::string& path, size_t e, const nlohmann::json& entry) {
  const std::string where = "entry " + std::to_string(e);
  const nlohmann::json* bits = entry.contains("gain_bits") ? &entry["gain_bits"] : nullptr;
  const nlohmann::json* number = entry.contains("gain") ? &entry["gain"] : nullptr;
  if (bits != nullptr) {
    const auto parsed = bits->is_string() ? ParseUnsigned(bits->get<std::string>(), 0xFFFFFFFF, "")
                                          : Parsed<uint32_t>::Fail("");
    const std::string text = bits->is_string() ? bits->get<std::string>() : bits->dump();
    if (!parsed || text.size() != 10 || text.compare(0, 2, "0x") != 0) {
      throw FileError(
          path, where + ": gain_bits " + text + " is not a 32-bit pattern such as \"0x3AA00000\"");
    }
    const float gain = std::bit_cast<float>(*parsed);
    if (number != nullptr && number->is_number() &&
        !(static_cast<float>(number->get<double>()) == gain)) {
      throw FileError(path,
                      where + ": gain " + number->dump() + " and gain_bits " + text + " disagree");
    }
    return *parsed;
  }
  if (number != nullptr && number->is_number()) {
    return std::bit_cast<uint32_t>(static_cast<float>(number->get<double>()));
  }
  throw FileError(path, where + " has no gain (a number, or gain_bits)");
}

Calibration ReadFile(const std::string& path) {
  std::ifstream file(path);
  if (!file) throw FileError(path, "cannot be opened");
  std::stringstream content;
  content << file.rdbuf();
  const nlohmann::json doc = nlohmann::json::parse(content.str(), nullptr, false);
  if (doc.is_discarded()) throw FileError(path, "is not valid JSON");
  if (!doc.is_object() || !doc.contains("format") || doc["format"] != kFormat) {
    throw FileError(path,
                    std::string("is not a calibration file (\"format\": \"") + kFormat + "\")");
  }
  if (!doc.contains("version") || doc["version"] != kVersion) {
    throw FileError(path, "is not a version 1 calibration file");
  }
  if (!doc.contains("entries") || !doc["entries"].is_array() || doc["entries"].size() != kEntries) {
    throw FileError(path, "needs \"entries\": a list of all 14 gains and offsets");
  }
  Calibration c;
  bool seen[kEntries] = {};
  for (const nlohmann::json& entry : doc["entries"]) {
    if (!entry.is_object() || !entry.contains("entry") || !entry["entry"].is_number_unsigned() ||
        entry["entry"].get<uint64_t>() >= kEntries) {
      throw FileError(path, "each entry needs \"entry\": 0 to 13");
    }
    const auto e = entry["entry"].get<size_t>();
    if (seen[e]) throw FileError(path, "entry " + std::to_string(e) + " comes twice");
    seen[e] = true;
    c.gains.gain[e] = std::bit_cast<float>(GainBits(path, e, entry));
    if (!entry.contains("offset") || !entry["offset"].is_number_unsigned() ||
        entry["offset"].get<uint64_t>() > 0xFFFF) {
      throw FileError(path, "entry " + std::to_string(e) + ": offset is a whole number 0 to 65535");
    }
    c.offsets.offset[e] = entry["offset"].get<uint16_t>();
  }
  return c;
}

std::string TableText(const Calibration& c) {
  std::string text = "entry  channel  range          gain             gain bits    offset\n";
  for (size_t e = 0; e < kEntries; ++e) {
    char line[160];
    std::snprintf(line, sizeof line, "%5zu  %7zu  %-13s  %-15s  %s  %6u (%s)%s\n", e,
                  e / kRangesPerChannel, kRanges[e % kRangesPerChannel].name,
                  GainText(c.gains.gain[e]).c_str(),
                  Hex(std::bit_cast<uint32_t>(c.gains.gain[e]), 8).c_str(), c.offsets.offset[e],
                  Hex(c.offsets.offset[e], 4).c_str(), IsIdeal(c, e) ? "  ideal" : "");
    text += line;
  }
  return text;
}

}  // namespace

void CalibShow(Session& s, Report& r) {
  const Calibration c = Get(s);
  r.json = {{"device", s.options().device}, {"entries", EntriesJson(c)}};
  r.text = TableText(c);
}

void CalibExport(Session& s, Report& r, const std::string& path) {
  const Calibration c = Get(s);
  ordered_json doc = {{"format", kFormat},
                      {"version", kVersion},
                      {"device", s.options().device},
                      {"entries", EntriesJson(c)}};
  for (auto& entry : doc["entries"]) entry.erase("ideal");
  std::ofstream file(path, std::ios::trunc);
  file << doc.dump(2) << "\n";
  if (!file.flush()) throw UsageError("cannot write " + path);
  r.json = {{"exported", path}, {"entries", kEntries}};
  r.Line("calibration of module " + s.options().device + " (14 entries) written to " + path);
}

void CalibImport(Session& s, Report& r, const std::string& path, bool save) {
  const Calibration c = ReadFile(path);
  Calibration copy = c;
  s.Check("KORVELAN380_Calib_Val_Set",
          KORVELAN380_Calib_Val_Set(s.id(), &copy.offsets, &copy.gains, save ? 1 : 0));
  const Calibration now = Get(s);
  r.json = {{"imported", path}, {"saved", save}, {"entries", EntriesJson(now)}};
  r.Line("calibration from " + path + " set on module " + s.options().device);
  if (save) {
    r.Line("and stored in its EEPROM (when it differs from what was stored)");
  } else {
    r.Line("for this session only: add --save to store it in the module's EEPROM");
  }
  r.text += TableText(now);
}

ordered_json CalibrationSummary(Session& s) {
  const Calibration c = Get(s);
  size_t ideal = 0;
  size_t zero = 0;
  for (size_t e = 0; e < kEntries; ++e) {
    ideal += IsIdeal(c, e);
    zero += std::bit_cast<uint32_t>(c.gains.gain[e]) == 0 && c.offsets.offset[e] == 0;
  }
  std::string summary;
  if (ideal == kEntries) {
    summary = "ideal: every raw value is its own code";
  } else if (zero == kEntries) {
    summary = "empty (all gains and offsets 0): every calibrated code is 0";
  } else {
    summary = std::to_string(kEntries - ideal) + " of 14 entries differ from ideal";
  }
  return {{"summary", summary}, {"ideal_entries", ideal}, {"entries", kEntries}};
}

void RegisterCalib(CommandSet& set) {
  Command& calib =
      set.Add("calib", "the calibration: show, export to JSON, import from JSON",
              {"korvelan380 --sim calib show", "korvelan380 --sim calib export cal.json",
               "korvelan380 --sim calib import cal.json --save",
               "Gains are written with their 32-bit patterns: export then import is bit-exact."});
  calib.app->require_subcommand(1);
  auto path = std::make_shared<std::string>();
  auto save = std::make_shared<bool>(false);
  Command& show =
      set.Add("show", "all 14 gains and offsets", {"korvelan380 --sim calib show --json"}, &calib);
  show.run = CalibShow;
  Command& exp = set.Add("export", "write the calibration to a JSON file",
                         {"korvelan380 --sim calib export cal.json"}, &calib);
  exp.app->add_option("FILE", *path, "the JSON file")->required();
  exp.run = [path](Session& s, Report& r) { CalibExport(s, r, *path); };
  Command& imp =
      set.Add("import", "set the calibration from a JSON file (this session only, unless --save)",
              {"korvelan380 --sim calib import cal.json --save"}, &calib);
  imp.app->add_option("FILE", *path, "the JSON file")->required();
  imp.app->add_flag("--save", *save, "also store it in the module's EEPROM");
  imp.run = [path, save](Session& s, Report& r) { CalibImport(s, r, *path, *save); };
}

}  // namespace korvelan380::tool
