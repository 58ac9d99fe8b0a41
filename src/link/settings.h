// The driver's settings for an open handle: the timeouts that keep every transfer finite, and
// the chip's latency timer.
#ifndef KORVELAN380_LINK_SETTINGS_H
#define KORVELAN380_LINK_SETTINGS_H

#include <cstdint>
#include <optional>

#include "link/link.h"
#include "link/stream.h"

namespace korvelan380 {

// Short, so that a disconnect on another thread gets the module within about this long while a
// read waits for a reply; the reply budget (kReplyTimeoutMs) is made of many such waits.
inline constexpr uint32_t kReadTimeoutMs = 100;

// The largest single write is a waveform's body. Full-speed USB carries about 1 MB/s; a quarter
// of that leaves room for a shared bus, and still ends a write into a stuck link.
inline constexpr uint32_t kLargestWriteBytes = kMaxStreamSamples * kStreamBytesPerSample;
inline constexpr uint32_t kSlowestLinkBytesPerSecond = 250'000;
inline constexpr uint32_t kWriteTimeoutMs =
    static_cast<uint32_t>(uint64_t{kLargestWriteBytes} * 1000 / kSlowestLinkBytesPerSecond + 1);

// Sets the read and write timeouts on the link's freshly opened handle, when the driver has
// FT_SetTimeouts. The link's readsWait says whether the driver took them; a driver without them,
// or one that refuses them, is read by polling instead.
void SetLinkTimeouts(Link& link);

// The latency timer values the chip accepts, in milliseconds.
inline constexpr uint32_t kMinLatencyMs = 1;
inline constexpr uint32_t kMaxLatencyMs = 255;
inline bool LatencyAccepted(uint32_t milliseconds) {
  return milliseconds >= kMinLatencyMs && milliseconds <= kMaxLatencyMs;
}

enum class LatencyResult { kSet, kNoSuchSetting, kRefused };

// Sets the chip's latency timer (an accepted value) while the link is open.
LatencyResult SetLatencyTimer(Link& link, uint32_t milliseconds);

// KORVELAN380_LATENCY_MS as an accepted latency: a whole number of milliseconds written in
// decimal digits only. Nothing for a variable that is unset or holds anything else.
std::optional<uint32_t> LatencyFromEnvironment();

}  // namespace korvelan380

#endif  // KORVELAN380_LINK_SETTINGS_H
