// The calib commands: the 14 gains and offsets shown as a table, exported to a JSON file and
// imported from one.
#include <CLI/CLI.hpp>
#include <bit>
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>

#include "actions/calibration.h"
#include "app/commands.h"
#include "core/values.h"

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

void RegisterCalib(CommandSet& set) {
  Command& calib =
      set.Add("calib", "the calibration: show, export to JSON, import from JSON",
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
}

}  // namespace korvelan380::tool
