// The two-point calibration, pair by pair of channel and range, with the library's
// KORVELAN380_CalibAdjustBegin and _Reading doing the arithmetic: the readings come from a
// meter that the command line (typed, a command, the simulated module) or the panel supplies.
// A run keeps the calibration as it was until every pair is done, and leaves a dated record of
// each one it stores.
#ifndef KORVELAN380_TOOL_ACTIONS_CALIBRATION_ADJUST_H
#define KORVELAN380_TOOL_ACTIONS_CALIBRATION_ADJUST_H

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "actions/calibration.h"

namespace korvelan380::tool {

struct AdjustPair {
  uint8_t channel;
  uint8_t range;
};

// The pairs asked for, in entry order: all 14, the channel's 7, the range on both channels, or
// one.
std::vector<AdjustPair> AdjustPairs(std::optional<uint8_t> channel, std::optional<uint8_t> range);

// What the meter is asked for: the voltage at one point (0 to 2) of a pair.
struct MeterPoint {
  AdjustPair pair;
  uint8_t point;
  double expectedVolts;
  std::string refused;  // why the last reading of this point was not taken; "" the first time
};
// Gives the reading, or throws a ToolError to stop the run (and restore the calibration).
using Meter = std::function<double(const MeterPoint&)>;

// "channel 0, range 0 (-10..10V)".
std::string PairText(const AdjustPair& pair);
// Why the library refused a reading (KORVELAN380_ADJUST_*), for people.
std::string RefusalText(uint8_t refusal, const KORVELAN380_CALIB_ADJUST& adjust);

// One step each: Begin, then one reading (the library's status 1 with a refusal is returned as
// the refusal; any other failure throws).
KORVELAN380_CALIB_ADJUST BeginAdjust(Session& s, const AdjustPair& pair);
uint8_t TakeAdjustReading(Session& s, KORVELAN380_CALIB_ADJUST& adjust, double volts);
// A calibration of one pair as data: channel, range, old and new gain and offset, and per point
// its raw value, code, expected volts, reading and errors (mV, LSB; once done).
ordered_json AdjustJson(const KORVELAN380_CALIB_ADJUST& adjust);

struct AdjustRun {
  std::vector<AdjustPair> pairs;
  bool save = false;  // store the result in the EEPROM; otherwise the old record is set back
};
// Calibrates every pair with readings from `meter`, calling `done` with each pair's AdjustJson
// as it finishes. With `save` stores the new record and writes its history record; without,
// sets the record as it was before. Any failure sets the old record back before it is thrown.
// {"adjusted": [...], "saved", "history": the record's path, or null}.
ordered_json RunAdjust(Session& s, const AdjustRun& run, const Meter& meter,
                       const std::function<void(const ordered_json&)>& done);

// ---- The history of stored calibrations: calibrations/ in the tool's state folder ----
// The folder: beside the --sim-state file with --sim, else in the tool's state folder.
std::string HistoryFolder(const Options& options);
// Writes the dated record of a stored calibration: the calibration document (so that
// `calib import` takes it back) with "date", "serial" and "adjusted". Returns its path.
std::string WriteHistory(Session& s, const Calibration& c, const ordered_json& adjusted);
// The records in the folder, oldest first, each {"date", "serial", "pairs", "file"}; only those
// of `serial` unless it is empty. Files that are no history record are passed over.
ordered_json ListHistory(const std::string& folder, const std::string& serial);

}  // namespace korvelan380::tool

#endif  // KORVELAN380_TOOL_ACTIONS_CALIBRATION_ADJUST_H
