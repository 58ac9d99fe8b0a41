// Sets an output in volts and reads it back, as a rawValue and as the code in the module's
// output registers.
//
//   set_volts_cpp [--sim] [deviceId [channel [volts]]]   (default: module "0", channel 0, -1.25 V)
//
// Selects the -5..5 V range on the channel and sets the rawValue nearest to the volts; the
// library calibrates it with the module's calibration before it is sent.
#include <cstdio>
#include <string>

#include "example.hpp"

int main(int argc, char** argv) {
  const bool sim = TakeSimOption(&argc, argv);
  const std::string id = argc > 1 ? argv[1] : "0";
  const auto channel = static_cast<uint8_t>(argc > 2 ? std::stoi(argv[2]) : 0);
  const double volts = argc > 3 ? std::stod(argv[3]) : -1.25;
  const uint8_t range = 1;  // -5..5 V
  if (volts < RangeOf(range).bottom || volts > RangeOf(range).top) {
    std::fprintf(stderr, "%g V is outside the range %s\n", volts, RangeOf(range).name);
    return 2;
  }
  if (sim && UseSimulatedModule(id.c_str()) != 0) return 1;

  return example::Run([&] {
    example::Connection module(id);
    example::Check("KORVELAN380_RangeSet", KORVELAN380_RangeSet(module.id(), channel, range));
    const uint16_t raw = RawFromVolts(range, volts);
    example::Check("KORVELAN380_DacValSet", KORVELAN380_DacValSet(module.id(), channel, raw));

    uint16_t readBack = 0;
    example::Check("KORVELAN380_DacValSet_R",
                   KORVELAN380_DacValSet_R(module.id(), channel, &readBack));
    // The code itself: this read-back has C++ linkage, so only C++ calls it by name.
    uint16_t code = 0;
    example::Check("KORVELAN380_DacValSet_NoCalibed_R",
                   KORVELAN380_DacValSet_NoCalibed_R(module.id(), channel, &code));
    std::printf("channel %u (%s): %g V is raw value %u (0x%04x)\n", unsigned{channel},
                RangeOf(range).name, volts, unsigned{raw}, unsigned{raw});
    std::printf("read back: raw value %u = %.4f V, code 0x%04x\n", unsigned{readBack},
                VoltsFromRaw(range, readBack), unsigned{code});
  });
}
