#include <windows.h>

#include <new>

#include "platform/platform.h"

namespace korvelan380::platform {

// An unnamed Windows mutex: recursive by nature, and abandoned (WAIT_ABANDONED to the next
// waiter, who then owns it) when its owner thread ends without releasing it.
struct ModuleMutex {
  HANDLE handle;
};

ModuleMutex* CreateModuleMutex() {
  // Default security, not owned by the creating thread, no name.
  HANDLE handle = CreateMutexW(nullptr, FALSE, nullptr);
  if (handle == nullptr) return nullptr;
  auto* mutex = new (std::nothrow) ModuleMutex{handle};
  if (mutex == nullptr) CloseHandle(handle);
  return mutex;
}

void DestroyModuleMutex(ModuleMutex* mutex) {
  if (mutex == nullptr) return;
  CloseHandle(mutex->handle);
  delete mutex;
}

WaitResult LockModuleMutex(ModuleMutex* mutex, uint32_t timeoutMs) {
  if (mutex == nullptr) return WaitResult::Failed;
  switch (WaitForSingleObject(mutex->handle, timeoutMs)) {
    case WAIT_OBJECT_0:
    case WAIT_ABANDONED:  // its last owner ended holding it: taken over, and the call goes on
      return WaitResult::Acquired;
    case WAIT_TIMEOUT:
      return WaitResult::TimedOut;
    default:
      return WaitResult::Failed;
  }
}

void UnlockModuleMutex(ModuleMutex* mutex) {
  ReleaseMutex(mutex->handle);
}

}  // namespace korvelan380::platform
