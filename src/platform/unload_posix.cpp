#include "device/unload.h"

namespace {

// Runs when the library is unloaded with dlclose and when the process ends.
__attribute__((destructor)) void OnLibraryUnload() {
  korvelan380::UnloadHook();
}

}  // namespace
