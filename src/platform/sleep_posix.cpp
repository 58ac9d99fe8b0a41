#include <cerrno>
#include <ctime>

#include "platform/platform.h"

namespace korvelan380::platform {

void SleepMilliseconds(uint32_t ms) {
  timespec remaining{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
  }
}

}  // namespace korvelan380::platform
