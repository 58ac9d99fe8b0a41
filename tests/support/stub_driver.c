/* The driver that stands in for FTDI's where the simulated module would be in the way (see
 * stub_driver.h). The exported functions come from the one list of driver functions; each hands
 * its call to the answer below of the same name. Built with KORVELAN380_STUB_FAILS, every
 * function but the open fails: a driver that is not the simulated module and reaches no module.
 *
 * One state per open handle, in a cache line of its own so that threads on different modules
 * share nothing; no locks, because the library never calls one handle from two threads at
 * once. The script is for single-threaded fuzzers. */
#include "stub_driver.h"

#include <stdlib.h>
#include <string.h>

#include "d2xx.h"

#define STUB_EXPORT __attribute__((visibility("default")))

typedef struct {
  _Alignas(64) uint32_t pending; /* reply bytes waiting */
} StubHandle;

static uint64_t framesWritten;
static uint64_t repliesAsked;

/* The functions called, by number, the first STUB_LOG_SIZE of them. */
#define STUB_LOG_SIZE 256
static uint8_t callLog[STUB_LOG_SIZE];
static size_t callCount;

static struct {
  int active;
  const uint8_t* reply;
  size_t replySize, replyAt;
  const uint8_t* pieces;
  size_t pieceCount, pieceAt;
  const uint8_t* eeprom;
  size_t eepromSize;
} script;

STUB_EXPORT void stub_driver_script(const uint8_t* reply, size_t replySize, const uint8_t* pieces,
                                    size_t pieceCount, const uint8_t* eeprom, size_t eepromSize) {
  script.active = 1;
  script.reply = reply;
  script.replySize = replySize;
  script.replyAt = 0;
  script.pieces = pieces;
  script.pieceCount = pieceCount;
  script.pieceAt = 0;
  script.eeprom = eeprom;
  script.eepromSize = eepromSize;
}

STUB_EXPORT uint64_t stub_driver_frames_written(void) {
  return framesWritten;
}

STUB_EXPORT uint64_t stub_driver_replies_asked(void) {
  return repliesAsked;
}

STUB_EXPORT size_t stub_driver_calls(uint8_t* out, size_t capacity) {
  const size_t kept = callCount < STUB_LOG_SIZE ? callCount : STUB_LOG_SIZE;
  memcpy(out, callLog, kept < capacity ? kept : capacity);
  return callCount;
}

static void LogCall(int fn) {
  if (callCount < STUB_LOG_SIZE) callLog[callCount] = (uint8_t)fn;
  ++callCount;
}

static unsigned HexValue(uint8_t c) {
  return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
}

static uint32_t Waiting(FT_HANDLE handle) {
  return script.active ? (uint32_t)(script.replySize - script.replyAt)
                       : ((StubHandle*)handle)->pending;
}

static FT_STATUS Answer_FT_OpenEx(void* arg, DWORD flags, FT_HANDLE* handle) {
  (void)arg;
  (void)flags;
#ifdef KORVELAN380_STUB_FAILS
  /* Its close fails too: nothing may be allocated that would stay behind. */
  static StubHandle unclosable;
  *handle = &unclosable;
#else
  StubHandle* h = aligned_alloc(64, sizeof *h);
  if (h == NULL) return FT_INSUFFICIENT_RESOURCES;
  h->pending = 0;
  *handle = h;
#endif
  return FT_OK;
}

static FT_STATUS Answer_FT_Close(FT_HANDLE handle) {
  free(handle);
  return FT_OK;
}

/* A read frame is STX 'R' FIRST LAST ETX, the registers in two hex digits each; its reply is
 * one 4-byte record per register. */
static FT_STATUS Answer_FT_Write(FT_HANDLE handle, void* buffer, DWORD length, DWORD* written) {
  const uint8_t* frame = buffer;
  ++framesWritten;
  if (length == 7 && frame[1] == 'R') {
    ++repliesAsked;
    const unsigned first = HexValue(frame[2]) << 4 | HexValue(frame[3]);
    const unsigned last = HexValue(frame[4]) << 4 | HexValue(frame[5]);
    ((StubHandle*)handle)->pending += 4 * (last - first + 1);
  }
  *written = length;
  return FT_OK;
}

/* The next piece of the script; a failure once it has run out. */
static FT_STATUS ReadScript(uint8_t* out, DWORD length, DWORD* got) {
  *got = 0;
  if (script.replyAt >= script.replySize) return FT_IO_ERROR;
  size_t n = script.pieceAt < script.pieceCount ? script.pieces[script.pieceAt++] : length;
  if (n == 0) n = 1; /* an empty read would cost the library a 10 ms pause */
  if (n > length) n = length;
  if (n > script.replySize - script.replyAt) n = script.replySize - script.replyAt;
  memcpy(out, script.reply + script.replyAt, n);
  script.replyAt += n;
  *got = (DWORD)n;
  return FT_OK;
}

/* Records "?R\x01\x00": register value 1. */
static FT_STATUS Answer_FT_Read(FT_HANDLE handle, void* buffer, DWORD length, DWORD* got) {
  if (script.active) return ReadScript(buffer, length, got);
  StubHandle* h = handle;
  const DWORD n = length < h->pending ? length : h->pending;
  uint8_t* out = buffer;
  for (DWORD i = 0; i < n; ++i) out[i] = (i & 3) == 1 ? 'R' : (i & 3) == 2;
  h->pending -= n;
  *got = n;
  return FT_OK;
}

static FT_STATUS Answer_FT_Purge(FT_HANDLE handle, DWORD mask) {
  if (mask & FT_PURGE_RX) ((StubHandle*)handle)->pending = 0;
  return FT_OK;
}

static FT_STATUS Answer_FT_GetQueueStatus(FT_HANDLE handle, DWORD* rx) {
  *rx = Waiting(handle);
  return FT_OK;
}

static FT_STATUS Answer_FT_GetStatus(FT_HANDLE handle, DWORD* rx, DWORD* tx, DWORD* event) {
  *rx = Waiting(handle);
  *tx = 0;
  *event = 0;
  return FT_OK;
}

static FT_STATUS Answer_FT_EE_UASize(FT_HANDLE handle, DWORD* size) {
  (void)handle;
  *size = script.active ? (DWORD)script.eepromSize : 128;
  return FT_OK;
}

/* Unscripted, a stored record with every gain 1/1024 and offset 0x2000, so that a connect does
 * the least work it can. */
static FT_STATUS Answer_FT_EE_UARead(FT_HANDLE handle, unsigned char* data, DWORD length,
                                     DWORD* got) {
  (void)handle;
  if (script.active) {
    const size_t n = length < script.eepromSize ? length : script.eepromSize;
    memcpy(data, script.eeprom, n);
    *got = (DWORD)n;
    return FT_OK;
  }
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

static FT_STATUS Answer_FT_EE_UAWrite(FT_HANDLE handle, unsigned char* data, DWORD length) {
  (void)handle;
  (void)data;
  (void)length;
  return FT_OK;
}

static FT_STATUS Answer_FT_SetTimeouts(FT_HANDLE handle, DWORD readTimeoutMs,
                                       DWORD writeTimeoutMs) {
  (void)handle;
  (void)readTimeoutMs;
  (void)writeTimeoutMs;
  return FT_OK;
}

static FT_STATUS Answer_FT_SetLatencyTimer(FT_HANDLE handle, UCHAR milliseconds) {
  (void)handle;
  return milliseconds == 0 ? FT_INVALID_PARAMETER : FT_OK;
}

#ifdef KORVELAN380_STUB_FAILS
#define STUB_REFUSAL(fn) ((fn) == D2XX_FT_OpenEx ? FT_OK : FT_OTHER_ERROR)
#else
#define STUB_REFUSAL(fn) FT_OK
#endif

/* A driver built without a function names it as a macro, so that the function is exported
 * under another name: FT_EE_UAWrite=FT_EE_UAWrite_left_out. */
#define D2XX_FUNCTION(name, ordinal, params, args)          \
  STUB_EXPORT FT_STATUS name params {                       \
    LogCall(D2XX_##name);                                   \
    const FT_STATUS refusal = STUB_REFUSAL(D2XX_##name);    \
    return refusal != FT_OK ? refusal : Answer_##name args; \
  }
#include "d2xx_functions.inc"
#undef D2XX_FUNCTION
