// The ten functions of the FTDI D2XX driver that the library uses, declared here so that no
// driver headers are needed to build. FT_STATUS and DWORD are 32-bit unsigned on every platform
// the driver supports; a handle is an opaque pointer.
#ifndef KORVELAN380_LINK_D2XX_H
#define KORVELAN380_LINK_D2XX_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef uint32_t FT_STATUS;
typedef uint32_t DWORD;
typedef void* FT_HANDLE;

enum {
  FT_OK = 0,
  FT_INVALID_HANDLE = 1,
  FT_DEVICE_NOT_FOUND = 2,
  FT_DEVICE_NOT_OPENED = 3,
  FT_IO_ERROR = 4,
  FT_INSUFFICIENT_RESOURCES = 5,
  FT_INVALID_PARAMETER = 6,
  FT_EEPROM_READ_FAILED = 11,
  FT_EEPROM_WRITE_FAILED = 12,
  FT_OTHER_ERROR = 18
};

enum { FT_OPEN_BY_SERIAL_NUMBER = 1 };
enum { FT_PURGE_RX = 1, FT_PURGE_TX = 2 };

typedef FT_STATUS (*FT_OpenEx_t)(void* arg, DWORD flags, FT_HANDLE* handle);
typedef FT_STATUS (*FT_Close_t)(FT_HANDLE handle);
typedef FT_STATUS (*FT_Read_t)(FT_HANDLE handle, void* buffer, DWORD toRead, DWORD* bytesRead);
typedef FT_STATUS (*FT_Write_t)(FT_HANDLE handle, void* buffer, DWORD toWrite, DWORD* written);
typedef FT_STATUS (*FT_Purge_t)(FT_HANDLE handle, DWORD mask);
typedef FT_STATUS (*FT_GetQueueStatus_t)(FT_HANDLE handle, DWORD* rxBytes);
typedef FT_STATUS (*FT_GetStatus_t)(FT_HANDLE handle, DWORD* rxBytes, DWORD* txBytes,
                                    DWORD* eventWord);
typedef FT_STATUS (*FT_EE_UASize_t)(FT_HANDLE handle, DWORD* size);
typedef FT_STATUS (*FT_EE_UARead_t)(FT_HANDLE handle, unsigned char* data, DWORD length,
                                    DWORD* bytesRead);
typedef FT_STATUS (*FT_EE_UAWrite_t)(FT_HANDLE handle, unsigned char* data, DWORD length);

#ifdef __cplusplus
}
#endif

#endif  // KORVELAN380_LINK_D2XX_H
