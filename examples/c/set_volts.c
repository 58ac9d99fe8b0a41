/* Sets an output in volts and reads it back.
 *
 *   set_volts [--sim] [deviceId [channel [volts]]]     (default: module "0", channel 0, 2.5 V)
 *
 * Selects the -10..10 V range on the channel, sets the rawValue nearest to the volts (the
 * library calibrates it with the module's calibration before it is sent), and reads the output
 * back as a rawValue. */
#include <stdio.h>
#include <stdlib.h>

#include "example_support.h"
#include "korvelan380.h"

int main(int argc, char** argv) {
  const int sim = TakeSimOption(&argc, argv);
  const char* id = argc > 1 ? argv[1] : "0";
  const uint8_t channel = (uint8_t)(argc > 2 ? atoi(argv[2]) : 0);
  const double volts = argc > 3 ? atof(argv[3]) : 2.5;
  const uint8_t range = 0; /* -10..10 V */
  if (volts < RangeOf(range).bottom || volts > RangeOf(range).top) {
    fprintf(stderr, "%g V is outside the range %s\n", volts, RangeOf(range).name);
    return 2;
  }
  if (sim && UseSimulatedModule(id) != 0) return 1;

  StatusCode status = KORVELAN380_Connect(id);
  if (status != KORVELAN380_OK) return ReportFailure("KORVELAN380_Connect", status);

  int failed = 0;
  const uint16_t raw = RawFromVolts(range, volts);
  uint16_t code = 0;
  uint16_t readBack = 0;
  if ((status = KORVELAN380_RangeSet(id, channel, range)) != KORVELAN380_OK) {
    failed = ReportFailure("KORVELAN380_RangeSet", status);
  } else if ((status = KORVELAN380_DacValSet(id, channel, raw)) != KORVELAN380_OK) {
    failed = ReportFailure("KORVELAN380_DacValSet", status);
  } else if ((status = KORVELAN380_DacValSet_R(id, channel, &readBack)) != KORVELAN380_OK) {
    failed = ReportFailure("KORVELAN380_DacValSet_R", status);
  } else if ((status = KORVELANGetCalibedVal(id, channel, range, raw, &code)) != KORVELAN380_OK) {
    /* The code the library sent for the rawValue: no transfer, only the calibration. */
    failed = ReportFailure("KORVELANGetCalibedVal", status);
  } else {
    printf("channel %u (%s): %g V is raw value %u (0x%04x), sent as code 0x%04x\n",
           (unsigned)channel, RangeOf(range).name, volts, (unsigned)raw, (unsigned)raw,
           (unsigned)code);
    printf("read back: raw value %u = %.4f V\n", (unsigned)readBack, VoltsFromRaw(range, readBack));
  }

  KORVELAN380_DisConnect(id);
  return failed;
}
