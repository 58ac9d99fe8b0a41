// Waveforms: samples read from a file or generated, converted for the channel's range, described,
// and loaded or previewed.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cmath>
#include <fstream>
#include <istream>
#include <memory>
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

// A waveform on its way to a channel.
struct Waveform {
  uint8_t channel = 0;
  uint8_t rangeIndex = 0;
  const Range* range = nullptr;  // null only for codes, which do not depend on it
  Units units = Units::kVolts;
  std::string source;
  std::vector<uint16_t> values;  // as they go to the library: raw values, or codes
  size_t clipped = 0;            // volts outside the range, held at its limits
};

// The samples as given: read from the file or standard input, or generated.
std::vector<double> Samples(const WaveArgs& a, Waveform& w, std::istream& stdinStream) {
  std::vector<double> samples;
  if (!a.shape.empty()) {
    if (a.samples == 0 || a.samples > kMostGenerated) {
      throw UsageError("--samples is 1 to " + std::to_string(kMostGenerated) +
                       " (the module takes at most " + std::to_string(kSampleLimit) + ")");
    }
    const double amplitude = a.amplitude.value_or(w.range->span / 2 * 0.9);
    const double offset = a.offset.value_or(w.range->bottom + w.range->span / 2);
    samples.resize(a.samples);
    for (uint32_t i = 0; i < a.samples; ++i) {
      const double phase = std::fmod(a.cycles * i / a.samples, 1.0);
      samples[i] = offset + amplitude * Shape(a.shape, phase);
    }
    w.source = a.shape;
  } else if (a.file == "-") {
    w.source = "standard input";
    samples = ReadSamples(stdinStream, w.source, a.column, w.units);
  } else {
    std::ifstream file(a.file);
    if (!file) throw UsageError("cannot open " + a.file);
    w.source = a.file;
    samples = ReadSamples(file, w.source, a.column, w.units);
  }
  if (samples.empty()) throw UsageError(w.source + " holds no samples");
  return samples;
}

// Volts become the raw values of the range, those outside it held at its limits.
void Convert(const std::vector<double>& samples, Waveform& w) {
  w.values.resize(samples.size());
  for (size_t i = 0; i < samples.size(); ++i) {
    if (w.units == Units::kVolts) {
      if (!(samples[i] >= w.range->bottom && samples[i] <= w.range->Top())) ++w.clipped;
      w.values[i] = ClippedRaw(samples[i], *w.range);
    } else {
      w.values[i] = static_cast<uint16_t>(samples[i]);
    }
  }
}

const char* LoadCall(const Waveform& w) {
  return w.units == Units::kCodes ? "KORVELAN380_Fifo_ImgSet" : "KORVELAN380_WavImgSet";
}

void Describe(const Waveform& w, Report& r) {
  const auto [lo, hi] = std::minmax_element(w.values.begin(), w.values.end());
  r.json = {{"channel", w.channel},
            {"range", RangeJson(w.rangeIndex)},
            {"source", w.source},
            {"units", w.units == Units::kVolts ? "volts"
                      : w.units == Units::kRaw ? "raw"
                                               : "codes"},
            {"samples", w.values.size()},
            {"limit", kSampleLimit},
            {"clipped", w.clipped}};
  if (w.units == Units::kCodes) {
    r.json["min_code"] = *lo;
    r.json["max_code"] = *hi;
    r.json["step_codes"] = 4;  // the stream carries a code with its lowest two bits cleared
  } else {
    r.json["min_volts"] = VoltsFromRaw(*lo, *w.range);
    r.json["max_volts"] = VoltsFromRaw(*hi, *w.range);
    r.json["step_volts"] = w.range->Step();
  }
  r.json["load"] = LoadCall(w);
  r.Line(std::to_string(w.values.size()) + " samples from " + w.source + " for channel " +
         std::to_string(w.channel) + " (limit " + std::to_string(kSampleLimit) + ")" +
         (w.values.size() > kSampleLimit ? ": too many" : ""));
  if (w.units == Units::kCodes) {
    r.Line("codes " + Hex(*lo, 4) + " to " + Hex(*hi, 4) +
           ", uncalibrated; each travels with its lowest two bits cleared (steps of 4)");
    return;
  }
  r.Line(FormatVolts(VoltsFromRaw(*lo, *w.range)) + " to " +
         FormatVolts(VoltsFromRaw(*hi, *w.range)) + " in range " + w.range->name + ", steps of " +
         FormatVolts(w.range->Step()));
  if (w.clipped > 0) {
    r.Line(std::to_string(w.clipped) + " samples lie outside the range's limits " +
           FormatVolts(w.range->bottom) + " to " + FormatVolts(w.range->Top()));
  }
}

void DryRun(const Waveform& w, Report& r) {
  const std::vector<uint32_t> values(w.values.begin(), w.values.end());
  const std::vector<std::string> preview =
      w.units == Units::kCodes
          ? Preview(values, 0xFFFF, "0xFFFF", "0x0000")
          : Preview(values, kMaxRaw, FormatVolts(w.range->Top()), FormatVolts(w.range->bottom));
  r.json["dry_run"] = true;
  r.json["loaded"] = false;
  r.json["preview"] = preview;
  for (const std::string& line : preview) r.Line("  " + line);
  r.Line("dry run: nothing loaded");
}

void Load(Session& s, const Waveform& w, bool clip, Report& r) {
  if (w.values.size() > kSampleLimit) {
    throw UsageError(std::to_string(w.values.size()) +
                     " samples are too many: the module takes at most " +
                     std::to_string(kSampleLimit));
  }
  if (w.clipped > 0 && !clip) {
    ToolError error(std::to_string(w.clipped) + " of " + std::to_string(w.values.size()) +
                        " samples lie outside the range " + w.range->name + ": its limits are " +
                        FormatVolts(w.range->bottom) + " to " + FormatVolts(w.range->Top()),
                    kExitUsage);
    error.hint = "--clip holds them at the limits; --dry-run shows the waveform";
    throw error;
  }
  const auto count = static_cast<int32_t>(w.values.size());
  s.Check(LoadCall(w), w.units == Units::kCodes
                           ? KORVELAN380_Fifo_ImgSet(s.id(), w.channel, w.values.data(), count)
                           : KORVELAN380_WavImgSet(s.id(), w.channel, w.values.data(), count));
  r.json["dry_run"] = false;
  r.json["loaded"] = true;
  r.Line(std::string("loaded with ") + LoadCall(w) +
         (w.clipped > 0 ? " (" + std::to_string(w.clipped) + " samples held at the limits)" : ""));
}

}  // namespace

void WaveCommand(Session& s, Report& r, const WaveArgs& a, std::istream& stdinStream) {
  Waveform w;
  w.channel = ParseChannel(a.channel, 1);
  w.units = a.codes ? Units::kCodes : a.raw ? Units::kRaw : Units::kVolts;
  if (a.raw && a.codes) throw UsageError("--raw and --codes: pick one");
  if (a.shape.empty() == a.file.empty()) {
    throw UsageError(
        "give a FILE (or - for standard input) or one generator: --sine, --square, "
        "--triangle or --saw");
  }
  if (!a.shape.empty() && w.units != Units::kVolts) {
    throw UsageError("the generators make volts: --raw and --codes take their values from a file");
  }
  w.rangeIndex = ReadRange(s, w.channel);
  w.range = RangeOf(w.rangeIndex);
  if (w.range == nullptr && w.units != Units::kCodes) {
    throw ToolError("channel " + std::to_string(w.channel) + "'s range register reads " +
                        std::to_string(w.rangeIndex) + ", which is no output range",
                    kExitFailed);
  }
  Convert(Samples(a, w, stdinStream), w);
  Describe(w, r);
  if (a.dryRun) return DryRun(w, r);
  Load(s, w, a.clip, r);
}

void RegisterWave(CommandSet& set) {
  auto a = std::make_shared<WaveArgs>();
  Command& c = set.Add("wave", "load a waveform into a channel's memory (or its FIFO with --codes)",
                       {"korvelan380 --sim wave 0 samples.txt        (one value a line, volts)",
                        "korvelan380 --sim wave 1 scope.csv --column 2",
                        "korvelan380 --sim wave 1 scope.csv --column volts --clip",
                        "seq 0 100 16383 | korvelan380 --sim wave 0 - --raw",
                        "korvelan380 --sim wave 0 --sine --samples 1000 --amplitude 5 --offset 0",
                        "korvelan380 --sim wave 1 --square --samples 64 --dry-run",
                        "korvelan380 --sim wave 0 codes.txt --codes"});
  c.app->add_option("CH", a->channel, "channel 0 or 1")->required();
  c.app->add_option("FILE", a->file, "samples, one a line or CSV; - reads standard input");
  c.app->add_option("--column", a->column, "the CSV column: a number from 1, or a header name");
  c.app->add_flag("--raw", a->raw, "the values are raw values 0 to 16383, not volts");
  c.app->add_flag("--codes", a->codes,
                  "the values are uncalibrated codes 0 to 65535, loaded into the FIFO");
  for (const char* shape : {"sine", "square", "triangle", "saw"}) {
    c.app->add_flag_callback(
        std::string("--") + shape, [a, shape] { a->shape = shape; },
        std::string("generate a ") + shape + " instead of reading a file");
  }
  c.app->add_option("--samples", a->samples, "generated samples (default 1024)");
  c.app->add_option("--cycles", a->cycles, "periods in the generated samples (default 1)");
  c.app->add_option_function<double>(
      "--amplitude", [a](double v) { a->amplitude = v; },
      "peak volts from the offset (default 90% of half the range)");
  c.app->add_option_function<double>(
      "--offset", [a](double v) { a->offset = v; }, "volts at the centre (default mid-range)");
  c.app->add_flag("--dry-run", a->dryRun,
                  "load nothing: count, clipping, step and a preview of the waveform");
  c.app->add_flag("--clip", a->clip, "hold samples outside the range at its limits");
  std::istream& in = set.in();
  c.run = [a, &in](Session& s, Report& r) { WaveCommand(s, r, *a, in); };
}

}  // namespace korvelan380::tool
