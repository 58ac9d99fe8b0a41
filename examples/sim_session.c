/* A short session with a simulated module: connect it, disconnect it, and print every driver
 * call the simulated module saw, with the bytes that went over the wire. */
#include <stdio.h>

#include "korvelan380.h"
#include "korvelan380_sim.h"

static void PrintTrace(void) {
  const size_t count = ksim_trace_count(NULL);
  for (size_t i = 0; i < count; ++i) {
    char serial[32];
    unsigned char data[64];
    ksim_trace_serial(i, serial, sizeof serial);
    const size_t length = ksim_trace_data(i, data, sizeof data);
    printf("  %-18s %-14s arg=%-4u status=%u", ksim_fn_name(ksim_trace_fn(i)), serial,
           (unsigned)ksim_trace_arg(i), (unsigned)ksim_trace_status(i));
    if (length > 0) {
      printf("  bytes:");
      for (size_t b = 0; b < length && b < sizeof data; ++b) printf(" %02x", data[b]);
      if (length > sizeof data) printf(" ...");
    }
    printf("\n");
  }
}

int main(void) {
  const char* deviceId = "7";
  ksim_attach("KORVELAN3807", 128);

  StatusCode status = KORVELAN380_Connect(deviceId);
  printf("KORVELAN380_Connect(\"%s\") = %u\n", deviceId, (unsigned)status);
  status = KORVELAN380_DisConnect(deviceId);
  printf("KORVELAN380_DisConnect(\"%s\") = %u\n", deviceId, (unsigned)status);

  printf("driver calls seen by the simulated module:\n");
  PrintTrace();
  return status == KORVELAN380_OK ? 0 : 1;
}
