/* A short session with a simulated module: connect it, set the digital port and an output,
 * read them back, disconnect, and print every driver call the simulated module saw, with the
 * bytes that went over the wire. */
#include <stdio.h>

#include "korvelan380.h"
#include "korvelan380_sim.h"

static void PrintTrace(void) {
  const size_t count = ksim_trace_count(NULL);
  for (size_t i = 0; i < count; ++i) {
    unsigned char data[24];
    const size_t length = ksim_trace_data(i, data, sizeof data);
    printf("  %-18s arg=%-4u status=%u", ksim_fn_name(ksim_trace_fn(i)),
           (unsigned)ksim_trace_arg(i), (unsigned)ksim_trace_status(i));
    if (length > 0) {
      printf("  ");
      for (size_t b = 0; b < length && b < sizeof data; ++b) {
        const unsigned char c = data[b];
        /* Frames are ASCII between STX and ETX: show them as text; EEPROM bytes in hex. */
        const int fn = ksim_trace_fn(i);
        const int frame = fn == KSIM_FN_WRITE || fn == KSIM_FN_READ || fn == KSIM_FN_OPEN_EX;
        if (frame && c >= 0x20 && c < 0x7F) {
          putchar(c);
        } else {
          printf("<%02x>", c);
        }
      }
      if (length > sizeof data) printf("... (%zu bytes)", length);
    }
    printf("\n");
  }
}

static int Check(const char* what, StatusCode status) {
  printf("%-40s -> %u\n", what, (unsigned)status);
  return status == KORVELAN380_OK ? 0 : 1;
}

int main(void) {
  const char* id = "7";
  int failures = 0;
  ksim_attach("KORVELAN3807", 128);
  ksim_set_ideal_calibration("KORVELAN3807");
  ksim_set_register("KORVELAN3807", 9, 0xA5); /* what the digital inputs see */

  failures += Check("KORVELAN380_Connect(\"7\")", KORVELAN380_Connect(id));
  failures += Check("KORVELAN380_Dio_Dir(0x0F)", KORVELAN380_Dio_Dir(id, 0x0F));
  failures += Check("KORVELAN380_Dio_Out(0x05)", KORVELAN380_Dio_Out(id, 0x05));
  uint8_t input = 0;
  failures += Check("KORVELAN380_Dio_In", KORVELAN380_Dio_In(id, &input));
  printf("  digital inputs: 0x%02x\n", input);
  failures += Check("KORVELAN380_RangeSet(0, 0: -10..10 V)", KORVELAN380_RangeSet(id, 0, 0));
  failures += Check("KORVELAN380_DacValSet(0, 0x3000: 5 V)", KORVELAN380_DacValSet(id, 0, 0x3000));
  uint16_t raw = 0;
  failures += Check("KORVELAN380_DacValSet_R(0)", KORVELAN380_DacValSet_R(id, 0, &raw));
  printf("  channel 0 reads back raw value 0x%04x\n", raw);
  failures += Check("KORVELAN380_DisConnect(\"7\")", KORVELAN380_DisConnect(id));

  printf("driver calls seen by the simulated module:\n");
  PrintTrace();
  return failures == 0 ? 0 : 1;
}
