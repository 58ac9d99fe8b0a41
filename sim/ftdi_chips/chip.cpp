#include "chip.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iterator>

namespace korvelan380::ftdi_chips {
namespace {

// The module's own chip, an FT232H with an external 93C56 (or 93C66), first; then the FT232R.
constexpr ChipKind kKinds[] = {
    {"ft232h", 0x6014, 0x0900, 64, 512, 128, 128, 0xA0, 0x56, 0x20},
    {"ft232h-93c66", 0x6014, 0x0900, 64, 512, 256, 128, 0xA0, 0x66, 0x20},
    {"ft232r", 0x6001, 0x0600, 8, 64, 128, 64, 0x18, 0, 0},
};

constexpr size_t kMaxIdLength = 8;
constexpr size_t kPointerWords = 7;  // words 7, 8 and 9 point at the three strings

// The chip-specific words of the configuration area, as FTDI's tools program them: bus powered
// (90 mA on the FT232R with remote wake-up, 100 mA on the FT232H), the serial number string
// used; the FT232R's CBUS pins; the FT232H's EEPROM type in byte 0x1E.
void ProgramSettings(Chip& chip) {
  auto& w = chip.eeprom;
  if (chip.kind.eepromType == 0) {
    const uint16_t r[] = {0x4000, kVendor, chip.kind.product, chip.kind.release, 0x2DA0,
                          0x0008, 0x0200};
    std::copy(std::begin(r), std::end(r), w.begin());
    w[10] = 0x1023;
    w[11] = 0x0005;
    return;
  }
  const uint16_t h[] = {0x0000, kVendor, chip.kind.product, chip.kind.release, 0x3280, 0x0008};
  std::copy(std::begin(h), std::end(h), w.begin());
  w[0x1E / 2] = chip.kind.eepromType;
}

// Manufacturer, product and serial number as USB string descriptors from the kind's string
// start on, each found through its pointer word: the byte address with bit 7 set, and the
// length.
void ProgramStrings(Chip& chip) {
  auto* bytes = reinterpret_cast<uint8_t*>(chip.eeprom.data());
  size_t at = chip.kind.stringsStart;
  const std::string strings[] = {"FTDI", "KORVELAN380", chip.Serial()};
  for (size_t i = 0; i < std::size(strings); ++i) {
    const size_t length = 2 + 2 * strings[i].size();
    chip.eeprom[kPointerWords + i] = static_cast<uint16_t>((length << 8) | 0x80 | at);
    bytes[at] = static_cast<uint8_t>(length);
    bytes[at + 1] = 0x03;
    for (size_t c = 0; c < strings[i].size(); ++c) {
      bytes[at + 2 + 2 * c] = static_cast<uint8_t>(strings[i][c]);
      bytes[at + 3 + 2 * c] = 0;
    }
    at += length;
  }
}

// The chip as FTDI's tools leave it: the configuration area zeroed, then filled in, and
// checksummed; the rest of a larger part erased. A chip that is not blank has the ideal
// calibration record at the start of the user area.
void ProgramEeprom(Chip& chip, bool blank) {
  chip.eeprom.assign(chip.kind.eepromWords, 0xFFFF);
  std::fill_n(chip.eeprom.begin(), chip.kind.configWords, 0);
  ProgramSettings(chip);
  ProgramStrings(chip);
  if (!blank && chip.kind.userAreaStart != 0) {
    const std::vector<uint8_t> record = sim::detail::IdealCalibrationRecord();
    auto* bytes = reinterpret_cast<uint8_t*>(chip.eeprom.data());
    std::copy(record.begin(), record.end(), bytes + chip.kind.userAreaStart);
  }
  const size_t last = chip.kind.configWords - 1;
  chip.eeprom[last] = Checksum(chip.eeprom.data(), last);
}

}  // namespace

std::optional<ChipSpec> ParseSpec(std::string_view item) {
  ChipSpec spec{std::string(item.substr(0, item.find(':'))), &kKinds[0]};
  if (spec.id.empty() || spec.id.size() > kMaxIdLength) return std::nullopt;
  item.remove_prefix(std::min(item.size(), spec.id.size() + 1));
  if (!item.empty() && item.substr(0, item.find(':')) != "blank") {
    const std::string_view name = item.substr(0, item.find(':'));
    const auto* kind = std::find_if(std::begin(kKinds), std::end(kKinds),
                                    [&](const ChipKind& k) { return name == k.name; });
    if (kind == std::end(kKinds)) return std::nullopt;
    spec.kind = kind;
    item.remove_prefix(std::min(item.size(), name.size() + 1));
  }
  if (item == "blank") {
    spec.blank = true;
  } else if (!item.empty()) {
    return std::nullopt;
  }
  return spec;
}

uint16_t Checksum(const uint16_t* words, size_t count) {
  uint16_t sum = 0xAAAA;
  for (size_t i = 0; i < count; ++i) {
    sum ^= words[i];
    sum = static_cast<uint16_t>((sum << 1) | (sum >> 15));
  }
  return sum;
}

Chip::Chip(const ChipSpec& spec, int number) : deviceId(spec.id), kind(*spec.kind), devnum(number) {
  PowerUp();
  ProgramEeprom(*this, spec.blank);
  LoadEeprom();
}

namespace {

// The file that keeps a chip's EEPROM, or "" when none is asked for.
std::string EepromFile(const std::string& serial) {
  const char* folder = std::getenv("KORVELAN380_EMULATED_EEPROMS");
  return folder != nullptr && *folder != '\0' ? std::string(folder) + "/" + serial + ".eeprom" : "";
}

}  // namespace

void Chip::LoadEeprom() {
  const std::string path = EepromFile(Serial());
  FILE* file = path.empty() ? nullptr : std::fopen(path.c_str(), "rb");
  if (file == nullptr) return;  // a new chip: as programmed
  std::vector<uint16_t> words(eeprom.size());
  // A file of another part's size is not this chip's: the programmed image stays.
  if (std::fread(words.data(), 2, words.size(), file) == words.size() && std::fgetc(file) == EOF) {
    eeprom = words;
  }
  std::fclose(file);
}

void Chip::SaveEeprom() const {
  const std::string path = EepromFile(Serial());
  FILE* file = path.empty() ? nullptr : std::fopen(path.c_str(), "wb");
  if (file == nullptr) return;
  std::fwrite(eeprom.data(), 2, eeprom.size(), file);
  std::fclose(file);
}

void Chip::PowerUp() {
  auto fresh = std::make_unique<sim::detail::Module>(Serial(), 0);
  // The converter's errors are the part's: they outlive the power.
  if (model) fresh->outputErrors = model->outputErrors;
  model = std::move(fresh);
  latencyMs = kDefaultLatencyMs;
  lastPacketMs = 0;
}

std::string Chip::EepromString(size_t pointerWord) const {
  const auto* bytes = reinterpret_cast<const uint8_t*>(eeprom.data());
  const size_t configBytes = 2 * kind.configWords;
  const size_t at = (eeprom[pointerWord] & 0xFF) % configBytes;
  const size_t length = std::min<size_t>(eeprom[pointerWord] >> 8, configBytes - at);
  std::string s;
  for (size_t i = 2; i + 1 < length; i += 2) s += static_cast<char>(bytes[at + i]);
  return s;
}

}  // namespace korvelan380::ftdi_chips
