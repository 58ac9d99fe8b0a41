// A C++ program compiled for Microsoft's ABI (clang) and linked by lld-link against
// lib\korvelan380.lib, so that it calls KORVELAN380_DacValSet_NoCalibed_R under the name
// Microsoft's compiler gives it. It has no C runtime (none is at hand without Microsoft's
// libraries): it starts at Start, takes three functions from a kernel32 import library made
// beside it, and reports through its exit code.
#include "korvelan380.h"

extern "C" {
__declspec(dllimport) void* __stdcall GetModuleHandleA(const char* name);
__declspec(dllimport) void* __stdcall GetProcAddress(void* module, const char* name);
__declspec(dllimport) void __stdcall ExitProcess(unsigned code);
}

using AttachFn = int (*)(const char* serial, size_t eepromSize);

extern "C" void Start() {
  void* driver = GetModuleHandleA("FTD2XX.dll");
  void* found = driver != nullptr ? GetProcAddress(driver, "ksim_attach") : nullptr;
  if (found == nullptr) ExitProcess(10);
  if (!reinterpret_cast<AttachFn>(found)("KORVELAN3807", 128)) ExitProcess(11);
  if (KORVELAN380_Connect("7") != KORVELAN380_OK) ExitProcess(12);
  uint16_t raw = 0xFFFF;
  if (KORVELAN380_DacValSet_NoCalibed("7", 1, 0x1234) != KORVELAN380_OK) ExitProcess(13);
  if (KORVELAN380_DacValSet_NoCalibed_R("7", 1, &raw) != KORVELAN380_OK) ExitProcess(14);
  if (raw != 0x1234) ExitProcess(15);
  if (KORVELAN380_DisConnect("7") != KORVELAN380_OK) ExitProcess(16);
  ExitProcess(0);
}
