// Opening and closing modules: what connect, disconnect and the unload hook share.
#ifndef KORVELAN380_DEVICE_CONNECTION_H
#define KORVELAN380_DEVICE_CONNECTION_H

#include "base/status.h"
#include "device/device_entry.h"

namespace korvelan380 {

inline constexpr char kSerialPrefix[] = "KORVELAN380";
inline constexpr size_t kSerialNumberSize = 20;

// serialNumber = kSerialPrefix followed by deviceId (at most 8 characters) and a NUL.
void BuildSerialNumber(const char* deviceId, char (&serialNumber)[kSerialNumberSize]);

// Opens the module of deviceId, enters it in the table, sets the driver's timeouts (and the
// latency timer KORVELAN380_LATENCY_MS asks for), loads its calibration and sets its outputs'
// first state: 0, 1 (a deviceId that cannot be a serial-number tail), 4, 6, or what the
// outputs' first state returns.
StatusCode ConnectModule(const char* deviceId);

// Marks the entry closed (so a reply poll in progress stops at its next round), then closes the
// driver handle while holding the module's lock, so that no other driver call on the handle is
// in flight. If a call keeps the lock for 5 s, the handle is left to the entry's destructor,
// which runs once that call lets the entry go.
void CloseEntry(DeviceEntry& entry);

}  // namespace korvelan380

#endif  // KORVELAN380_DEVICE_CONNECTION_H
