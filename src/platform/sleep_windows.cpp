#include <windows.h>

#include "platform/platform.h"

namespace korvelan380::platform {

void SleepMilliseconds(uint32_t ms) {
  Sleep(ms);
}

}  // namespace korvelan380::platform
