// The simulated module behind --sim: its libftd2xx.so, loaded before the first connect so that
// the library binds it, its control functions, and the state file that keeps the modules
// between invocations.
#ifndef KORVELAN380_TOOL_SIMULATOR_H
#define KORVELAN380_TOOL_SIMULATOR_H

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "driver_call.h"

namespace korvelan380::tool {

// Where the simulator library is looked for, in order: $KORVELAN380_SIM_LIBRARY (only it); beside
// the tool, in an installation and then in the build tree (os::SimLibrariesBeside); the build
// tree the tool was built in.
std::vector<std::string> SimLibraryCandidates();
// libftd2xx.so, or FTD2XX.dll on Windows: the simulated module is named as the driver it stands
// in for.
std::string SimLibraryFile();

class Simulator {
 public:
  // Loads the simulator library and resets it; throws ToolError when it cannot.
  Simulator();
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;
  ~Simulator();

  const std::string& LibraryPath() const { return path_; }

  // Takes the state file (locked until Save or destruction) and restores every module in it.
  // A missing file is an empty state; a malformed one throws ToolError and is left alone.
  void Open(const std::string& statePath);
  const std::string& StatePath() const { return statePath_; }
  // Whether the state file knows the module, attached or not.
  bool Knows(const std::string& serial) const { return known_.count(serial) != 0; }
  const std::set<std::string>& KnownSerials() const { return known_; }
  // A fresh module: registers 0, an EEPROM user area of eepromSize bytes holding the ideal
  // calibration (or blank), replacing any module of that serial.
  void AttachFresh(const std::string& serial, size_t eepromSize, bool idealCalibration);
  void Detach(const std::string& serial);
  bool IsAttached(const std::string& serial) const;
  void SetRegister(const std::string& serial, uint8_t reg, uint8_t value);
  // The module's reply latency, for this process only (not saved). FT_Read's wait is the
  // library's own: it sets the driver's read timeout at connect.
  void SetReplyLatency(const std::string& serial, uint32_t replyLatencyUs);
  // The volts the module's channel 0 or 1 puts out now; throws ToolError for a module not
  // attached (the caller checks the channel).
  double Measure(const std::string& serial, uint8_t channel) const;
  // Writes every module known, and `serial` as it is now, to the state file.
  void Save();

  // The calls the simulated module saw, in order (fn, arg, status and data filled).
  std::vector<capture::DriverCall> Trace() const;
  void ClearTrace();

 private:
  struct Api;
  void* library_ = nullptr;
  std::string path_;
  Api* api_ = nullptr;
  std::string statePath_;
  intptr_t lock_ = -1;
  std::set<std::string> known_;
};

}  // namespace korvelan380::tool

#endif  // KORVELAN380_TOOL_SIMULATOR_H
