// Conversion: KORVELANGetCalibedVal and KORVELANGetRawValFromCalibed, with the module's working
// calibration, read without waiting for the module's transfers.
#include "calibration/conversion.h"
#include "base/status.h"
#include "device/device_table.h"

using namespace korvelan380;

namespace {

// The entry of a connected, open module, or null.
std::shared_ptr<DeviceEntry> OpenEntry(const char* deviceId) {
  std::shared_ptr<DeviceEntry> entry = FindEntry(deviceId);
  if (entry && !entry->link.isOpen.load()) entry.reset();
  return entry;
}

}  // namespace

extern "C" KORVELAN380_API StatusCode KORVELANGetCalibedVal(const char* deviceId, uint8_t channel,
                                                            uint8_t rangeIndex, uint16_t rawValue,
                                                            uint16_t* calibratedValue) {
  // Arguments first: a bad channel or range is 1 even for a module that is not connected.
  if (channel >= kChannels || rangeIndex >= kRanges || calibratedValue == nullptr) {
    return kInvalidArgument;
  }
  std::shared_ptr<DeviceEntry> entry = OpenEntry(deviceId);
  if (!entry) return kNotConnected;
  return ConvertToCalibrated(entry->calibration, channel, rangeIndex, rawValue, *calibratedValue);
}

extern "C" KORVELAN380_API StatusCode KORVELANGetRawValFromCalibed(const char* deviceId,
                                                                   uint8_t channel,
                                                                   uint8_t rangeIndex,
                                                                   uint16_t calibratedValue,
                                                                   uint16_t* rawValue) {
  if (channel >= kChannels || rangeIndex >= kRanges || rawValue == nullptr) {
    return kInvalidArgument;
  }
  std::shared_ptr<DeviceEntry> entry = OpenEntry(deviceId);
  if (!entry) return kNotConnected;
  return ConvertToRaw(entry->calibration, channel, rangeIndex, calibratedValue, *rawValue);
}
