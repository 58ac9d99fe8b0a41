#include "link/transactions.h"

#include <chrono>

#include "link/frame.h"
#include "platform/platform.h"

namespace korvelan380 {
namespace {

// A read that failed once its frame was out may leave reply bytes queued in the driver, and
// the next read (which takes waiting bytes as the start of its reply) would report them as its
// own values; they are discarded instead.
bool FailRead(Link& link) {
  FlushReceive(link);
  return false;
}

bool IsOpen(const Link& link) {
  return link.isOpen.load();
}

}  // namespace

bool SendFrame(Link& link, const uint8_t* frame, size_t length) {
  if (!IsOpen(link)) return false;
  DWORD written = 0;
  // The driver takes a non-const buffer but only reads it.
  const FT_STATUS status = link.driver->FT_Write(link.ftHandle, const_cast<uint8_t*>(frame),
                                                 static_cast<DWORD>(length), &written);
  // A write timeout still returns FT_OK, with fewer bytes written.
  return status == FT_OK && written == length;
}

bool WriteRegisters(Link& link, const uint8_t* values, uint8_t first, uint8_t last) {
  const size_t count = RunLength(first, last);
  if (count == 0 || count > kMaxWriteRun) return false;
  uint8_t frame[kMaxWriteFrameSize];
  const size_t length = ComposeWriteFrame(first, values, count, frame);
  return SendFrame(link, frame, length);
}

bool ReadRegisters(Link& link, uint8_t* out, uint8_t first, uint8_t last) {
  const size_t count = RunLength(first, last);
  if (count == 0) return false;
  uint8_t frame[kReadFrameSize];
  ComposeReadFrame(first, last, frame);
  if (!SendFrame(link, frame, sizeof frame)) return false;

  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(kReplyTimeoutMs);
  uint8_t reply[kMaxReadRun * kReplyRecordSize];
  const size_t expected = count * kReplyRecordSize;
  size_t received = 0;
  for (;;) {
    // Checked between reads, which wait kReadTimeoutMs at most: a disconnect meanwhile
    // gets the module soon.
    if (!IsOpen(link)) return false;
    DWORD got = 0;
    if (link.driver->FT_Read(link.ftHandle, reply + received,
                             static_cast<DWORD>(expected - received), &got) != FT_OK) {
      return FailRead(link);
    }
    // A driver reporting more than it was asked for must not move us past the buffer.
    received += got < expected - received ? got : expected - received;
    if (received >= expected) break;
    if (Clock::now() >= deadline) return FailRead(link);
    if (!link.readsWait) platform::SleepMilliseconds(kReplyPollIntervalMs);
  }
  return CheckReplyRecords(reply, count, out) || FailRead(link);
}

bool DrainTransmit(Link& link) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(kDrainTimeoutMs);
  for (uint32_t round = 1;; ++round) {
    // Checked on every round: a module closed meanwhile must not see another driver call.
    if (!IsOpen(link)) return false;
    DWORD rxBytes = 0, txBytes = 1, eventWord = 0;
    link.driver->FT_GetStatus(link.ftHandle, &rxBytes, &txBytes, &eventWord);
    if (txBytes == 0) return true;
    // A count that never reaches 0 (or a call that keeps failing) must not spin for ever.
    if (round % 64 == 0 && Clock::now() >= deadline) return false;
  }
}

bool FlushReceive(Link& link) {
  if (!IsOpen(link)) return false;
  DWORD rxBytes = 0;
  if (link.driver->FT_GetQueueStatus(link.ftHandle, &rxBytes) != FT_OK) return false;
  if (rxBytes > 0 && link.driver->FT_Purge(link.ftHandle, FT_PURGE_RX) != FT_OK) return false;
  return true;
}

}  // namespace korvelan380
