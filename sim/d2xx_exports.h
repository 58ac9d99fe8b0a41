// The ten driver functions this library exports under their D2XX names, so that a program that
// loads libftd2xx.so finds the simulated module behind them.
#ifndef KORVELAN380_SIM_D2XX_EXPORTS_H
#define KORVELAN380_SIM_D2XX_EXPORTS_H

#include "platform/d2xx.h"

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
#define KSIM_D2XX_EXPORT  // ftd2xx.def exports them, at the driver's ordinals
#else
#define KSIM_D2XX_EXPORT __attribute__((visibility("default")))
#endif

KSIM_D2XX_EXPORT FT_STATUS FT_OpenEx(void* arg, DWORD flags, FT_HANDLE* handle);
KSIM_D2XX_EXPORT FT_STATUS FT_Close(FT_HANDLE handle);
KSIM_D2XX_EXPORT FT_STATUS FT_Read(FT_HANDLE handle, void* buffer, DWORD toRead, DWORD* bytesRead);
KSIM_D2XX_EXPORT FT_STATUS FT_Write(FT_HANDLE handle, void* buffer, DWORD toWrite, DWORD* written);
KSIM_D2XX_EXPORT FT_STATUS FT_Purge(FT_HANDLE handle, DWORD mask);
KSIM_D2XX_EXPORT FT_STATUS FT_GetQueueStatus(FT_HANDLE handle, DWORD* rxBytes);
KSIM_D2XX_EXPORT FT_STATUS FT_GetStatus(FT_HANDLE handle, DWORD* rxBytes, DWORD* txBytes,
                                        DWORD* eventWord);
KSIM_D2XX_EXPORT FT_STATUS FT_EE_UASize(FT_HANDLE handle, DWORD* size);
KSIM_D2XX_EXPORT FT_STATUS FT_EE_UARead(FT_HANDLE handle, unsigned char* data, DWORD length,
                                        DWORD* bytesRead);
KSIM_D2XX_EXPORT FT_STATUS FT_EE_UAWrite(FT_HANDLE handle, unsigned char* data, DWORD length);

#ifdef __cplusplus
}
#endif

#endif  // KORVELAN380_SIM_D2XX_EXPORTS_H
