// The module mutex on Linux: a futex word holding the owner's thread id, so that taking a free
// lock is one compare-and-swap, taking it again on the owning thread needs no atomic at all,
// and a lock left by a thread that ended can be recognised and taken over.
#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <ctime>
#include <new>

#include "platform/platform.h"

namespace korvelan380::platform {

struct ModuleMutex {
  std::atomic<uint32_t> word{0};  // 0 free, else the owner's thread id | kWaiters
  uint32_t depth = 0;             // recursion depth, touched only by the owner
};

namespace {

constexpr uint32_t kWaiters = 0x80000000u;
constexpr uint32_t kOwnerMask = ~kWaiters;
// A waiter wakes at least this often to see whether the owner still exists.
constexpr long kOwnerCheckNs = 20'000'000;

__attribute__((tls_model("initial-exec"))) thread_local uint32_t currentTid = 0;

bool ThreadGone(uint32_t tid) {
  return syscall(SYS_tgkill, getpid(), tid, 0) == -1 && errno == ESRCH;
}

void FutexWait(std::atomic<uint32_t>& word, uint32_t expected, long ns) {
  timespec wait{0, ns};
  syscall(SYS_futex, reinterpret_cast<uint32_t*>(&word), FUTEX_WAIT_PRIVATE, expected, &wait,
          nullptr, 0);
}

void FutexWakeOne(std::atomic<uint32_t>& word) {
  syscall(SYS_futex, reinterpret_cast<uint32_t*>(&word), FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr,
          0);
}

int64_t NowNs() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
}

WaitResult LockContended(ModuleMutex* mutex, uint32_t self, uint32_t timeoutMs) {
  const int64_t deadline = NowNs() + int64_t{timeoutMs} * 1'000'000;
  for (;;) {
    uint32_t word = mutex->word.load(std::memory_order_relaxed);
    // Taken with the waiters bit set: others may be asleep behind us.
    if (word == 0 &&
        mutex->word.compare_exchange_strong(word, self | kWaiters, std::memory_order_acquire)) {
      mutex->depth = 1;
      return WaitResult::Acquired;
    }
    if (word != 0 && ThreadGone(word & kOwnerMask) &&
        mutex->word.compare_exchange_strong(word, self | kWaiters, std::memory_order_acquire)) {
      mutex->depth = 1;  // abandoned by a thread that ended: taken over
      return WaitResult::Acquired;
    }
    const int64_t left = deadline - NowNs();
    if (left <= 0) return WaitResult::TimedOut;
    if (word != 0 && (word & kWaiters) == 0 &&
        !mutex->word.compare_exchange_strong(word, word | kWaiters, std::memory_order_relaxed)) {
      continue;
    }
    if (word != 0)
      FutexWait(mutex->word, word | kWaiters, left < kOwnerCheckNs ? left : kOwnerCheckNs);
  }
}

}  // namespace

uint32_t CurrentThreadId() {
  if (currentTid == 0) currentTid = static_cast<uint32_t>(syscall(SYS_gettid));
  return currentTid;
}

ModuleMutex* CreateModuleMutex() {
  return new (std::nothrow) ModuleMutex;
}

void DestroyModuleMutex(ModuleMutex* mutex) {
  delete mutex;
}

WaitResult LockModuleMutex(ModuleMutex* mutex, uint32_t timeoutMs) {
  if (mutex == nullptr) return WaitResult::Failed;
  const uint32_t self = CurrentThreadId();
  uint32_t word = mutex->word.load(std::memory_order_relaxed);
  if ((word & kOwnerMask) == self) {
    if (mutex->depth == UINT32_MAX) return WaitResult::Failed;
    ++mutex->depth;
    return WaitResult::Acquired;
  }
  word = 0;
  if (mutex->word.compare_exchange_strong(word, self, std::memory_order_acquire)) {
    mutex->depth = 1;
    return WaitResult::Acquired;
  }
  return LockContended(mutex, self, timeoutMs);
}

void UnlockModuleMutex(ModuleMutex* mutex) {
  if (--mutex->depth > 0) return;
  if (mutex->word.exchange(0, std::memory_order_release) & kWaiters) FutexWakeOne(mutex->word);
}

}  // namespace korvelan380::platform
