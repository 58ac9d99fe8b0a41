// doctor on Windows: FTD2XX.dll (whether it loads, from where, with the ten functions), the FTDI
// devices (vendor 0403) Windows lists as present, and the connect.
// windows.h first: setupapi.h needs its types.
#include <windows.h>

#include <setupapi.h>

#include <filesystem>

#include "doctor.h"
#include "tool_os.h"

namespace korvelan380::tool {
namespace fs = std::filesystem;

namespace {

void CheckDriver(Checks& checks) {
  // With --sim the simulated FTD2XX.dll is already loaded under that name: the library's too.
  HMODULE driver = GetModuleHandleW(L"FTD2XX.dll");
  const bool loadedHere = driver == nullptr;
  if (loadedHere) driver = LoadLibraryW(L"FTD2XX.dll");
  if (driver == nullptr) {
    checks.Add("driver library", "problem",
               "FTD2XX.dll does not load (error " + std::to_string(GetLastError()) +
                   "); install FTDI's D2XX driver, which puts it in the system folder");
    return;
  }
  wchar_t path[MAX_PATH] = L"";
  GetModuleFileNameW(driver, path, MAX_PATH);
  checks.Add("driver library", "ok", "FTD2XX.dll loads from " + fs::path(path).string());
  std::string missing;
  for (const char* fn : kDriverFunctions) {
    if (GetProcAddress(driver, fn) == nullptr) {
      missing += std::string(missing.empty() ? "" : ", ") + fn;
    }
  }
  checks.Add("driver functions", missing.empty() ? "ok" : "problem",
             missing.empty() ? "all ten the library uses are there"
                             : "missing: " + missing + " (install FTDI's current D2XX driver)");
  if (loadedHere) FreeLibrary(driver);
}

// The serial numbers of the present USB devices of vendor 0403, from their instance IDs
// ("USB\VID_0403&PID_6001\KORVELAN3807").
std::vector<std::string> FtdiSerials() {
  std::vector<std::string> serials;
  HDEVINFO devices =
      SetupDiGetClassDevsA(nullptr, "USB", nullptr, DIGCF_ALLCLASSES | DIGCF_PRESENT);
  if (devices == INVALID_HANDLE_VALUE) return serials;
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  for (DWORD i = 0; SetupDiEnumDeviceInfo(devices, i, &device); ++i) {
    char id[512] = "";
    if (!SetupDiGetDeviceInstanceIdA(devices, &device, id, sizeof id, nullptr)) continue;
    const std::string instance(id);
    if (instance.find("VID_0403") == std::string::npos) continue;
    serials.push_back(instance.substr(instance.rfind('\\') + 1));
  }
  SetupDiDestroyDeviceInfoList(devices);
  return serials;
}

void CheckUsb(Checks& checks, const std::string& serial, bool sim) {
  const std::vector<std::string> serials = FtdiSerials();
  bool module = false;
  for (const std::string& found : serials) {
    module = module || found == serial;
    checks.Add("USB device", "ok", "FTDI device serial " + found);
  }
  if (serials.empty()) {
    checks.Add("USB device", sim ? "note" : "problem",
               "no FTDI USB device (vendor 0403) is present" +
                   std::string(sim ? "; not needed with --sim" : ""));
  } else if (!sim) {
    checks.Add("module on USB", module ? "ok" : "problem",
               module ? serial + " is attached" : "no FTDI device has the serial number " + serial);
  }
}

}  // namespace

void SystemChecks(Checks& checks, Session& s, bool sim) {
  CheckDriver(checks);
  CheckUsb(checks, s.Serial(), sim);
  try {
    os::RequireLibrary();
  } catch (const ToolError& error) {
    checks.Add("library", "problem", std::string(error.what()) + " (" + error.hint + ")");
    checks.Add("connect", "problem", "not tried: the library does not load");
    return;
  }
  CheckConnect(checks, s);
}

}  // namespace korvelan380::tool
