// The driver is FTD2XX.dll, bound by the loader when the library itself is loaded: the ten
// functions are imported by the ordinals FTD2XX.dll exports them under (ftd2xx_ordinals.def),
// so nothing is looked up by name at run time.
#include "platform/driver_api.h"

extern "C" {
// x64 has a single calling convention, so the driver's WINAPI needs no spelling here.
__declspec(dllimport) FT_STATUS FT_OpenEx(void* arg, DWORD flags, FT_HANDLE* handle);
__declspec(dllimport) FT_STATUS FT_Close(FT_HANDLE handle);
__declspec(dllimport) FT_STATUS
    FT_Read(FT_HANDLE handle, void* buffer, DWORD toRead, DWORD* bytesRead);
__declspec(dllimport) FT_STATUS
    FT_Write(FT_HANDLE handle, void* buffer, DWORD toWrite, DWORD* written);
__declspec(dllimport) FT_STATUS FT_Purge(FT_HANDLE handle, DWORD mask);
__declspec(dllimport) FT_STATUS FT_GetQueueStatus(FT_HANDLE handle, DWORD* rxBytes);
__declspec(dllimport) FT_STATUS
    FT_GetStatus(FT_HANDLE handle, DWORD* rxBytes, DWORD* txBytes, DWORD* eventWord);
__declspec(dllimport) FT_STATUS FT_EE_UASize(FT_HANDLE handle, DWORD* size);
__declspec(dllimport) FT_STATUS
    FT_EE_UARead(FT_HANDLE handle, unsigned char* data, DWORD length, DWORD* bytesRead);
__declspec(dllimport) FT_STATUS FT_EE_UAWrite(FT_HANDLE handle, unsigned char* data, DWORD length);
}

namespace korvelan380::platform {

bool LoadDriverFunctions(DriverApi& api) {
  // Already bound: without FTD2XX.dll the library does not load at all.
  api.openEx = FT_OpenEx;
  api.close = FT_Close;
  api.read = FT_Read;
  api.write = FT_Write;
  api.purge = FT_Purge;
  api.getQueueStatus = FT_GetQueueStatus;
  api.getStatus = FT_GetStatus;
  api.eeUaSize = FT_EE_UASize;
  api.eeUaRead = FT_EE_UARead;
  api.eeUaWrite = FT_EE_UAWrite;
  return true;
}

}  // namespace korvelan380::platform
