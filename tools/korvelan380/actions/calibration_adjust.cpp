#include "actions/calibration_adjust.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "core/values.h"
#include "os/os.h"

namespace korvelan380::tool {
namespace fs = std::filesystem;
namespace {

constexpr uint8_t kPoints = 3;

ordered_json Number(double value) {
  return std::isfinite(value) ? ordered_json(value) : ordered_json(nullptr);
}

ordered_json PointJson(const KORVELAN380_CALIB_ADJUST& a, uint8_t point) {
  const bool taken = a.step > point;
  const bool done = a.step == kPoints;
  return {{"raw", a.rawCodes[point]},
          {"code", a.sentCodes[point]},
          {"expected_volts", Number(a.expectedVolts[point])},
          {"reading_volts", taken ? Number(a.readings[point]) : ordered_json(nullptr)},
          {"error_mv", done ? Number(a.errorMillivolts[point]) : ordered_json(nullptr)},
          {"error_lsb", done ? Number(a.errorLsb[point]) : ordered_json(nullptr)}};
}

ordered_json EntryJson(float gain, uint16_t offset) {
  return {{"gain", Number(gain)},
          {"gain_bits", Hex(std::bit_cast<uint32_t>(gain), 8)},
          {"offset", offset}};
}

// Sets the record and checks it took; `save` also stores it in the EEPROM.
void SetRecord(Session& s, Calibration c, bool save) {
  s.Check("KORVELAN380_Calib_Val_Set",
          KORVELAN380_Calib_Val_Set(s.id(), &c.offsets, &c.gains, save ? 1 : 0));
}

KORVELAN380_CALIB_ADJUST AdjustOne(Session& s, const AdjustPair& pair, const Meter& meter) {
  KORVELAN380_CALIB_ADJUST a = BeginAdjust(s, pair);
  MeterPoint asked{pair, 0, 0.0, ""};
  while (a.step < kPoints) {
    asked.point = a.step;
    asked.expectedVolts = a.expectedVolts[a.step];
    const uint8_t refusal = TakeAdjustReading(s, a, meter(asked));
    asked.refused = refusal == KORVELAN380_ADJUST_ACCEPTED ? "" : RefusalText(refusal, a);
  }
  return a;
}

std::string UtcNow(const char* format) {
  const std::time_t now = std::time(nullptr);
  char text[32];
  std::strftime(text, sizeof text, format, std::gmtime(&now));
  return text;
}

// A name no record has yet: the date first, so that names sort as the records were made.
fs::path NewRecordPath(const fs::path& folder, const std::string& serial) {
  const std::string stem = UtcNow("%Y%m%dT%H%M%SZ") + "-" + serial;
  fs::path path = folder / (stem + ".json");
  for (int n = 2; fs::exists(path); ++n) path = folder / (stem + "-" + std::to_string(n) + ".json");
  return path;
}

}  // namespace

std::vector<AdjustPair> AdjustPairs(std::optional<uint8_t> channel, std::optional<uint8_t> range) {
  std::vector<AdjustPair> pairs;
  for (uint8_t ch = 0; ch < 2; ++ch) {
    for (uint8_t r = 0; r < kRangesPerChannel; ++r) {
      if ((!channel || *channel == ch) && (!range || *range == r)) pairs.push_back({ch, r});
    }
  }
  return pairs;
}

std::string PairText(const AdjustPair& pair) {
  return "channel " + std::to_string(pair.channel) + ", range " + std::to_string(pair.range) +
         " (" + kRanges[pair.range].name + ")";
}

std::string RefusalText(uint8_t refusal, const KORVELAN380_CALIB_ADJUST& a) {
  const Range& range = kRanges[a.rangeIndex];
  switch (refusal) {
    case KORVELAN380_ADJUST_NOT_A_NUMBER:
      return "the reading is not a number";
    case KORVELAN380_ADJUST_OUTSIDE_RANGE:
      return "the reading is outside the range's limits, " + FormatVolts(range.bottom) + " to " +
             FormatVolts(range.Top());
    case KORVELAN380_ADJUST_NO_SLOPE:
      return "the two readings are the same: they give no slope";
    case KORVELAN380_ADJUST_WRONG_SIGN:
      return "the second reading is below the first: the output would fall as the code rises";
    case KORVELAN380_ADJUST_IMPLAUSIBLE:
      return "the two readings give a gain or offset no module has: a gain more than a factor "
             "of 2 from the ideal, or 0 V below code 0 (is the meter on this channel, and set "
             "to volts?)";
  }
  return "refused (" + std::to_string(refusal) + ")";
}

KORVELAN380_CALIB_ADJUST BeginAdjust(Session& s, const AdjustPair& pair) {
  KORVELAN380_CALIB_ADJUST a{};
  s.Check("KORVELAN380_CalibAdjustBegin",
          KORVELAN380_CalibAdjustBegin(s.id(), pair.channel, pair.range, &a));
  return a;
}

uint8_t TakeAdjustReading(Session& s, KORVELAN380_CALIB_ADJUST& a, double volts) {
  const StatusCode status = KORVELAN380_CalibAdjustReading(s.id(), &a, volts);
  if (status == KORVELAN380_INVALID_ARGUMENT && a.refusal != KORVELAN380_ADJUST_ACCEPTED) {
    return a.refusal;
  }
  s.Check("KORVELAN380_CalibAdjustReading", status);
  return KORVELAN380_ADJUST_ACCEPTED;
}

ordered_json AdjustJson(const KORVELAN380_CALIB_ADJUST& a) {
  ordered_json points = ordered_json::array();
  for (uint8_t point = 0; point < kPoints; ++point) points.push_back(PointJson(a, point));
  return {{"channel", a.channel},
          {"range", kRanges[a.rangeIndex % kRangesPerChannel].name},
          {"range_index", a.rangeIndex},
          {"step", a.step},
          {"old", EntryJson(a.oldGain, a.oldOffset)},
          {"new", a.step >= 2 ? EntryJson(a.gain, a.offset) : ordered_json(nullptr)},
          {"points", points}};
}

ordered_json RunAdjust(Session& s, const AdjustRun& run, const Meter& meter,
                       const std::function<void(const ordered_json&)>& done) {
  const Calibration before = ReadCalibration(s);
  ordered_json adjusted = ordered_json::array();
  try {
    for (const AdjustPair& pair : run.pairs) {
      adjusted.push_back(AdjustJson(AdjustOne(s, pair, meter)));
      done(adjusted.back());
    }
  } catch (...) {
    SetRecord(s, before, false);
    throw;
  }
  if (!run.save) {
    SetRecord(s, before, false);
    return {{"adjusted", adjusted}, {"saved", false}, {"history", nullptr}};
  }
  const Calibration after = ReadCalibration(s);
  try {
    SetRecord(s, after, true);
  } catch (...) {
    SetRecord(s, before, false);  // a store that failed is not kept for the session either
    throw;
  }
  return {{"adjusted", adjusted}, {"saved", true}, {"history", WriteHistory(s, after, adjusted)}};
}

std::string HistoryFolder(const Options& options) {
  if (options.sim && !options.simState.empty()) {
    return (fs::path(options.simState).parent_path() / "calibrations").string();
  }
  return (fs::path(os::StateDir()) / "calibrations").string();
}

std::string WriteHistory(Session& s, const Calibration& c, const ordered_json& adjusted) {
  const fs::path folder = HistoryFolder(s.options());
  std::error_code error;
  fs::create_directories(folder, error);
  ordered_json record = CalibrationDocument(s, c);
  record["date"] = UtcNow("%Y-%m-%dT%H:%M:%SZ");
  record["serial"] = s.Serial();
  record["adjusted"] = adjusted;
  const fs::path path = NewRecordPath(folder, s.Serial());
  std::ofstream file(path, std::ios::trunc);
  file << record.dump(2) << "\n";
  if (!file.flush()) {
    ToolError e("the calibration is stored, but its history record could not be written to " +
                    path.string(),
                kExitFailed);
    throw e;
  }
  return path.string();
}

ordered_json ListHistory(const std::string& folder, const std::string& serial) {
  std::vector<fs::path> files;
  std::error_code error;
  for (const auto& item : fs::directory_iterator(folder, error)) {
    if (item.path().extension() == ".json") files.push_back(item.path());
  }
  std::sort(files.begin(), files.end());
  ordered_json records = ordered_json::array();
  for (const fs::path& path : files) {
    std::ifstream file(path);
    std::stringstream content;
    content << file.rdbuf();
    const nlohmann::json doc = nlohmann::json::parse(content.str(), nullptr, false);
    if (!doc.is_object() || !doc.contains("date") || !doc["date"].is_string() ||
        !doc.contains("serial") || !doc["serial"].is_string() || !doc.contains("adjusted") ||
        !doc["adjusted"].is_array()) {
      continue;
    }
    if (!serial.empty() && doc["serial"] != serial) continue;
    records.push_back({{"date", doc["date"]},
                       {"serial", doc["serial"]},
                       {"pairs", doc["adjusted"].size()},
                       {"file", path.string()}});
  }
  return records;
}

}  // namespace korvelan380::tool
