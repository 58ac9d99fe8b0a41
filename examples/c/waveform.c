/* Loads a waveform into a channel's memory and starts it.
 *
 *   waveform [--sim] [deviceId [channel]]     (default: module "0", channel 1)
 *
 * One period of a sine, 1000 samples from 0.5 V to 4.5 V, in the 0..5 V range. The samples are
 * rawValues: the library calibrates each for the range the module reports for the channel, and
 * streams them all in one transfer. A clock setting for the channel and the trigger then start
 * it. */
#include <math.h>
#include <stdio.h>
#include <stdlib.h>

#include "example_support.h"
#include "korvelan380.h"

#define SAMPLES 1000

int main(int argc, char** argv) {
  const int sim = TakeSimOption(&argc, argv);
  const char* id = argc > 1 ? argv[1] : "0";
  const uint8_t channel = (uint8_t)(argc > 2 ? atoi(argv[2]) : 1);
  const uint8_t range = 5;            /* 0..5 V */
  const uint32_t clockSetting = 1000; /* at least 99 */
  if (sim && UseSimulatedModule(id) != 0) return 1;

  static uint16_t samples[SAMPLES];
  const double pi = 3.14159265358979323846;
  for (int i = 0; i < SAMPLES; ++i) {
    samples[i] = RawFromVolts(range, 2.5 + 2.0 * sin(2.0 * pi * i / SAMPLES));
  }

  StatusCode status = KORVELAN380_Connect(id);
  if (status != KORVELAN380_OK) return ReportFailure("KORVELAN380_Connect", status);

  int failed = 0;
  uint8_t triggerStatus = 0;
  if ((status = KORVELAN380_RangeSet(id, channel, range)) != KORVELAN380_OK) {
    failed = ReportFailure("KORVELAN380_RangeSet", status);
  } else if ((status = KORVELAN380_WavImgSet(id, channel, samples, SAMPLES)) != KORVELAN380_OK) {
    failed = ReportFailure("KORVELAN380_WavImgSet", status);
  } else if ((status = KORVELAN380_Clock_Gen(id, channel, clockSetting)) != KORVELAN380_OK) {
    failed = ReportFailure("KORVELAN380_Clock_Gen", status);
  } else if ((status = KORVELAN380_Trigger(id, channel, 1)) != KORVELAN380_OK) { /* 1: start */
    failed = ReportFailure("KORVELAN380_Trigger", status);
  } else if ((status = KORVELAN380_Trigger_Stat(id, channel, &triggerStatus)) != KORVELAN380_OK) {
    failed = ReportFailure("KORVELAN380_Trigger_Stat", status);
  } else {
    printf("channel %u (%s): loaded %d samples, 0.5 V to 4.5 V; clock setting %u; started\n",
           (unsigned)channel, RangeOf(range).name, SAMPLES, (unsigned)clockSetting);
    printf("trigger status: %u\n", (unsigned)triggerStatus);
  }

  KORVELAN380_DisConnect(id);
  return failed;
}
