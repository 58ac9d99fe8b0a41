// Waveforms: samples from a file or a generator, checked against the range, loaded or previewed.
#include <algorithm>
#include <cmath>
#include <fstream>
#include <istream>
#include <numbers>
#include <sstream>

#include "commands.h"
#include "values.h"
#include "wave.h"

namespace korvelan380::tool {
namespace {

// Generators stop here: far past the limit, short of exhausting memory.
constexpr uint32_t kMostGenerated = 16 * kSampleLimit;
constexpr int kPreviewWidth = 64;
constexpr int kPreviewHeight = 8;

std::vector<std::string> SplitCells(const std::string& line) {
  std::vector<std::string> cells;
  std::string cell;
  for (char c : line) {
    if (c == ',' || c == ';' || c == '\t') {
      cells.push_back(cell);
      cell.clear();
    } else if (c != ' ' && c != '\r' && c != '"') {
      cell.push_back(c);
    }
  }
  cells.push_back(cell);
  return cells;
}

std::optional<double> ParseSample(const std::string& cell, Units units, std::string* error) {
  if (units == Units::kVolts) {
    const auto v = ParseVolts(cell);
    if (!v) *error = v.error;
    return v ? std::optional<double>(*v) : std::nullopt;
  }
  const auto v = ParseUnsigned(cell, units == Units::kRaw ? kMaxRaw : 0xFFFF,
                               units == Units::kRaw ? "raw value" : "code");
  if (!v) *error = v.error;
  return v ? std::optional<double>(*v) : std::nullopt;
}

}  // namespace

std::vector<double> ReadSamples(std::istream& in, const std::string& source,
                                const std::string& column, Units units) {
  std::vector<double> samples;
  std::optional<size_t> index;
  const bool byName = !column.empty() && !std::all_of(column.begin(), column.end(),
                                                      [](char c) { return c >= '0' && c <= '9'; });
  if (!column.empty() && !byName) {
    if (column.size() > 6) throw UsageError("no file has column " + column);
    index = std::stoul(column);
    if (*index == 0) throw UsageError("columns are counted from 1");
    --*index;
  }
  std::string line;
  size_t lineNumber = 0;
  bool first = true;
  while (std::getline(in, line)) {
    ++lineNumber;
    const size_t start = line.find_first_not_of(" \t\r");
    if (start == std::string::npos || line[start] == '#') continue;
    const std::vector<std::string> cells = SplitCells(line);
    if (byName && first) {
      const auto it = std::find(cells.begin(), cells.end(), column);
      if (it == cells.end()) {
        throw UsageError(source + ": the first line names no column '" + column + "'");
      }
      index = static_cast<size_t>(it - cells.begin());
      first = false;
      continue;
    }
    const size_t at = index.value_or(0);
    if (!index && cells.size() > 1) {
      throw UsageError(source + " line " + std::to_string(lineNumber) +
                       " holds several values: pick one with --column N or NAME");
    }
    if (at >= cells.size()) {
      throw UsageError(source + " line " + std::to_string(lineNumber) + " has no column " +
                       std::to_string(at + 1));
    }
    std::string error;
    const auto value = ParseSample(cells[at], units, &error);
    if (!value) {
      // A first line of names is a header, when a column is picked.
      if (first && index) {
        first = false;
        continue;
      }
      throw UsageError(source + " line " + std::to_string(lineNumber) + ": " + error);
    }
    first = false;
    samples.push_back(*value);
  }
  if (in.bad()) throw UsageError(source + " could not be read");
  return samples;
}

double Shape(const std::string& shape, double phase) {
  if (shape == "sine") return std::sin(2 * std::numbers::pi * phase);
  if (shape == "square") return phase < 0.5 ? 1.0 : -1.0;
  if (shape == "triangle") {
    if (phase < 0.25) return 4 * phase;
    if (phase < 0.75) return 2 - 4 * phase;
    return 4 * phase - 4;
  }
  return 2 * phase - 1;  // saw, rising
}

namespace {

std::vector<std::string> Preview(const std::vector<uint32_t>& values, uint32_t full,
                                 const std::string& topLabel, const std::string& bottomLabel) {
  const size_t columns = std::min<size_t>(kPreviewWidth, values.size());
  std::vector<std::string> rows(kPreviewHeight, std::string(columns, ' '));
  for (size_t c = 0; c < columns; ++c) {
    const size_t begin = c * values.size() / columns;
    const size_t end = std::max(begin + 1, (c + 1) * values.size() / columns);
    const auto [lo, hi] = std::minmax_element(values.begin() + begin, values.begin() + end);
    auto row = [&](uint32_t v) {
      return kPreviewHeight - 1 - static_cast<int>(uint64_t{v} * kPreviewHeight / (full + 1));
    };
    for (int y = row(*hi); y <= row(*lo); ++y) rows[y][c] = '#';
  }
  const size_t labelWidth = std::max(topLabel.size(), bottomLabel.size());
  std::vector<std::string> out;
  for (int y = 0; y < kPreviewHeight; ++y) {
    std::string label = y == 0 ? topLabel : y == kPreviewHeight - 1 ? bottomLabel : "";
    out.push_back(std::string(labelWidth - label.size(), ' ') + label + " |" + rows[y]);
  }
  return out;
}

}  // namespace

void WaveCommand(Session& s, Report& r, const WaveArgs& a, std::istream& stdinStream) {
  const uint8_t channel = ParseChannel(a.channel, 1);
  const Units units = a.codes ? Units::kCodes : a.raw ? Units::kRaw : Units::kVolts;
  if (a.raw && a.codes) throw UsageError("--raw and --codes: pick one");
  if (a.shape.empty() == a.file.empty()) {
    throw UsageError(
        "give a FILE (or - for standard input) or one generator: --sine, --square, "
        "--triangle or --saw");
  }
  if (!a.shape.empty() && units != Units::kVolts) {
    throw UsageError("the generators make volts: --raw and --codes take their values from a file");
  }
  const uint8_t rangeIndex = ReadRange(s, channel);
  const Range* range = RangeOf(rangeIndex);
  if (range == nullptr && units != Units::kCodes) {
    throw ToolError("channel " + std::to_string(channel) + "'s range register reads " +
                        std::to_string(rangeIndex) + ", which is no output range",
                    kExitFailed);
  }

  std::vector<double> samples;
  std::string source;
  if (!a.shape.empty()) {
    if (a.samples == 0 || a.samples > kMostGenerated) {
      throw UsageError("--samples is 1 to " + std::to_string(kMostGenerated) +
                       " (the module takes at most " + std::to_string(kSampleLimit) + ")");
    }
    const double amplitude = a.amplitude.value_or(range->span / 2 * 0.9);
    const double offset = a.offset.value_or(range->bottom + range->span / 2);
    samples.resize(a.samples);
    for (uint32_t i = 0; i < a.samples; ++i) {
      const double phase = std::fmod(a.cycles * i / a.samples, 1.0);
      samples[i] = offset + amplitude * Shape(a.shape, phase);
    }
    source = a.shape;
  } else if (a.file == "-") {
    source = "standard input";
    samples = ReadSamples(stdinStream, source, a.column, units);
  } else {
    std::ifstream file(a.file);
    if (!file) throw UsageError("cannot open " + a.file);
    source = a.file;
    samples = ReadSamples(file, source, a.column, units);
  }
  if (samples.empty()) throw UsageError(source + " holds no samples");

  // The values as they go to the library: raw values, or codes.
  std::vector<uint16_t> load(samples.size());
  size_t clipped = 0;
  for (size_t i = 0; i < samples.size(); ++i) {
    if (units == Units::kVolts) {
      if (!(samples[i] >= range->bottom && samples[i] <= range->Top())) ++clipped;
      load[i] = ClippedRaw(samples[i], *range);
    } else {
      load[i] = static_cast<uint16_t>(samples[i]);
    }
  }
  const auto [lo, hi] = std::minmax_element(load.begin(), load.end());
  const bool tooMany = load.size() > kSampleLimit;

  r.json = {{"channel", channel},
            {"range", RangeJson(rangeIndex)},
            {"source", source},
            {"units", units == Units::kVolts ? "volts"
                      : units == Units::kRaw ? "raw"
                                             : "codes"},
            {"samples", load.size()},
            {"limit", kSampleLimit},
            {"clipped", clipped}};
  if (units == Units::kCodes) {
    r.json["min_code"] = *lo;
    r.json["max_code"] = *hi;
    r.json["step_codes"] = 4;  // the stream carries a code with its lowest two bits cleared
  } else {
    r.json["min_volts"] = VoltsFromRaw(*lo, *range);
    r.json["max_volts"] = VoltsFromRaw(*hi, *range);
    r.json["step_volts"] = range->Step();
  }

  const std::string loadCall =
      units == Units::kCodes ? "KORVELAN380_Fifo_ImgSet" : "KORVELAN380_WavImgSet";
  r.json["load"] = loadCall;
  r.Line(std::to_string(load.size()) + " samples from " + source + " for channel " +
         std::to_string(channel) + " (limit " + std::to_string(kSampleLimit) + ")" +
         (tooMany ? ": too many" : ""));
  if (units == Units::kCodes) {
    r.Line("codes " + Hex(*lo, 4) + " to " + Hex(*hi, 4) +
           ", uncalibrated; each travels with its lowest two bits cleared (steps of 4)");
  } else {
    r.Line(FormatVolts(VoltsFromRaw(*lo, *range)) + " to " +
           FormatVolts(VoltsFromRaw(*hi, *range)) + " in range " + range->name + ", steps of " +
           FormatVolts(range->Step()));
    if (clipped > 0) {
      r.Line(std::to_string(clipped) + " samples lie outside the range's limits " +
             FormatVolts(range->bottom) + " to " + FormatVolts(range->Top()));
    }
  }

  if (a.dryRun) {
    const bool codes = units == Units::kCodes;
    std::vector<uint32_t> values(load.begin(), load.end());
    const std::vector<std::string> preview =
        codes ? Preview(values, 0xFFFF, "0xFFFF", "0x0000")
              : Preview(values, kMaxRaw, FormatVolts(range->Top()), FormatVolts(range->bottom));
    r.json["dry_run"] = true;
    r.json["loaded"] = false;
    r.json["preview"] = preview;
    for (const std::string& line : preview) r.Line("  " + line);
    r.Line("dry run: nothing loaded");
    return;
  }
  if (tooMany) {
    throw UsageError(std::to_string(load.size()) +
                     " samples are too many: the module takes at "
                     "most " +
                     std::to_string(kSampleLimit));
  }
  if (clipped > 0 && !a.clip) {
    ToolError error(std::to_string(clipped) + " of " + std::to_string(load.size()) +
                        " samples lie outside the range " + range->name + ": its limits are " +
                        FormatVolts(range->bottom) + " to " + FormatVolts(range->Top()),
                    kExitUsage);
    error.hint = "--clip holds them at the limits; --dry-run shows the waveform";
    throw error;
  }
  const auto count = static_cast<int32_t>(load.size());
  if (units == Units::kCodes) {
    s.Check("KORVELAN380_Fifo_ImgSet",
            KORVELAN380_Fifo_ImgSet(s.id(), channel, load.data(), count));
  } else {
    s.Check("KORVELAN380_WavImgSet", KORVELAN380_WavImgSet(s.id(), channel, load.data(), count));
  }
  r.json["dry_run"] = false;
  r.json["loaded"] = true;
  r.Line(std::string("loaded with ") + loadCall +
         (clipped > 0 ? " (" + std::to_string(clipped) + " samples held at the limits)" : ""));
}

}  // namespace korvelan380::tool
