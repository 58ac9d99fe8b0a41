#include "link/settings.h"

#include <cstdlib>

namespace korvelan380 {

void SetLinkTimeouts(Link& link) {
  link.readsWait =
      link.driver->FT_SetTimeouts != nullptr &&
      link.driver->FT_SetTimeouts(link.ftHandle, kReadTimeoutMs, kWriteTimeoutMs) == FT_OK;
}

LatencyResult SetLatencyTimer(Link& link, uint32_t milliseconds) {
  if (link.driver->FT_SetLatencyTimer == nullptr) return LatencyResult::kNoSuchSetting;
  if (!link.isOpen.load()) return LatencyResult::kRefused;
  const FT_STATUS status =
      link.driver->FT_SetLatencyTimer(link.ftHandle, static_cast<UCHAR>(milliseconds));
  return status == FT_OK ? LatencyResult::kSet : LatencyResult::kRefused;
}

std::optional<uint32_t> LatencyFromEnvironment() {
  const char* text = std::getenv("KORVELAN380_LATENCY_MS");
  // Digits only: strtoul alone would take a sign, spaces, or a number with text after it.
  if (text == nullptr || *text < '0' || *text > '9') return std::nullopt;
  char* end = nullptr;
  // Compared as read: a number too large for 32 bits must not wrap into the accepted range.
  const unsigned long value = std::strtoul(text, &end, 10);
  if (*end != '\0' || value < kMinLatencyMs || value > kMaxLatencyMs) return std::nullopt;
  return static_cast<uint32_t>(value);
}

}  // namespace korvelan380
