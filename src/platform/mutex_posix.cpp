#include <pthread.h>

#include <cerrno>
#include <ctime>
#include <new>

#include "platform/platform.h"

namespace korvelan380::platform {

struct ModuleMutex {
  pthread_mutex_t handle;
};

ModuleMutex* CreateModuleMutex() {
  auto* mutex = new (std::nothrow) ModuleMutex;
  if (mutex == nullptr) return nullptr;
  pthread_mutexattr_t attributes;
  pthread_mutexattr_init(&attributes);
  pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
  // Robust, so that a thread that ends while holding the module does not lock it for good.
  pthread_mutexattr_setrobust(&attributes, PTHREAD_MUTEX_ROBUST);
  const int result = pthread_mutex_init(&mutex->handle, &attributes);
  pthread_mutexattr_destroy(&attributes);
  if (result != 0) {
    delete mutex;
    return nullptr;
  }
  return mutex;
}

void DestroyModuleMutex(ModuleMutex* mutex) {
  if (mutex == nullptr) return;
  pthread_mutex_destroy(&mutex->handle);
  delete mutex;
}

WaitResult LockModuleMutex(ModuleMutex* mutex, uint32_t timeoutMs) {
  if (mutex == nullptr) return WaitResult::Failed;
  int result = pthread_mutex_trylock(&mutex->handle);
  if (result == EBUSY) {
    timespec deadline;
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += timeoutMs / 1000;
    deadline.tv_nsec += static_cast<long>(timeoutMs % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
      deadline.tv_sec += 1;
      deadline.tv_nsec -= 1000000000L;
    }
    result = pthread_mutex_clocklock(&mutex->handle, CLOCK_MONOTONIC, &deadline);
  }
  switch (result) {
    case 0:
      return WaitResult::Acquired;
    case EOWNERDEAD:
      pthread_mutex_consistent(&mutex->handle);
      return WaitResult::Acquired;
    case ETIMEDOUT:
      return WaitResult::TimedOut;
    default:
      return WaitResult::Failed;
  }
}

void UnlockModuleMutex(ModuleMutex* mutex) {
  pthread_mutex_unlock(&mutex->handle);
}

}  // namespace korvelan380::platform
