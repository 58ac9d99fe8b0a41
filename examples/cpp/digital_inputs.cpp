// Reads the digital inputs, a few times.
//
//   digital_inputs_cpp [--sim] [deviceId [reads]]   (default: module "0", 3 reads)
//
// Lines 0 to 3 of the digital port become inputs and lines 4 to 7 outputs (a set direction bit
// makes a line an output); the outputs are driven low. Then the input byte is read, each read
// latching the lines afresh, and shown line by line.
#include <bitset>
#include <chrono>
#include <iostream>
#include <string>
#include <thread>

#include "example.hpp"

int main(int argc, char** argv) {
  const bool sim = TakeSimOption(&argc, argv);
  const std::string id = argc > 1 ? argv[1] : "0";
  const int reads = argc > 2 ? std::stoi(argv[2]) : 3;
  if (sim && UseSimulatedModule(id.c_str()) != 0) return 1;

  return example::Run([&] {
    example::Connection module(id);
    example::Check("KORVELAN380_Dio_Dir", KORVELAN380_Dio_Dir(module.id(), 0xF0));
    example::Check("KORVELAN380_Dio_Out", KORVELAN380_Dio_Out(module.id(), 0x00));
    for (int i = 0; i < reads; ++i) {
      uint8_t inputs = 0;
      example::Check("KORVELAN380_Dio_In", KORVELAN380_Dio_In(module.id(), &inputs));
      // Only the input lines count: lines 0 to 3.
      const std::bitset<4> lines(inputs & 0x0F);
      std::cout << "read " << i + 1 << ": lines 3..0 = " << lines << "\n";
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  });
}
