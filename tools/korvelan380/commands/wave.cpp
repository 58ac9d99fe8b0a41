// The wave command: samples read from a file or generated, converted for the channel's range,
// described, and loaded into its memory or FIFO, or previewed.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <fstream>
#include <istream>
#include <memory>

#include "actions/channel.h"
#include "actions/waveform.h"
#include "app/commands.h"
#include "core/samples.h"
#include "core/values.h"

namespace korvelan380::tool {
namespace {

// Generators stop here: far past the limit, short of exhausting memory.
constexpr uint32_t kMostGenerated = 16 * kSampleLimit;
constexpr int kPreviewWidth = 64;
constexpr int kPreviewHeight = 8;

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

// The samples of a file or standard input, read before anything is asked of the module.
std::vector<double> ReadInput(const WaveArgs& a, Units units, std::istream& stdinStream,
                              std::string* source) {
  try {
    if (a.file == "-") {
      *source = "standard input";
      return ReadSamples(stdinStream, *source, a.column, units).values;
    }
    std::ifstream file(a.file);
    if (!file) throw UsageError("cannot open " + a.file);
    *source = a.file;
    return ReadSamples(file, *source, a.column, units).values;
  } catch (const SampleError& e) {
    throw UsageError(e.what());
  }
}

Generator GeneratorOf(const WaveArgs& a) {
  if (a.samples == 0 || a.samples > kMostGenerated) {
    throw UsageError("--samples is 1 to " + std::to_string(kMostGenerated) +
                     " (the module takes at most " + std::to_string(kSampleLimit) + ")");
  }
  return {a.shape, a.samples, a.cycles, a.amplitude, a.offset};
}

void Describe(const Waveform& w, const std::string& source, WaveTarget target, Report& r) {
  const auto [lo, hi] = std::minmax_element(w.values.begin(), w.values.end());
  r.json = {{"channel", w.channel},       {"range", RangeJson(w.rangeIndex)},
            {"source", source},           {"units", UnitsName(w.units)},
            {"samples", w.values.size()}, {"limit", kSampleLimit},
            {"clipped", w.clipped.size()}};
  if (w.units == Units::kCodes) {
    r.json["min_code"] = *lo;
    r.json["max_code"] = *hi;
    r.json["step_codes"] = 4;  // the stream carries a code with its lowest two bits cleared
  } else {
    r.json["min_volts"] = VoltsFromRaw(*lo, *w.range);
    r.json["max_volts"] = VoltsFromRaw(*hi, *w.range);
    r.json["step_volts"] = w.range->Step();
  }
  r.json["load"] = LoadCall(target);
  r.json["calibrated"] = w.units != Units::kCodes;
  r.Line(std::to_string(w.values.size()) + " samples from " + source + " for channel " +
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
  if (!w.clipped.empty()) {
    r.Line(std::to_string(w.clipped.size()) + " samples lie outside the range's limits " +
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

void Load(Session& s, const Waveform& w, WaveTarget target, bool clip, Report& r) {
  LoadWaveform(s, w, target, clip, "--clip holds them at the limits; --dry-run shows the waveform");
  r.json["dry_run"] = false;
  r.json["loaded"] = true;
  const bool calibratedHere = target == WaveTarget::kFifo && w.units != Units::kCodes;
  r.Line(std::string("loaded with ") + LoadCall(target) +
         (calibratedHere ? ", each sample calibrated first" : "") +
         (w.clipped.empty()
              ? ""
              : " (" + std::to_string(w.clipped.size()) + " samples held at the limits)"));
}

Units UnitsOf(const WaveArgs& a) {
  if (a.raw && a.codes) throw UsageError("--raw and --codes: pick one");
  if (a.shape.empty() == a.file.empty()) {
    throw UsageError(
        "give a FILE (or - for standard input) or one generator: --sine, --square, "
        "--triangle or --saw");
  }
  const Units units = a.codes ? Units::kCodes : a.raw ? Units::kRaw : Units::kVolts;
  if (!a.shape.empty() && units != Units::kVolts) {
    throw UsageError("the generators make volts: --raw and --codes take their values from a file");
  }
  return units;
}

}  // namespace

void WaveCommand(Session& s, Report& r, const WaveArgs& a, std::istream& stdinStream) {
  const uint8_t channel = ParseChannel(a.channel, 1);
  const Units units = UnitsOf(a);
  // Codes go as given, and so only to the FIFO: the memory load calibrates what it takes.
  const WaveTarget target = a.fifo || a.codes ? WaveTarget::kFifo : WaveTarget::kMemory;
  std::string source = a.shape;
  std::vector<double> samples;
  std::optional<Generator> generator;
  if (a.shape.empty()) {
    samples = ReadInput(a, units, stdinStream, &source);
  } else {
    generator = GeneratorOf(a);
  }
  const uint8_t rangeIndex = WaveRange(s, channel, units);
  if (generator) samples = Generate(*generator, kRanges[rangeIndex]);
  const Waveform w = MakeWaveform(channel, rangeIndex, units, samples);
  Describe(w, source, target, r);
  if (a.dryRun) return DryRun(w, r);
  Load(s, w, target, a.clip, r);
}

void RegisterWave(CommandSet& set) {
  auto a = std::make_shared<WaveArgs>();
  Command& c = set.Add(
      "wave", "load a waveform into a channel's memory, or its FIFO",
      {"korvelan380 --sim wave 0 samples.txt        (one value a line, volts)",
       "korvelan380 --sim wave 1 scope.csv --column 2",
       "korvelan380 --sim wave 1 scope.csv --column volts --clip",
       "seq 0 100 16383 | korvelan380 --sim wave 0 - --raw",
       "korvelan380 --sim wave 0 --sine --samples 1000 --amplitude 5 --offset 0",
       "korvelan380 --sim wave 1 --square --samples 64 --dry-run",
       "korvelan380 --sim wave 0 --saw --samples 256 --fifo",
       "korvelan380 --sim wave 0 codes.txt --codes",
       "Volts and raw values go through the module's calibration, into the memory or (--fifo) the "
       "FIFO; codes go to the FIFO as given.",
       "A first line of names (time,volts) is a header: --column takes a name from it or a "
       "number from 1; a file of one column needs none."});
  c.app->add_option("CH", a->channel, "channel 0 or 1")->required();
  c.app->add_option("FILE", a->file, "samples, one a line or CSV; - reads standard input");
  c.app->add_option("--column", a->column,
                    "the CSV column: its name in the header line, or its number from 1 "
                    "(default: the only one)");
  c.app->add_flag("--raw", a->raw, "the values are raw values 0 to 16383, not volts");
  c.app->add_flag("--codes", a->codes,
                  "the values are uncalibrated codes 0 to 65535, loaded into the FIFO as given");
  c.app->add_flag("--fifo", a->fifo,
                  "load into the FIFO instead of the memory (volts and raw values calibrated "
                  "first)");
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
