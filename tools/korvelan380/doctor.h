// doctor's checks: each a line of the report, and the count of problems for the exit status.
// What it looks at besides the connect depends on the operating system (doctor_posix.cpp,
// doctor_windows.cpp).
#ifndef KORVELAN380_TOOL_DOCTOR_H
#define KORVELAN380_TOOL_DOCTOR_H

#include <string>

#include "session.h"
#include "tool.h"

namespace korvelan380::tool {

// The ten functions the library takes from the driver.
constexpr const char* kDriverFunctions[] = {
    "FT_OpenEx",         "FT_Close",     "FT_Read",      "FT_Write",     "FT_Purge",
    "FT_GetQueueStatus", "FT_GetStatus", "FT_EE_UASize", "FT_EE_UARead", "FT_EE_UAWrite"};

class Checks {
 public:
  explicit Checks(Report& r) : r_(r) { r_.json["checks"] = ordered_json::array(); }
  void Add(const std::string& check, const std::string& result, const std::string& detail) {
    r_.json["checks"].push_back({{"check", check}, {"result", result}, {"detail", detail}});
    r_.Line("[" + result + "]" + std::string(9 - result.size(), ' ') + check + ": " + detail);
    if (result == "problem") ++problems_;
  }
  int problems() const { return problems_; }

 private:
  Report& r_;
  int problems_ = 0;
};

// Whether the module opens and answers.
void CheckConnect(Checks& checks, Session& s);

// The driver, the USB devices and the connect, as the operating system lets the tool see them.
void SystemChecks(Checks& checks, Session& s, bool sim);

}  // namespace korvelan380::tool

#endif  // KORVELAN380_TOOL_DOCTOR_H
