// Backs a module's calibration up to a file and restores it, in one go: the backup is written,
// one entry is changed in the module (as a careless calibration run might), and the backup is
// restored and stored in the EEPROM.
//
//   calibration_backup_cpp [--sim] [deviceId] FILE
//
// The file holds the 14 entries (channel * 7 + range), one a line: entry, offset, gain, the
// gain as its 32-bit pattern in hex, so that the restore is bit-exact.
#include <array>
#include <bit>
#include <cstring>
#include <fstream>
#include <iostream>
#include <stdexcept>
#include <string>

#include "example.hpp"

namespace {

struct Calibration {
  CalibrationOffsets offsets{};
  CalibrationGains gains{};

  bool operator==(const Calibration& other) const {
    return std::memcmp(&offsets, &other.offsets, sizeof offsets) == 0 &&
           std::memcmp(&gains, &other.gains, sizeof gains) == 0;
  }
};

Calibration Get(const char* id) {
  Calibration c;
  example::Check("KORVELAN380_Calib_Val_Get", KORVELAN380_Calib_Val_Get(id, &c.offsets, &c.gains));
  return c;
}

void Write(const Calibration& c, const std::string& path) {
  std::ofstream file(path);
  file << std::hex;
  for (int i = 0; i < KORVELAN380_CALIBRATION_ENTRIES; ++i) {
    file << std::dec << i << " " << c.offsets.offset[i] << " 0x" << std::hex
         << std::bit_cast<uint32_t>(c.gains.gain[i]) << "\n";
  }
  if (!file.flush()) throw std::runtime_error("cannot write " + path);
}

Calibration Read(const std::string& path) {
  std::ifstream file(path);
  Calibration c;
  for (int i = 0; i < KORVELAN380_CALIBRATION_ENTRIES; ++i) {
    int entry = -1;
    unsigned offset = 0;
    std::string gainBits;
    if (!(file >> entry >> offset >> gainBits) || entry != i || offset > 0xFFFF) {
      throw std::runtime_error(path + " is not a calibration backup");
    }
    c.offsets.offset[i] = static_cast<uint16_t>(offset);
    c.gains.gain[i] =
        std::bit_cast<float>(static_cast<uint32_t>(std::stoul(gainBits, nullptr, 16)));
  }
  return c;
}

}  // namespace

int main(int argc, char** argv) {
  const bool sim = TakeSimOption(&argc, argv);
  if (argc != 2 && argc != 3) {
    std::cerr << "usage: " << argv[0] << " [--sim] [deviceId] FILE\n";
    return 2;
  }
  const std::string id = argc == 3 ? argv[1] : "0";
  const std::string path = argv[argc - 1];
  if (sim && UseSimulatedModule(id.c_str()) != 0) return 1;

  return example::Run([&] {
    example::Connection module(id);
    const Calibration backup = Get(module.id());
    Write(backup, path);
    std::cout << "backed up the calibration to " << path << "\n";

    // Channel 0, range 0 gets another offset, in the working calibration only (save 0).
    Calibration changed = backup;
    changed.offsets.offset[0] = static_cast<uint16_t>(changed.offsets.offset[0] + 100);
    example::Check("KORVELAN380_Calib_Val_Set",
                   KORVELAN380_Calib_Val_Set(module.id(), &changed.offsets, &changed.gains, 0));
    std::cout << "changed entry 0: offset " << backup.offsets.offset[0] << " -> "
              << Get(module.id()).offsets.offset[0] << "\n";

    // The restore: the working calibration and, with save 1, the EEPROM (stored when the values
    // differ from those the EEPROM held at connect).
    const Calibration restored = Read(path);
    example::Check("KORVELAN380_Calib_Val_Set",
                   KORVELAN380_Calib_Val_Set(module.id(), &restored.offsets, &restored.gains, 1));
    if (!(Get(module.id()) == backup)) throw std::runtime_error("the restore did not take");
    std::cout << "restored the calibration from " << path << ": entry 0 offset "
              << Get(module.id()).offsets.offset[0] << "\n";
  });
}
