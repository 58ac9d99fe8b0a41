#include "actions/calibration.h"

#include <bit>
#include <cmath>
#include <cstdio>

#include "calibration_rules.h"
#include "core/values.h"

namespace korvelan380::tool {
namespace {

constexpr const char* kFormat = "korvelan380 calibration";
constexpr int kVersion = 1;
constexpr size_t kEntries = kCalibrationEntries;

// The gain and offset that make the conversion of an entry the identity.
float IdealGain(size_t entry) {
  return static_cast<float>(kRanges[entry % kRangesPerChannel].span / kStepsPerSpan);
}
uint16_t IdealOffset(size_t entry) {
  return entry % kRangesPerChannel < 4 ? 0x2000 : 0;
}

// The decimal gain for JSON: null where JSON has no number (NaN, infinities).
ordered_json GainNumber(float gain) {
  return std::isfinite(gain) ? ordered_json(static_cast<double>(gain)) : ordered_json(nullptr);
}

ToolError DocumentError(const std::string& name, const std::string& why) {
  return UsageError(name + ": " + why);
}

uint32_t GainBits(const std::string& name, size_t e, const nlohmann::json& entry) {
  const std::string where = "entry " + std::to_string(e);
  const nlohmann::json* bits = entry.contains("gain_bits") ? &entry["gain_bits"] : nullptr;
  const nlohmann::json* number = entry.contains("gain") ? &entry["gain"] : nullptr;
  if (bits != nullptr) {
    const auto parsed = bits->is_string() ? ParseUnsigned(bits->get<std::string>(), 0xFFFFFFFF, "")
                                          : Parsed<uint32_t>::Fail("");
    const std::string text = bits->is_string() ? bits->get<std::string>() : bits->dump();
    if (!parsed || text.size() != 10 || text.compare(0, 2, "0x") != 0) {
      throw DocumentError(
          name, where + ": gain_bits " + text + " is not a 32-bit pattern such as \"0x3AA00000\"");
    }
    const float gain = std::bit_cast<float>(*parsed);
    if (number != nullptr && number->is_number() &&
        !(static_cast<float>(number->get<double>()) == gain)) {
      throw DocumentError(
          name, where + ": gain " + number->dump() + " and gain_bits " + text + " disagree");
    }
    return *parsed;
  }
  if (number != nullptr && number->is_number()) {
    return std::bit_cast<uint32_t>(static_cast<float>(number->get<double>()));
  }
  throw DocumentError(name, where + " has no gain (a number, or gain_bits)");
}

void CheckHeader(const nlohmann::json& doc, const std::string& name) {
  if (!doc.is_object() || !doc.contains("format") || doc["format"] != kFormat) {
    throw DocumentError(name,
                        std::string("is not a calibration file (\"format\": \"") + kFormat + "\")");
  }
  if (!doc.contains("version") || doc["version"] != kVersion) {
    throw DocumentError(name, "is not a version 1 calibration file");
  }
  if (!doc.contains("entries") || !doc["entries"].is_array() || doc["entries"].size() != kEntries) {
    throw DocumentError(name, "needs \"entries\": a list of all 14 gains and offsets");
  }
}

}  // namespace

std::string GainText(float gain) {
  char text[32];
  std::snprintf(text, sizeof text, "%.9g", static_cast<double>(gain));
  return text;
}

Calibration ReadCalibration(Session& s) {
  Calibration c;
  s.Check("KORVELAN380_Calib_Val_Get", KORVELAN380_Calib_Val_Get(s.id(), &c.offsets, &c.gains));
  return c;
}

bool IsIdeal(const Calibration& c, size_t e) {
  return std::bit_cast<uint32_t>(c.gains.gain[e]) == std::bit_cast<uint32_t>(IdealGain(e)) &&
         c.offsets.offset[e] == IdealOffset(e);
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

ordered_json CalibrationDocument(Session& s, const Calibration& c) {
  ordered_json doc = {{"format", kFormat},
                      {"version", kVersion},
                      {"device", s.options().device},
                      {"entries", EntriesJson(c)}};
  // Whether an entry is ideal follows from its values: a document does not say it twice.
  for (auto& entry : doc["entries"]) entry.erase("ideal");
  return doc;
}

Calibration ParseCalibration(const nlohmann::json& doc, const std::string& name) {
  CheckHeader(doc, name);
  Calibration c;
  bool seen[kEntries] = {};
  for (const nlohmann::json& entry : doc["entries"]) {
    if (!entry.is_object() || !entry.contains("entry") || !entry["entry"].is_number_unsigned() ||
        entry["entry"].get<uint64_t>() >= kEntries) {
      throw DocumentError(name, "each entry needs \"entry\": 0 to 13");
    }
    const auto e = entry["entry"].get<size_t>();
    if (seen[e]) throw DocumentError(name, "entry " + std::to_string(e) + " comes twice");
    seen[e] = true;
    c.gains.gain[e] = std::bit_cast<float>(GainBits(name, e, entry));
    if (!entry.contains("offset") || !entry["offset"].is_number_unsigned() ||
        entry["offset"].get<uint64_t>() > 0xFFFF) {
      throw DocumentError(name,
                          "entry " + std::to_string(e) + ": offset is a whole number 0 to 65535");
    }
    c.offsets.offset[e] = entry["offset"].get<uint16_t>();
  }
  return c;
}

void CheckCalibration(const Calibration& c) {
  for (size_t e = 0; e < kEntries; ++e) {
    const std::string where = "entry " + std::to_string(e) + " (channel " +
                              std::to_string(e / kRangesPerChannel) + ", " +
                              kRanges[e % kRangesPerChannel].name + ")";
    const double ideal = IdealGain(e);
    if (!rules::GainPlausible(c.gains.gain[e], ideal)) {
      throw UsageError(where + ": gain " + GainText(c.gains.gain[e]) + " is not between " +
                       GainText(static_cast<float>(ideal / 2)) + " and " +
                       GainText(static_cast<float>(ideal * 2)) +
                       " V per code (within a factor of 2 of the ideal " + GainText(IdealGain(e)) +
                       ")");
    }
    if (!rules::OffsetPlausible(c.offsets.offset[e])) {
      throw UsageError(where + ": offset " + std::to_string(c.offsets.offset[e]) +
                       " is not a code 0 to 16383 (0x3FFF)");
    }
  }
}

Calibration ImportCalibration(Session& s, const CalibrationImport& import) {
  if (!import.force) CheckCalibration(import.calibration);
  Calibration copy = import.calibration;
  s.Check("KORVELAN380_Calib_Val_Set",
          KORVELAN380_Calib_Val_Set(s.id(), &copy.offsets, &copy.gains, import.save ? 1 : 0));
  return ReadCalibration(s);
}

bool NeverCalibrated(const Calibration& c) {
  bool blank = true;
  bool ideal = true;
  for (size_t e = 0; e < kEntries; ++e) {
    blank = blank && c.gains.gain[e] == 0.0f;
    ideal = ideal && IsIdeal(c, e);
  }
  return blank || ideal;
}

std::string AdjustCommand(const std::string& device) {
  return "korvelan380 -d " + device + " calib adjust";
}

ordered_json CalibrationSummary(const Calibration& c) {
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

}  // namespace korvelan380::tool
