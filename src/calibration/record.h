// The calibration record: 88 bytes, little-endian, the same bytes in memory and in the first 88
// bytes of the EEPROM user area.
#ifndef KORVELAN380_CALIBRATION_RECORD_H
#define KORVELAN380_CALIBRATION_RECORD_H

#include <atomic>
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
bool SameBytes(const CalibrationRecord& a, const CalibrationRecord& b);

// A module's two calibration copies: `calibration`, the working record, and
// `calibrationAsLoaded`, the record as found in the EEPROM at connect. The working record is
// read without locking (a sequence counter makes a reader retry instead of seeing half of an
// old record and half of a new one); replacements are serialised by a small mutex of their own,
// never the module's I/O lock, so a conversion never waits behind a slow transaction.
class CalibrationCopies {
 public:
  CalibrationCopies() { Reset(); }

  void Reset();                                // both copies DefaultCalibration
  void Load(const CalibrationRecord& record);  // both copies, from the EEPROM
  CalibrationRecord Working() const;           // a consistent copy of the working record
  void Entry(size_t index, float& gain, uint16_t& offset) const;
  // Replaces the working record, if `keep()` says so under the copies' lock; `differs` tells
  // whether it differs from the record found at connect.
  template <typename Keep>
  bool ReplaceWorkingIf(const CalibrationRecord& record, Keep&& keep, bool& differs) {
    std::lock_guard<std::mutex> lock(writeMutex_);
    if (!keep()) return false;
    StoreWorking(record);
    differs = !SameBytes(record, asLoaded_);
    return true;
  }

 private:
  static constexpr size_t kWords = kRecordSize / 4;
  void StoreWorking(const CalibrationRecord& record);  // writeMutex_ held

  std::atomic<uint32_t> sequence_{0};
  std::atomic<uint32_t> words_[kWords];
  CalibrationRecord asLoaded_{};
  std::mutex writeMutex_;
};

}  // namespace korvelan380

#endif  // KORVELAN380_CALIBRATION_RECORD_H
