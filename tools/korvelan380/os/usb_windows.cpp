// The USB devices on Windows: the present devices of vendor 0403 as SetupAPI lists them. The bus
// is the system's, always there for the driver, and there is no ftdi_sio to keep D2XX away.
// windows.h first: setupapi.h needs its types.
#include <windows.h>

#include <setupapi.h>

#include "os/os.h"

namespace korvelan380::tool::os {

namespace {

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

}  // namespace

std::string MissingUsbBus() {
  return "";
}

UsbLook LookAtUsb() {
  UsbLook usb{{}, "no FTDI USB device (vendor 0403) is present"};
  for (const std::string& serial : FtdiSerials()) {
    usb.devices.push_back({serial, "FTDI device serial " + serial, true, std::nullopt});
  }
  return usb;
}

std::optional<bool> FtdiSioLoaded() {
  return std::nullopt;
}

}  // namespace korvelan380::tool::os
