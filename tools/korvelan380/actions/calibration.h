// The module's calibration as data, for the command line's files and the panel's JSON alike:
// read, exported as a document, checked and imported from one. Gains travel as their 32-bit
// patterns beside the decimal value, so that NaN payloads and -0.0 come back bit for bit.
#ifndef KORVELAN380_TOOL_ACTIONS_CALIBRATION_H
#define KORVELAN380_TOOL_ACTIONS_CALIBRATION_H

#include <cstddef>
#include <nlohmann/json.hpp>
#include <string>

#include "app/session.h"

namespace korvelan380::tool {

inline constexpr size_t kCalibrationEntries = KORVELAN380_CALIBRATION_ENTRIES;
inline constexpr size_t kRangesPerChannel = 7;

struct Calibration {
  CalibrationOffsets offsets{};
  CalibrationGains gains{};
};

Calibration ReadCalibration(Session& s);
// A gain for people, with the digits that tell it apart from its neighbours ("0.00122070312").
std::string GainText(float gain);
// Whether the entry converts every raw value to itself.
bool IsIdeal(const Calibration& c, size_t entry);
// Each entry: its channel and range, gain (null where JSON has no number), gain_bits, offset and
// whether it is ideal.
ordered_json EntriesJson(const Calibration& c);
// {"format", "version", "device", "entries"}: what `calib export` writes and the panel gives.
ordered_json CalibrationDocument(Session& s, const Calibration& c);
// The calibration a document holds, all 14 entries checked. Throws a usage error "NAME: what is
// wrong", `name` being what the user knows the document as (a file, "the calibration").
Calibration ParseCalibration(const nlohmann::json& doc, const std::string& name);
// A calibration to set, as a person or a document gives it.
struct CalibrationImport {
  Calibration calibration;
  bool save = false;   // also store it in the EEPROM
  bool force = false;  // take gains and offsets that CheckCalibration refuses
};

// Throws a usage error naming the first entry whose gain is not finite, positive and within a
// factor of 2 of its range's ideal gain (span / 16384 V per code), or whose offset is not a code
// (0 to 0x3FFF). The library takes any record; these are the values no real module has.
void CheckCalibration(const Calibration& c);
// Sets the calibration (and stores it in the EEPROM when `save`), checked first unless `force`;
// returns it as read back.
Calibration ImportCalibration(Session& s, const CalibrationImport& import);
// Whether the module was never calibrated: its record is the blank default (every gain 0) or
// every entry exactly ideal, as modules leave the factory without a calibration of their own.
bool NeverCalibrated(const Calibration& c);
// The command that calibrates module `device` ("korvelan380 -d 7 calib adjust").
std::string AdjustCommand(const std::string& device);
// {"summary", "ideal_entries", "entries"}: one line for people, and the count of ideal entries.
ordered_json CalibrationSummary(const Calibration& c);

}  // namespace korvelan380::tool

#endif  // KORVELAN380_TOOL_ACTIONS_CALIBRATION_H
