// The few operating-system pieces the library needs, one implementation file per OS.
#ifndef KORVELAN380_PLATFORM_PLATFORM_H
#define KORVELAN380_PLATFORM_PLATFORM_H

#include <cstdint>

namespace korvelan380 {

struct DriverApi;

namespace platform {

// A recursive mutex with a timed wait, one per module. A mutex left locked by a thread that
// ended is taken over by the next waiter.
struct ModuleMutex;

enum class WaitResult { Acquired, TimedOut, Failed };

ModuleMutex* CreateModuleMutex();
void DestroyModuleMutex(ModuleMutex* mutex);
WaitResult LockModuleMutex(ModuleMutex* mutex, uint32_t timeoutMs);
void UnlockModuleMutex(ModuleMutex* mutex);

// The calling thread's identifier, never 0.
uint32_t CurrentThreadId();

void SleepMilliseconds(uint32_t ms);

// Fills `api` with the ten driver functions; false when the driver or a function is missing.
bool LoadDriverFunctions(DriverApi& api);

}  // namespace platform
}  // namespace korvelan380

#endif  // KORVELAN380_PLATFORM_PLATFORM_H
