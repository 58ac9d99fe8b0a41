// Waveforms, as the command line and the panel both make and load them: generated or read,
// converted for the channel's range, and loaded into its memory or its FIFO.
#ifndef KORVELAN380_TOOL_ACTIONS_WAVEFORM_H
#define KORVELAN380_TOOL_ACTIONS_WAVEFORM_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/session.h"
#include "core/samples.h"
#include "core/values.h"

namespace korvelan380::tool {

// A generated waveform: `cycles` periods of `shape` over `samples` samples, in volts.
struct Generator {
  std::string shape;  // sine, square, triangle, saw
  uint32_t samples = 1024;
  double cycles = 1;
  std::optional<double> amplitude;  // default: 90% of half the range
  std::optional<double> offset;     // default: the middle of the range
};

// One period of sine, square, triangle or saw (any other name) at phase 0..1, from -1 to 1.
double Shape(const std::string& shape, double phase);
std::vector<double> Generate(const Generator& g, const Range& range);

// A waveform on its way to a channel.
struct Waveform {
  uint8_t channel = 0;
  uint8_t rangeIndex = 0;
  const Range* range = nullptr;  // null only for codes, which do not depend on it
  Units units = Units::kVolts;
  std::vector<uint16_t> values;  // raw values, or codes as given
  std::vector<size_t> clipped;   // the volts outside the range, held at its limits
};

// The channel's range register, read before a waveform is made for it: any value for codes,
// which do not depend on it; an output range for volts and raw values, or an error.
uint8_t WaveRange(Session& s, uint8_t channel, Units units);
// The samples converted for the range (an output range, as WaveRange gives it, unless they are
// codes): volts to its raw values, those outside it held at its
// limits and counted; raw values and codes as they are.
Waveform MakeWaveform(uint8_t channel, uint8_t rangeIndex, Units units,
                      const std::vector<double>& samples);

enum class WaveTarget { kMemory, kFifo };

// Loads the waveform. Raw values go through the module's calibration on both ways: the memory
// load calibrates them itself, and for the FIFO each is calibrated here first; codes go to the
// FIFO as given, and cannot go to the memory. Throws a usage error, before anything is sent,
// for too many samples, codes for the memory, or clipped samples without `clip` (with
// `clipHint` as its hint).
void LoadWaveform(Session& s, const Waveform& w, WaveTarget target, bool clip,
                  const std::string& clipHint);

// The library call that takes the waveform to `target`.
const char* LoadCall(WaveTarget target);

}  // namespace korvelan380::tool

#endif  // KORVELAN380_TOOL_ACTIONS_WAVEFORM_H
