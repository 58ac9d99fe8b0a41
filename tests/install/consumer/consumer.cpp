// A program of a user's own, built against an installed copy: the public header compiled as
// C++ (with the export of C++ linkage), the library, and the simulated module's C++ interface.
#include <cstdio>

#include "korvelan380.h"
#include "korvelan380_sim.hpp"

int main() {
  namespace sim = korvelan380::sim;
  const std::string serial = sim::SerialOf("cpp");
  sim::Attach(serial);
  sim::SetIdealCalibration(serial);
  if (KORVELAN380_Connect("cpp") != KORVELAN380_OK) return 1;
  uint16_t code = 0;
  const bool ok = KORVELAN380_DacValSet_NoCalibed("cpp", 1, 0xBEEC) == KORVELAN380_OK &&
                  KORVELAN380_DacValSet_NoCalibed_R("cpp", 1, &code) == KORVELAN380_OK;
  KORVELAN380_DisConnect("cpp");
  if (!ok || code != 0xBEEC) {
    std::fprintf(stderr, "read back code 0x%04x; expected 0xbeec\n", unsigned{code});
    return 1;
  }
  std::printf("consumer (C++): ok\n");
  return 0;
}
