// The commands. Each takes the session (connected by the caller unless said otherwise) and
// fills the report with what it did and found.
#ifndef KORVELAN380_TOOL_COMMANDS_H
#define KORVELAN380_TOOL_COMMANDS_H

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>

#include "session.h"
#include "tool.h"
#include "values.h"

namespace korvelan380::tool {

// The value, or the usage error that says why the text is none.
template <typename T>
T Take(const Parsed<T>& parsed) {
  if (!parsed) throw UsageError(parsed.error);
  return *parsed;
}

// Channel arguments: "0", "1" (and "2" where the module has a third register set).
uint8_t ParseChannel(const std::string& text, uint8_t highest);

// ---- Outputs: range, out, read, channel ----
ordered_json RangeJson(unsigned index);
// Channel 0's or 1's range register.
uint8_t ReadRange(Session& s, uint8_t channel);
// The output of channel 0 or 1: volts, raw value and code, as JSON.
ordered_json ReadOutput(Session& s, uint8_t channel);
std::string OutputText(const ordered_json& output);
void RangeCommand(Session& s, Report& r, const std::string& channel, const std::string& range);
void OutCommand(Session& s, Report& r, const std::string& channel, const std::string& value);
void ReadCommand(Session& s, Report& r, const std::string& channel);

struct ChannelArgs {
  std::optional<std::string> mode, selectA, selectB, switchA, switchB, presetEnable, preset,
      modeParameter;
  bool Any() const {
    return mode || selectA || selectB || switchA || switchB || presetEnable || preset ||
           modeParameter;
  }
};
ordered_json ReadChannelSettings(Session& s, uint8_t channel);
void ChannelCommand(Session& s, Report& r, const std::string& channel, const ChannelArgs& args);

// ---- Ports and controls: dio, exio, select, clock, trigger, gate, fifo ----
void DioCommand(Session& s, Report& r, const std::string& what, const std::string& value);
void ExioCommand(Session& s, Report& r, const std::string& what);
void SelectCommand(Session& s, Report& r, const std::string& which, const std::string& low,
                   const std::string& high);
void ClockCommand(Session& s, Report& r, const std::string& channel, const std::string& value);
void TriggerCommand(Session& s, Report& r, const std::string& channel, const std::string& action);
void GateCommand(Session& s, Report& r, const std::string& channel, const std::string& action);
void FifoCommand(Session& s, Report& r, const std::string& what, const std::string& channel);
ordered_json ReadFifo(Session& s);
ordered_json ReadDio(Session& s);
std::string FifoText(const ordered_json& fifo);

// ---- Waveforms ----
struct WaveArgs {
  std::string channel;
  std::string file;  // "-" for standard input, empty with a generator
  std::string column;
  bool raw = false;
  bool codes = false;
  std::string shape;  // sine, square, triangle, saw
  uint32_t samples = 1024;
  double cycles = 1;
  std::optional<double> amplitude, offset;
  bool dryRun = false;
  bool clip = false;
};
void WaveCommand(Session& s, Report& r, const WaveArgs& args, std::istream& in);

// ---- Calibration ----
ordered_json CalibrationSummary(Session& s);
void CalibShow(Session& s, Report& r);
void CalibExport(Session& s, Report& r, const std::string& path);
void CalibImport(Session& s, Report& r, const std::string& path, bool save);

// ---- Whole-module commands ----
void InfoCommand(Session& s, Report& r);
// Not connected by the caller: the doctor connects itself, as one of its checks.
void DoctorCommand(Session& s, Report& r);
// Not connected by the caller either: the connect is the demo's first step.
void DemoCommand(Session& s, Report& r);

// ---- The simulated module itself (sim attach, detach, input, status) ----
void SimCommand(Session& s, Report& r, const std::string& what, const std::string& arg1,
                const std::string& arg2, uint32_t eepromSize, bool blank);

}  // namespace korvelan380::tool

#endif  // KORVELAN380_TOOL_COMMANDS_H
