/* A driver that answers at once, for benchmarks: it offers the ten D2XX functions, accepts
 * every write, and answers each read frame with records of value 1 (a valid range, an initialised
 * module), so that what is measured is the library's own work. One state per open handle; no locks,
 * because the library never calls one handle from two threads at once, and the counts of frames
 * and replies are only read by single-threaded benchmarks. */
#include "instant_driver.h"

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

/* The driver's types and values as the vendor's header gives them. */
typedef uint32_t FT_STATUS;
typedef uint32_t DWORD;
typedef void* FT_HANDLE;
#define FT_OK 0u
#define FT_INSUFFICIENT_RESOURCES 5u
#define FT_PURGE_RX 1u

#define EXPORT __attribute__((visibility("default")))

static uint64_t framesWritten;
static uint64_t repliesAsked;

EXPORT uint64_t instant_driver_frames_written(void) {
  return framesWritten;
}

EXPORT uint64_t instant_driver_replies_asked(void) {
  return repliesAsked;
}

/* A cache line of its own per handle, so that threads on different modules share nothing. */
typedef struct {
  _Alignas(64) uint32_t pending; /* reply bytes waiting */
} InstantHandle;

static unsigned HexValue(uint8_t c) {
  return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
}

EXPORT FT_STATUS FT_OpenEx(void* arg, DWORD flags, FT_HANDLE* handle) {
  (void)arg;
  (void)flags;
  InstantHandle* h = aligned_alloc(64, sizeof *h);
  if (h == NULL) return FT_INSUFFICIENT_RESOURCES;
  h->pending = 0;
  *handle = h;
  return FT_OK;
}

EXPORT FT_STATUS FT_Close(FT_HANDLE handle) {
  free(handle);
  return FT_OK;
}

EXPORT FT_STATUS FT_Write(FT_HANDLE handle, void* buffer, DWORD length, DWORD* written) {
  const uint8_t* frame = buffer;
  ++framesWritten;
  if (length == 7 && frame[1] == 'R') {
    ++repliesAsked;
    const unsigned first = HexValue(frame[2]) << 4 | HexValue(frame[3]);
    const unsigned last = HexValue(frame[4]) << 4 | HexValue(frame[5]);
    ((InstantHandle*)handle)->pending += 4 * (last - first + 1);
  }
  *written = length;
  return FT_OK;
}

EXPORT FT_STATUS FT_Read(FT_HANDLE handle, void* buffer, DWORD length, DWORD* got) {
  InstantHandle* h = handle;
  const DWORD n = length < h->pending ? length : h->pending;
  uint8_t* out = buffer;
  for (DWORD i = 0; i < n; ++i) out[i] = (i & 3) == 1 ? 'R' : (i & 3) == 2;
  h->pending -= n;
  *got = n;
  return FT_OK;
}

EXPORT FT_STATUS FT_Purge(FT_HANDLE handle, DWORD mask) {
  if (mask & FT_PURGE_RX) ((InstantHandle*)handle)->pending = 0;
  return FT_OK;
}

EXPORT FT_STATUS FT_GetQueueStatus(FT_HANDLE handle, DWORD* rx) {
  *rx = ((InstantHandle*)handle)->pending;
  return FT_OK;
}

EXPORT FT_STATUS FT_GetStatus(FT_HANDLE handle, DWORD* rx, DWORD* tx, DWORD* event) {
  *rx = ((InstantHandle*)handle)->pending;
  *tx = 0;
  *event = 0;
  return FT_OK;
}

EXPORT FT_STATUS FT_EE_UASize(FT_HANDLE handle, DWORD* size) {
  (void)handle;
  *size = 128;
  return FT_OK;
}

/* A stored record with every gain 1/1024 and offset 0x2000, and the outputs initialised, so
 * that a connect does the least work it can. */
EXPORT FT_STATUS FT_EE_UARead(FT_HANDLE handle, unsigned char* data, DWORD length, DWORD* got) {
  (void)handle;
  memset(data, 0, length);
  if (length >= 88) {
    data[0] = 0x55;
    const float gain = 1.0f / 1024.0f;
    for (int i = 0; i < 14; ++i) {
      memcpy(data + 4 + 4 * i, &gain, 4);
      data[60 + 2 * i + 1] = 0x20;
    }
  }
  *got = length;
  return FT_OK;
}

EXPORT FT_STATUS FT_EE_UAWrite(FT_HANDLE handle, unsigned char* data, DWORD length) {
  (void)handle;
  (void)data;
  (void)length;
  return FT_OK;
}
