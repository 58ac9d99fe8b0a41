#ifndef KORVELAN380_DEVICE_CONNECTION_H
#define KORVELAN380_DEVICE_CONNECTION_H

#include "device/device_entry.h"
#include "device/unload.h"

namespace korvelan380 {

inline constexpr char kSerialPrefix[] = "KORVELAN380";
inline constexpr size_t kSerialNumberSize = 20;

// serialNumber = kSerialPrefix followed by deviceId (at most 8 characters) and a NUL.
void BuildSerialNumber(const char* deviceId, char (&serialNumber)[kSerialNumberSize]);

// Marks the entry closed (so a reply poll in progress stops at its next read), then closes the
// driver handle while holding the module's lock, so that no other driver call on the handle is
// in flight; if the lock cannot be had within 5 s, it closes anyway. Each handle closes once.
void CloseEntry(DeviceEntry& entry);

}  // namespace korvelan380

#endif  // KORVELAN380_DEVICE_CONNECTION_H
