/* A driver library that offers nine of the ten functions (no FT_EE_UAWrite): the library must
 * refuse to bind it. Every function it has fails, so nothing could be opened anyway. Built with
 * KORVELAN380_COMPLETE_DRIVER it offers all ten: a driver that is not the simulated module. */
#include "d2xx.h"

#pragma GCC diagnostic ignored "-Wunused-parameter"

__attribute__((visibility("default"))) FT_STATUS FT_OpenEx(void* a, DWORD f, FT_HANDLE* h) {
  (void)a;
  (void)f;
  *h = (FT_HANDLE)0x1;
  return FT_OK;
}
#define FAILING(name, ...)                                             \
  __attribute__((visibility("default"))) FT_STATUS name(__VA_ARGS__) { \
    return FT_OTHER_ERROR;                                             \
  }
FAILING(FT_Close, FT_HANDLE h)
FAILING(FT_Read, FT_HANDLE h, void* b, DWORD n, DWORD* r)
FAILING(FT_Write, FT_HANDLE h, void* b, DWORD n, DWORD* w)
FAILING(FT_Purge, FT_HANDLE h, DWORD m)
FAILING(FT_GetQueueStatus, FT_HANDLE h, DWORD* r)
FAILING(FT_GetStatus, FT_HANDLE h, DWORD* r, DWORD* t, DWORD* e)
FAILING(FT_EE_UASize, FT_HANDLE h, DWORD* s)
FAILING(FT_EE_UARead, FT_HANDLE h, unsigned char* d, DWORD n, DWORD* r)
#ifdef KORVELAN380_COMPLETE_DRIVER
FAILING(FT_EE_UAWrite, FT_HANDLE h, unsigned char* d, DWORD n)
#endif
