#include <windows.h>

#include "device/unload.h"

// The DLL's entry point. Only the detach from the process matters: the library is unloaded with
// FreeLibrary (reserved is null) or the process is ending (reserved is not null, and the other
// threads are already gone, so a module lock they held is found abandoned and taken over). Either
// way every module still open is closed. Every reason, attach included, returns TRUE.
extern "C" BOOL WINAPI DllMain(HINSTANCE /*instance*/, DWORD reason, LPVOID /*reserved*/) {
  if (reason == DLL_PROCESS_DETACH) korvelan380::UnloadHook();
  return TRUE;
}
