// The calibration record: 88 bytes, little-endian, the same bytes in memory and in the first 88
// bytes of the EEPROM user area.
#ifndef KORVELAN380_CALIBRATION_RECORD_H
#define KORVELAN380_CALIBRATION_RECORD_H

#include <bit>
#include <cstddef>
#include <cstdint>
#include <mutex>

#include "korvelan380.h"

namespace korvelan380 {

inline constexpr size_t kCalibrationEntries = KORVELAN380_CALIBRATION_ENTRIES;
inline constexpr uint8_t kRecordMarker = 0x55;
inline constexpr size_t kRecordSize = 88;

struct CalibrationRecord {
  uint8_t marker;
  uint8_t reserved[3];
  float gain[kCalibrationEntries];
  uint16_t offset[kCalibrationEntries];
};
static_assert(std::endian::native == std::endian::little, "the record is stored little-endian");
static_assert(sizeof(CalibrationRecord) == kRecordSize);
static_assert(offsetof(CalibrationRecord, gain) == 4);
static_assert(offsetof(CalibrationRecord, offset) == 60);
static_assert(sizeof(CalibrationGains) == sizeof(CalibrationRecord::gain));
static_assert(sizeof(CalibrationOffsets) == sizeof(CalibrationRecord::offset));

// Marker 0x55, every other byte zero: every gain 0.0 and every offset 0.
CalibrationRecord DefaultCalibration();

// A module's two calibration copies: the working record, which the conversions use, and the
// record as found in the EEPROM at connect. A small mutex of their own keeps a reader from
// seeing half of an old record and half of a new one; it is never the module's I/O lock, so a
// conversion never waits behind a transfer.
class CalibrationCopies {
 public:
  CalibrationCopies();

  void Load(const CalibrationRecord& record);  // both copies, from the EEPROM
  CalibrationRecord Working() const;
  void Entry(size_t index, float& gain, uint16_t& offset) const;
  // Replaces the working record; true when it differs from the record found at connect.
  bool ReplaceWorking(const CalibrationRecord& record);

 private:
  mutable std::mutex mutex_;
  CalibrationRecord working_;
  CalibrationRecord asLoaded_;
};

}  // namespace korvelan380

#endif  // KORVELAN380_CALIBRATION_RECORD_H
