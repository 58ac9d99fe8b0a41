/* A driver whose answers come from the fuzzer: FT_Read hands out a scripted byte stream in
 * scripted pieces, and the EEPROM user area is scripted too. Writes are accepted and
 * dropped. When the script runs out, reads fail at once, so no call waits out a reply poll. */
#include <stdint.h>
#include <string.h>

#include "d2xx.h"

#define EXPORT __attribute__((visibility("default")))

static const uint8_t* replyBytes;
static size_t replyLength, replyAt;
static const uint8_t* pieceSizes;
static size_t pieceCount, pieceAt;
static const uint8_t* eepromBytes;
static size_t eepromLength;
static int handleToken;

EXPORT void FuzzDriverScript(const uint8_t* reply, size_t replySize, const uint8_t* pieces,
                             size_t pieceSize, const uint8_t* eeprom, size_t eepromSize) {
  replyBytes = reply;
  replyLength = replySize;
  replyAt = 0;
  pieceSizes = pieces;
  pieceCount = pieceSize;
  pieceAt = 0;
  eepromBytes = eeprom;
  eepromLength = eepromSize;
}

EXPORT FT_STATUS FT_OpenEx(void* arg, DWORD flags, FT_HANDLE* handle) {
  (void)arg;
  (void)flags;
  *handle = &handleToken;
  return FT_OK;
}
EXPORT FT_STATUS FT_Close(FT_HANDLE handle) {
  (void)handle;
  return FT_OK;
}
EXPORT FT_STATUS FT_Write(FT_HANDLE handle, void* buffer, DWORD length, DWORD* written) {
  (void)handle;
  (void)buffer;
  *written = length;
  return FT_OK;
}
EXPORT FT_STATUS FT_Read(FT_HANDLE handle, void* buffer, DWORD length, DWORD* got) {
  (void)handle;
  *got = 0;
  if (replyAt >= replyLength) return FT_IO_ERROR;
  size_t n = pieceAt < pieceCount ? pieceSizes[pieceAt++] : length;
  if (n == 0) n = 1; /* an empty read would cost the library a 10 ms pause */
  if (n > length) n = length;
  if (n > replyLength - replyAt) n = replyLength - replyAt;
  memcpy(buffer, replyBytes + replyAt, n);
  replyAt += n;
  *got = (DWORD)n;
  return FT_OK;
}
EXPORT FT_STATUS FT_Purge(FT_HANDLE handle, DWORD mask) {
  (void)handle;
  (void)mask;
  return FT_OK;
}
EXPORT FT_STATUS FT_GetQueueStatus(FT_HANDLE handle, DWORD* rx) {
  (void)handle;
  *rx = (DWORD)(replyLength - replyAt);
  return FT_OK;
}
EXPORT FT_STATUS FT_GetStatus(FT_HANDLE handle, DWORD* rx, DWORD* tx, DWORD* event) {
  (void)handle;
  *rx = (DWORD)(replyLength - replyAt);
  *tx = 0;
  *event = 0;
  return FT_OK;
}
EXPORT FT_STATUS FT_EE_UASize(FT_HANDLE handle, DWORD* size) {
  (void)handle;
  *size = (DWORD)eepromLength;
  return FT_OK;
}
EXPORT FT_STATUS FT_EE_UARead(FT_HANDLE handle, unsigned char* data, DWORD length, DWORD* got) {
  (void)handle;
  const size_t n = length < eepromLength ? length : eepromLength;
  memcpy(data, eepromBytes, n);
  *got = (DWORD)n;
  return FT_OK;
}
EXPORT FT_STATUS FT_EE_UAWrite(FT_HANDLE handle, unsigned char* data, DWORD length) {
  (void)handle;
  (void)data;
  (void)length;
  return FT_OK;
}
