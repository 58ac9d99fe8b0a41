#include "link/transactions.h"

#include <chrono>

#include "link/frame.h"

namespace korvelan380 {

ModuleLock::ModuleLock(DeviceEntry& entry, uint32_t timeoutMs) : entry_(nullptr) {
  const uint32_t self = platform::CurrentThreadId();
  if (entry.lockOwner.load(std::memory_order_relaxed) == self) {
    ++entry.lockDepth;
    entry_ = &entry;
    return;
  }
  if (platform::LockModuleMutex(entry.ioMutex, timeoutMs) != platform::WaitResult::Acquired) {
    return;
  }
  entry.lockOwner.store(self, std::memory_order_relaxed);
  entry.lockDepth = 1;
  entry_ = &entry;
}

ModuleLock::~ModuleLock() {
  if (entry_ == nullptr || --entry_->lockDepth > 0) return;
  entry_->lockOwner.store(0, std::memory_order_relaxed);
  platform::UnlockModuleMutex(entry_->ioMutex);
}

bool SendFrame(DeviceEntry& entry, const uint8_t* frame, size_t length) {
  if (!entry.isOpen.load(std::memory_order_acquire)) return false;
  DWORD written = 0;
  // The driver takes a non-const buffer but only reads it.
  return entry.driver->write(entry.ftHandle, const_cast<uint8_t*>(frame),
                             static_cast<DWORD>(length), &written) == FT_OK;
}

bool WriteRegisters(DeviceEntry& entry, const uint8_t* values, uint8_t first, uint8_t last) {
  const size_t count = RunLength(first, last);
  if (count == 0 || count > kMaxWriteRun) return false;
  uint8_t frame[kMaxWriteFrameSize];
  const size_t length = ComposeWriteFrame(first, values, count, frame);
  ModuleLock lock(entry);
  if (!lock) return false;
  return SendFrame(entry, frame, length);
}

namespace {

// A read that failed once its frame was out may leave reply bytes queued in the driver, and
// the next read (which takes waiting bytes as the start of its reply) would report them as its
// own values; they are discarded instead.
bool FailRead(DeviceEntry& entry) {
  FlushReceive(entry);
  return false;
}

}  // namespace

bool ReadRegisters(DeviceEntry& entry, uint8_t* out, uint8_t first, uint8_t last) {
  const size_t count = RunLength(first, last);
  if (count == 0) return false;
  uint8_t frame[kReadFrameSize];
  ComposeReadFrame(first, last, frame);
  ModuleLock lock(entry);
  if (!lock) return false;
  if (!SendFrame(entry, frame, sizeof frame)) return false;

  uint8_t reply[kMaxReadRun * kReplyRecordSize];
  const size_t expected = count * kReplyRecordSize;
  size_t received = 0;
  for (int poll = 0;; ++poll) {
    if (poll == kReplyPolls) return FailRead(entry);
    if (!entry.isOpen.load(std::memory_order_acquire)) return false;
    DWORD got = 0;
    if (entry.driver->read(entry.ftHandle, reply + received,
                           static_cast<DWORD>(expected - received), &got) != FT_OK) {
      return FailRead(entry);
    }
    // A driver reporting more than it was asked for must not move us past the buffer.
    received += got < expected - received ? got : expected - received;
    if (received >= expected) break;
    platform::SleepMilliseconds(kReplyPollIntervalMs);
  }
  return CheckReplyRecords(reply, count, out) || FailRead(entry);
}

bool DrainTransmit(DeviceEntry& entry) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(kDrainTimeoutMs);
  for (uint32_t round = 1;; ++round) {
    // Checked on every round: a module closed meanwhile must not see another driver call.
    if (!entry.isOpen.load(std::memory_order_acquire)) return false;
    DWORD rxBytes = 0, txBytes = 1, eventWord = 0;
    entry.driver->getStatus(entry.ftHandle, &rxBytes, &txBytes, &eventWord);
    if (txBytes == 0) return true;
    // A count that never reaches 0 (or a call that keeps failing) must not spin for ever.
    if (round % 64 == 0 && Clock::now() >= deadline) return false;
  }
}

bool FlushReceive(DeviceEntry& entry) {
  if (!entry.isOpen.load(std::memory_order_acquire)) return false;
  DWORD rxBytes = 0;
  if (entry.driver->getQueueStatus(entry.ftHandle, &rxBytes) != FT_OK) return false;
  if (rxBytes > 0 && entry.driver->purge(entry.ftHandle, FT_PURGE_RX) != FT_OK) return false;
  return true;
}

}  // namespace korvelan380
