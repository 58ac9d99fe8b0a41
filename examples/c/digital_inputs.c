/* Reads the digital inputs.
 *
 *   digital_inputs [--sim] [deviceId]     (default: module "0")
 *
 * Makes all eight lines of the digital port inputs (a clear direction bit), reads them and
 * prints each line's level; then reads the EXIO input byte. */
#include <stdio.h>

#include "example_support.h"
#include "korvelan380.h"

int main(int argc, char** argv) {
  const int sim = TakeSimOption(&argc, argv);
  const char* id = argc > 1 ? argv[1] : "0";
  if (sim && UseSimulatedModule(id) != 0) return 1;

  StatusCode status = KORVELAN380_Connect(id);
  if (status != KORVELAN380_OK) return ReportFailure("KORVELAN380_Connect", status);

  int failed = 0;
  uint8_t inputs = 0;
  uint8_t exio = 0;
  if ((status = KORVELAN380_Dio_Dir(id, 0x00)) != KORVELAN380_OK) {
    failed = ReportFailure("KORVELAN380_Dio_Dir", status);
  } else if ((status = KORVELAN380_Dio_In(id, &inputs)) != KORVELAN380_OK) {
    failed = ReportFailure("KORVELAN380_Dio_In", status);
  } else if ((status = KORVELAN380_EXIO_In(id, &exio)) != KORVELAN380_OK) {
    failed = ReportFailure("KORVELAN380_EXIO_In", status);
  } else {
    printf("digital inputs: 0x%02x\n", (unsigned)inputs);
    for (int line = 7; line >= 0; --line) {
      printf("  line %d: %s\n", line, (inputs >> line) & 1 ? "high" : "low");
    }
    printf("EXIO inputs: 0x%02x\n", (unsigned)exio);
  }

  KORVELAN380_DisConnect(id);
  return failed;
}
