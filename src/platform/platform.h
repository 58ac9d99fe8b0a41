// The few operating-system pieces the library needs, one implementation file per OS.
#ifndef KORVELAN380_PLATFORM_PLATFORM_H
#define KORVELAN380_PLATFORM_PLATFORM_H

#include <cstdint>

namespace korvelan380::platform {

// A recursive mutex with a timed wait, one per module. A mutex left locked by a thread that
// ended is taken over by the next waiter, and the call goes on.
struct ModuleMutex;

enum class WaitResult { Acquired, TimedOut, Failed };

ModuleMutex* CreateModuleMutex();  // null when the system has none to give
void DestroyModuleMutex(ModuleMutex* mutex);
WaitResult LockModuleMutex(ModuleMutex* mutex, uint32_t timeoutMs);
void UnlockModuleMutex(ModuleMutex* mutex);

void SleepMilliseconds(uint32_t ms);

}  // namespace korvelan380::platform

#endif  // KORVELAN380_PLATFORM_PLATFORM_H
