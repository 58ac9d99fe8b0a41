/* A program of a user's own, built against an installed copy: the public header compiled as C,
 * the library, and the simulated module linked in (so it is the driver the library binds). */
#include <stdio.h>

#include "korvelan380.h"
#include "korvelan380_sim.h"

#define CHECK(call)                                                  \
  do {                                                               \
    const StatusCode status_ = (call);                               \
    if (status_ != KORVELAN380_OK) {                                 \
      fprintf(stderr, "%s returned %u\n", #call, (unsigned)status_); \
      return 1;                                                      \
    }                                                                \
  } while (0)

int main(void) {
  if (!ksim_attach("KORVELAN380c", 128)) return 1;
  ksim_set_ideal_calibration("KORVELAN380c");
  CHECK(KORVELAN380_Connect("c"));
  CHECK(KORVELAN380_RangeSet("c", 0, 0));
  CHECK(KORVELAN380_DacValSet("c", 0, 0x3000));
  uint16_t raw = 0;
  CHECK(KORVELAN380_DacValSet_R("c", 0, &raw));
  /* The code reached the simulated module's output registers, high byte first. */
  const unsigned code =
      (unsigned)ksim_register("KORVELAN380c", 42) << 8 | ksim_register("KORVELAN380c", 43);
  CHECK(KORVELAN380_DisConnect("c"));
  if (raw != 0x3000 || code != 0x3000) {
    fprintf(stderr, "read back raw 0x%04x, code 0x%04x; expected 0x3000\n", (unsigned)raw, code);
    return 1;
  }
  printf("consumer (C): ok\n");
  return 0;
}
