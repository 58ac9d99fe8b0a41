// Loads a waveform into a channel's memory and starts it.
//
//   waveform_cpp [--sim] [deviceId [channel [samples]]]   (default: module "0", channel 0, 4096)
//
// A triangle from -8 V to 8 V in the -10..10 V range, as rawValues: the library calibrates each
// sample for the range the module reports for the channel and streams them all in one
// transfer (up to 524288 samples). The FIFO status, a clock setting and the trigger follow.
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "example.hpp"

int main(int argc, char** argv) {
  const bool sim = TakeSimOption(&argc, argv);
  const std::string id = argc > 1 ? argv[1] : "0";
  const auto channel = static_cast<uint8_t>(argc > 2 ? std::stoi(argv[2]) : 0);
  const int count = argc > 3 ? std::stoi(argv[3]) : 4096;
  const uint8_t range = 0;  // -10..10 V
  if (count < 2 || count > 524288) {
    std::fprintf(stderr, "a waveform here has 2 to 524288 samples, not %d\n", count);
    return 2;
  }
  if (sim && UseSimulatedModule(id.c_str()) != 0) return 1;

  // Up for the first half, down for the second.
  std::vector<uint16_t> samples(static_cast<size_t>(count));
  for (size_t i = 0; i < samples.size(); ++i) {
    const double phase = static_cast<double>(i) / static_cast<double>(samples.size());
    const double volts = -8.0 + 16.0 * (phase < 0.5 ? 2.0 * phase : 2.0 - 2.0 * phase);
    samples[i] = RawFromVolts(range, volts);
  }

  return example::Run([&] {
    example::Connection module(id);
    example::Check("KORVELAN380_RangeSet", KORVELAN380_RangeSet(module.id(), channel, range));
    example::Check("KORVELAN380_WavImgSet",
                   KORVELAN380_WavImgSet(module.id(), channel, samples.data(), count));
    uint8_t flag7[2];
    uint8_t flag6[2];
    uint32_t counter[2];
    example::Check("KORVELAN380_Fifo_Status",
                   KORVELAN380_Fifo_Status(module.id(), flag7, flag6, counter));
    example::Check("KORVELAN380_Clock_Gen", KORVELAN380_Clock_Gen(module.id(), channel, 500));
    example::Check("KORVELAN380_Trigger", KORVELAN380_Trigger(module.id(), channel, 1));
    std::printf("channel %u (%s): loaded a triangle of %d samples, -8 V to 8 V; started\n",
                unsigned{channel}, RangeOf(range).name, count);
    std::printf("FIFO status: flags %u %u, counter %u\n", unsigned{flag7[channel]},
                unsigned{flag6[channel]}, unsigned{counter[channel]});
  });
}
