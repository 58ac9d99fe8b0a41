// The module mutex on POSIX: a recursive, robust pthread mutex. Robust, so that a mutex left by
// a thread that ended is handed to the next waiter (EOWNERDEAD) instead of blocking it for ever.
#include <pthread.h>

#include <cerrno>
#include <ctime>
#include <new>

#include "platform/platform.h"

namespace korvelan380::platform {

struct ModuleMutex {
  pthread_mutex_t mutex;
};

ModuleMutex* CreateModuleMutex() {
  auto* m = new (std::nothrow) ModuleMutex;
  if (m == nullptr) return nullptr;
  pthread_mutexattr_t attr;
  pthread_mutexattr_init(&attr);
  pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
  pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST);
  const int error = pthread_mutex_init(&m->mutex, &attr);
  pthread_mutexattr_destroy(&attr);
  if (error != 0) {
    delete m;
    return nullptr;
  }
  return m;
}

void DestroyModuleMutex(ModuleMutex* mutex) {
  if (mutex == nullptr) return;
  pthread_mutex_destroy(&mutex->mutex);
  delete mutex;
}

namespace {

// The deadline timeoutMs from now on `clock`.
timespec Deadline(clockid_t clock, uint32_t timeoutMs) {
  timespec deadline;
  clock_gettime(clock, &deadline);
  deadline.tv_sec += static_cast<time_t>(timeoutMs / 1000);
  deadline.tv_nsec += static_cast<long>(timeoutMs % 1000) * 1000000L;
  if (deadline.tv_nsec >= 1000000000L) {
    deadline.tv_sec += 1;
    deadline.tv_nsec -= 1000000000L;
  }
  return deadline;
}

int TimedLock(pthread_mutex_t* mutex, uint32_t timeoutMs) {
#if defined(__SANITIZE_THREAD__)
  // GCC 12's ThreadSanitizer does not see pthread_mutex_clocklock, and would report every unlock
  // of a mutex taken with it; its builds wait on the wall clock instead.
  const timespec deadline = Deadline(CLOCK_REALTIME, timeoutMs);
  return pthread_mutex_timedlock(mutex, &deadline);
#else
  // The monotonic clock: a change of the wall clock neither shortens nor stretches the wait.
  const timespec deadline = Deadline(CLOCK_MONOTONIC, timeoutMs);
  return pthread_mutex_clocklock(mutex, CLOCK_MONOTONIC, &deadline);
#endif
}

}  // namespace

WaitResult LockModuleMutex(ModuleMutex* mutex, uint32_t timeoutMs) {
  if (mutex == nullptr) return WaitResult::Failed;
  switch (TimedLock(&mutex->mutex, timeoutMs)) {
    case 0:
      return WaitResult::Acquired;
    case EOWNERDEAD:
      // Its last owner ended holding it: the frames it protects are whole (each is one driver
      // write), so the mutex is made usable again and the call goes on.
      pthread_mutex_consistent(&mutex->mutex);
      return WaitResult::Acquired;
    case ETIMEDOUT:
      return WaitResult::TimedOut;
    default:
      return WaitResult::Failed;
  }
}

void UnlockModuleMutex(ModuleMutex* mutex) {
  pthread_mutex_unlock(&mutex->mutex);
}

}  // namespace korvelan380::platform
