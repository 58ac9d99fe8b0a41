// The unload hook, apart from the rest of the device code so that the platform's unload
// notification can reach it without seeing the driver's types (windows.h has a DWORD of its own).
#ifndef KORVELAN380_DEVICE_UNLOAD_H
#define KORVELAN380_DEVICE_UNLOAD_H

namespace korvelan380 {

// What the library does when it is unloaded: closes every module still open and empties the
// table.
void UnloadHook();

}  // namespace korvelan380

#endif  // KORVELAN380_DEVICE_UNLOAD_H
