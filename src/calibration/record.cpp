#include "calibration/record.h"

#include <cstring>

namespace korvelan380 {

CalibrationRecord DefaultCalibration() {
  CalibrationRecord record;
  std::memset(&record, 0, sizeof record);
  record.marker = kRecordMarker;
  return record;
}

bool SameBytes(const CalibrationRecord& a, const CalibrationRecord& b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

void CalibrationCopies::Reset() {
  Load(DefaultCalibration());
}

void CalibrationCopies::Load(const CalibrationRecord& record) {
  std::lock_guard<std::mutex> lock(writeMutex_);
  asLoaded_ = record;
  StoreWorking(record);
}

void CalibrationCopies::StoreWorking(const CalibrationRecord& record) {
  uint32_t words[kWords];
  std::memcpy(words, &record, sizeof words);
  // Release stores keep the odd sequence ahead of the words; acquire loads keep a reader's
  // second look at the sequence behind them. (No fences: they cost nothing more on x86, and
  // the thread sanitizer understands these.)
  const uint32_t sequence = sequence_.load(std::memory_order_relaxed);
  sequence_.store(sequence + 1, std::memory_order_relaxed);
  for (size_t i = 0; i < kWords; ++i) words_[i].store(words[i], std::memory_order_release);
  sequence_.store(sequence + 2, std::memory_order_release);
}

CalibrationRecord CalibrationCopies::Working() const {
  uint32_t words[kWords];
  for (;;) {
    const uint32_t before = sequence_.load(std::memory_order_acquire);
    if ((before & 1) == 0) {
      for (size_t i = 0; i < kWords; ++i) words[i] = words_[i].load(std::memory_order_acquire);
      if (sequence_.load(std::memory_order_relaxed) == before) break;
    }
  }
  CalibrationRecord record;
  std::memcpy(&record, words, sizeof record);
  return record;
}

void CalibrationCopies::Entry(size_t index, float& gain, uint16_t& offset) const {
  // Gain i is word 1 + i; offsets pack two to a word from byte 60 (word 15).
  const size_t gainWord = 1 + index;
  const size_t offsetWord = 15 + index / 2;
  for (;;) {
    const uint32_t before = sequence_.load(std::memory_order_acquire);
    if ((before & 1) == 0) {
      const uint32_t g = words_[gainWord].load(std::memory_order_acquire);
      const uint32_t o = words_[offsetWord].load(std::memory_order_acquire);
      if (sequence_.load(std::memory_order_relaxed) == before) {
        gain = std::bit_cast<float>(g);
        offset = static_cast<uint16_t>((index % 2 == 0) ? (o & 0xFFFF) : (o >> 16));
        return;
      }
    }
  }
}

}  // namespace korvelan380
