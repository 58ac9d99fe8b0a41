#include "calibration/record.h"

#include <cstring>

namespace korvelan380 {

CalibrationRecord DefaultCalibration() {
  CalibrationRecord record;
  std::memset(&record, 0, sizeof record);
  record.marker = kRecordMarker;
  return record;
}

CalibrationCopies::CalibrationCopies()
    : working_(DefaultCalibration()), asLoaded_(DefaultCalibration()) {}

void CalibrationCopies::Load(const CalibrationRecord& record) {
  std::lock_guard<std::mutex> lock(mutex_);
  working_ = record;
  asLoaded_ = record;
}

CalibrationRecord CalibrationCopies::Working() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return working_;
}

void CalibrationCopies::Entry(size_t index, float& gain, uint16_t& offset) const {
  std::lock_guard<std::mutex> lock(mutex_);
  gain = working_.gain[index];
  offset = working_.offset[index];
}

bool CalibrationCopies::ReplaceWorking(const CalibrationRecord& record) {
  std::lock_guard<std::mutex> lock(mutex_);
  working_ = record;
  return std::memcmp(&working_, &asLoaded_, sizeof working_) != 0;
}

}  // namespace korvelan380
