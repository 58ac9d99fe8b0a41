// The calib commands: the 14 gains and offsets shown as a table, exported to a JSON file and
// imported from one; the two-point calibration against a voltmeter, and its history.
#include <CLI/CLI.hpp>
#include <bit>
#include <cstdio>
#include <fstream>
#include <istream>
#include <memory>
#include <ostream>
#include <sstream>

#include "actions/calibration.h"
#include "actions/calibration_adjust.h"
#include "app/commands.h"
#include "core/values.h"
#include "os/os.h"

namespace korvelan380::tool {
namespace {

// A file that holds no calibration: nothing was changed, and where to get one.
ToolError FileError(ToolError error) {
  error.hint =
      "nothing was changed; 'korvelan380 calib export FILE.json' writes a file to start from";
  return error;
}

Calibration ReadFile(const std::string& path) {
  std::ifstream file(path);
  if (!file) throw FileError(UsageError(path + ": cannot be opened"));
  std::stringstream content;
  content << file.rdbuf();
  const nlohmann::json doc = nlohmann::json::parse(content.str(), nullptr, false);
  if (doc.is_discarded()) throw FileError(UsageError(path + ": is not valid JSON"));
  try {
    return ParseCalibration(doc, path);
  } catch (const ToolError& e) {
    throw FileError(e);
  }
}

std::string TableText(const Calibration& c) {
  std::string text = "entry  channel  range          gain             gain bits    offset\n";
  for (size_t e = 0; e < kCalibrationEntries; ++e) {
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
  const Calibration c = ReadCalibration(s);
  r.json = {{"device", s.options().device}, {"entries", EntriesJson(c)}};
  r.text = TableText(c);
}

void CalibExport(Session& s, Report& r, const std::string& path) {
  const ordered_json doc = CalibrationDocument(s, ReadCalibration(s));
  std::ofstream file(path, std::ios::trunc);
  file << doc.dump(2) << "\n";
  if (!file.flush()) throw UsageError("cannot write " + path);
  r.json = {{"exported", path}, {"entries", kCalibrationEntries}};
  r.Line("calibration of module " + s.options().device + " (14 entries) written to " + path);
}

struct ImportArgs {
  std::string path;
  bool save = false;
  bool force = false;
};

void CalibImport(Session& s, Report& r, const ImportArgs& a) {
  const Calibration wanted = ReadFile(a.path);
  Calibration now;
  try {
    now = ImportCalibration(s, {wanted, a.save, a.force});
  } catch (const ToolError& e) {
    if (!e.call.empty()) throw;  // the module's failure, not the file's
    ToolError error = UsageError(a.path + ": " + e.what());
    error.hint = "nothing was changed; --force sets values no module should have";
    throw error;
  }
  r.json = {{"imported", a.path}, {"saved", a.save}, {"entries", EntriesJson(now)}};
  r.Line("calibration from " + a.path + " set on module " + s.options().device);
  if (a.save) {
    r.Line("and stored in its EEPROM (when it differs from what was stored)");
  } else {
    r.Line("for this session only: add --save to store it in the module's EEPROM");
  }
  r.text += TableText(now);
}

// ---- calib adjust: the meters, and the run ----

struct AdjustArgs {
  std::optional<std::string> channel, range;
  std::string meter = "typed";
  bool save = false;
};

std::string Trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

std::string PointText(const MeterPoint& p) {
  return PairText(p.pair) + ", point " + std::to_string(p.point + 1) + " of 3";
}

// A run stopped before it was done: nothing was changed.
ToolError Stopped(const std::string& message) {
  ToolError error = UsageError(message);
  error.hint = "the calibration was left as it was before";
  return error;
}

// The reading a person types; what is not one is explained and asked for again.
double TypedReading(std::istream& in, std::ostream& out, const MeterPoint& p) {
  if (!p.refused.empty()) out << "not taken: " << p.refused << "\n";
  for (;;) {
    char expected[32];
    std::snprintf(expected, sizeof expected, "%.3f", p.expectedVolts);
    out << PointText(p) << ": output set to about " << expected << " V; measured volts? "
        << std::flush;
    std::string line;
    if (!std::getline(in, line)) {
      out << "\n";
      throw Stopped("no reading for " + PointText(p) + ": the input ended");
    }
    const Parsed<double> volts = ParseVolts(Trimmed(line));
    if (volts) return *volts;
    out << "not a reading: " << volts.error << "\n";
  }
}

// The reading a command prints; a command that fails or prints no voltage, or a reading the
// library refuses, stops the run.
double CommandReading(const std::string& command, const MeterPoint& p) {
  if (!p.refused.empty()) {
    throw Stopped("--meter's reading for " + PointText(p) + " was not taken: " + p.refused);
  }
  char expected[32];
  std::snprintf(expected, sizeof expected, "%.6f", p.expectedVolts);
  os::SetEnv("KORVELAN380_CHANNEL", std::to_string(p.pair.channel));
  os::SetEnv("KORVELAN380_RANGE", std::to_string(p.pair.range));
  os::SetEnv("KORVELAN380_POINT", std::to_string(p.point));
  os::SetEnv("KORVELAN380_EXPECTED_VOLTS", expected);
  const std::optional<os::ShellResult> result = os::RunShell(command);
  if (!result) throw Stopped("--meter: '" + command + "' could not be run");
  if (result->exit != 0) {
    throw Stopped("--meter: '" + command + "' failed (exit status " + std::to_string(result->exit) +
                  ") for " + PointText(p));
  }
  const std::string text = Trimmed(result->out);
  const Parsed<double> volts = ParseVolts(text);
  if (!volts) {
    throw Stopped("--meter: '" + command + "' printed \"" + text.substr(0, 80) + "\" for " +
                  PointText(p) + ", not a voltage");
  }
  return *volts;
}

Meter ChooseMeter(Session& s, CommandSet& set, const std::string& meter) {
  if (meter == "typed") {
    if (s.options().json) {
      throw UsageError(
          "--json needs --meter CMD or --meter sim: typed readings are asked for "
          "on standard output");
    }
    return [&set](const MeterPoint& p) { return TypedReading(set.in(), set.out(), p); };
  }
  if (meter == "sim") {
    if (s.sim() == nullptr)
      throw UsageError("--meter sim measures the simulated module: add --sim");
    return [&s](const MeterPoint& p) {
      // The module would give the same reading again: a refusal stops the run.
      if (!p.refused.empty()) throw Stopped(PointText(p) + " was not taken: " + p.refused);
      return s.sim()->Measure(s.Serial(), p.pair.channel);
    };
  }
  if (meter.empty()) throw UsageError("--meter needs a command, sim or typed");
  return [meter](const MeterPoint& p) { return CommandReading(meter, p); };
}

std::string SignedText(double value, const char* format) {
  char text[32];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

std::string AdjustedText(const ordered_json& pair) {
  const AdjustPair which{pair["channel"].get<uint8_t>(), pair["range_index"].get<uint8_t>()};
  // The gain by its bits: an old one may be no number.
  const auto gain = [](const ordered_json& entry) {
    return GainText(std::bit_cast<float>(
        Take(ParseUnsigned(entry["gain_bits"].get<std::string>(), 0xFFFFFFFF, "gain_bits"))));
  };
  std::string text = PairText(which) + ": gain " + gain(pair["old"]) + " -> " + gain(pair["new"]) +
                     ", offset " + std::to_string(pair["old"]["offset"].get<int>()) + " -> " +
                     std::to_string(pair["new"]["offset"].get<int>()) + "\n";
  for (size_t point = 0; point < pair["points"].size(); ++point) {
    const ordered_json& p = pair["points"][point];
    text += "  point " + std::to_string(point + 1) + " (raw " +
            std::to_string(p["raw"].get<int>()) + "): expected " +
            FormatVolts(p["expected_volts"].get<double>()) + ", error " +
            SignedText(p["error_mv"].get<double>(), "%+.3f") + " mV (" +
            SignedText(p["error_lsb"].get<double>(), "%+.2f") + " LSB)" +
            (point == 2 ? ", as measured" : ", as the fit puts it out") + "\n";
  }
  return text;
}

void CalibAdjust(Session& s, Report& r, CommandSet& set, const AdjustArgs& a) {
  std::optional<uint8_t> channel;
  std::optional<uint8_t> range;
  if (a.channel) channel = ParseChannel(*a.channel, 1);
  if (a.range) range = Take(ParseRange(*a.range));
  const Meter meter = ChooseMeter(s, set, a.meter);
  const ordered_json result =
      RunAdjust(s, {AdjustPairs(channel, range), a.save}, meter,
                [&r](const ordered_json& pair) { r.text += AdjustedText(pair); });
  r.json = result;
  r.json["device"] = s.options().device;
  if (a.save) {
    r.Line("stored in module " + s.options().device + "'s EEPROM; history record " +
           result["history"].get<std::string>());
  } else {
    r.Line("not stored: the calibration is set back as it was (add --save to keep the fit)");
  }
}

void CalibHistory(Session& s, Report& r) {
  const std::string folder = HistoryFolder(s.options());
  const ordered_json records = ListHistory(folder, s.options().deviceGiven ? s.Serial() : "");
  r.json = {{"folder", folder}, {"records", records}};
  if (records.empty()) r.Line("no stored calibrations in " + folder);
  for (const auto& record : records) {
    r.Line(record["date"].get<std::string>() + "  " + record["serial"].get<std::string>() + "  " +
           std::to_string(record["pairs"].get<size_t>()) +
           (record["pairs"] == 1 ? " pair   " : " pairs  ") + record["file"].get<std::string>());
  }
}

void RegisterAdjust(CommandSet& set, Command& calib) {
  auto args = std::make_shared<AdjustArgs>();
  Command& adjust = set.Add(
      "adjust",
      "calibrate against a voltmeter: two points per channel and range, then a check at the "
      "middle",
      {"korvelan380 -d 7 calib adjust --channel 0 --range 0..10V --save",
       "korvelan380 --sim calib adjust --meter sim --save",
       "korvelan380 -d 7 calib adjust --meter 'my-dmm-read' --save",
       "--meter CMD runs CMD through the shell for each point; it prints the volts measured, "
       "and finds KORVELAN380_CHANNEL, KORVELAN380_RANGE, KORVELAN380_POINT (0 to 2) and "
       "KORVELAN380_EXPECTED_VOLTS in its environment. Without --save the old calibration is "
       "set back at the end."},
      &calib);
  adjust.app->add_option("--channel", args->channel, "only this channel, 0 or 1");
  adjust.app->add_option("--range", args->range, "only this range (a name or 0 to 6)");
  adjust.app->add_option("--meter", args->meter,
                         "typed (default: asked for on the terminal), sim (with --sim), or a "
                         "command that prints the volts");
  adjust.app->add_flag("--save", args->save, "store the result in the module's EEPROM");
  adjust.run = [args, &set](Session& s, Report& r) { CalibAdjust(s, r, set, *args); };
  Command& history = set.Add("history", "the calibrations stored by calib adjust --save",
                             {"korvelan380 calib history", "korvelan380 -d 7 calib history",
                              "Each record is a calibration file: calib import FILE takes it "
                              "back."},
                             &calib);
  history.connect = false;
  history.attachFirstUse = false;
  history.run = CalibHistory;
}

void RegisterCalib(CommandSet& set) {
  Command& calib =
      set.Add("calib",
              "the calibration: show, export to JSON, import from JSON, adjust against a "
              "voltmeter, history",
              {"korvelan380 --sim calib show", "korvelan380 --sim calib export cal.json",
               "korvelan380 --sim calib import cal.json --save",
               "Gains are written with their 32-bit patterns: export then import is bit-exact."});
  calib.app->require_subcommand(1);
  auto path = std::make_shared<std::string>();
  Command& show =
      set.Add("show", "all 14 gains and offsets", {"korvelan380 --sim calib show --json"}, &calib);
  show.run = CalibShow;
  Command& exp = set.Add("export", "write the calibration to a JSON file",
                         {"korvelan380 --sim calib export cal.json"}, &calib);
  exp.app->add_option("FILE", *path, "the JSON file")->required();
  exp.run = [path](Session& s, Report& r) { CalibExport(s, r, *path); };
  auto import = std::make_shared<ImportArgs>();
  Command& imp =
      set.Add("import", "set the calibration from a JSON file (this session only, unless --save)",
              {"korvelan380 --sim calib import cal.json --save",
               "Each gain must be finite, positive and within a factor of 2 of its range's ideal "
               "(span / 16384 V per code), each offset a code 0 to 0x3FFF; a blank module's "
               "record (gains 0) goes back only with --force."},
              &calib);
  imp.app->add_option("FILE", import->path, "the JSON file")->required();
  imp.app->add_flag("--save", import->save, "also store it in the module's EEPROM");
  imp.app->add_flag("--force", import->force,
                    "take gains and offsets outside those limits, as the file has them");
  imp.run = [import](Session& s, Report& r) { CalibImport(s, r, *import); };
  RegisterAdjust(set, calib);
}

}  // namespace korvelan380::tool
