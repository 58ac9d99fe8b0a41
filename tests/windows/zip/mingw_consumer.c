/* A C program built with MinGW against the unpacked ZIP alone: include\korvelan380.h and
 * lib\libkorvelan380.dll.a. It attaches a simulated module through the control functions of the
 * FTD2XX.dll the library was bound to, and checks that this driver came from the ZIP's sim\
 * folder. */
#include <stdio.h>
#include <string.h>
#include <windows.h>

#include "korvelan380.h"

typedef int (*AttachFn)(const char* serial, size_t eepromSize);
typedef uint8_t (*RegisterFn)(const char* serial, uint8_t reg);

int main(void) {
  HMODULE driver = GetModuleHandleA("FTD2XX.dll");
  if (driver == NULL) {
    printf("no FTD2XX.dll in the process\n");
    return 1;
  }
  char path[MAX_PATH];
  GetModuleFileNameA(driver, path, sizeof path);
  const char* tail = strstr(path, "\\sim\\");
  printf("driver: %s\n", tail != NULL ? tail + 1 : path);
  AttachFn attach = NULL;
  RegisterFn reg = NULL;
  *(FARPROC*)&attach = GetProcAddress(driver, "ksim_attach");
  *(FARPROC*)&reg = GetProcAddress(driver, "ksim_register");
  if (attach == NULL || reg == NULL || !attach("KORVELAN3807", 128)) {
    printf("not the simulated module's driver\n");
    return 1;
  }
  uint8_t range = 0;
  const StatusCode connect = KORVELAN380_Connect("7");
  const StatusCode set = KORVELAN380_RangeSet("7", 0, 3);
  const StatusCode get = KORVELAN380_RangeSet_R("7", 0, &range);
  const StatusCode disconnect = KORVELAN380_DisConnect("7");
  /* Channel 0's range is register 34. */
  printf("connect %lu, range set %lu, read back %lu: %u, register %u, disconnect %lu\n",
         (unsigned long)connect, (unsigned long)set, (unsigned long)get, range,
         reg("KORVELAN3807", 34), (unsigned long)disconnect);
  return connect == KORVELAN380_OK && set == KORVELAN380_OK && get == KORVELAN380_OK &&
                 range == 3 && disconnect == KORVELAN380_OK
             ? 0
             : 1;
}
