// KORVELANGetCalibedVal and KORVELANGetRawValFromCalibed. The operations, their order and their
// precision are fixed (double forward; a single-precision product, then double, backward), so
// that every result matches to the last code; this file is built without FMA contraction.
#include "calibration/conversion.h"

#include <cmath>

#include "api/export_call.h"
#include "link/cpu.h"

#if defined(KORVELAN380_HAVE_X86_PATHS)
#include <immintrin.h>
#endif

namespace korvelan380 {

uint16_t CalibratedFromRaw(uint8_t rangeIndex, uint16_t rawValue, float gain, uint16_t offset) {
  const uint16_t code = static_cast<uint16_t>(rawValue * 4u);  // the low 14 bits, shifted up
  const int32_t centred = IsBipolar(rangeIndex) ? int32_t{code} - 32768 : int32_t{code};
  const double nominalValue = static_cast<double>(centred) * 0x1p-16 * kRangeSpan[rangeIndex];
  const double sum = nominalValue / static_cast<double>(gain) + static_cast<double>(offset);
  if (!std::isfinite(sum) || sum < 0.0) return 0;
  if (sum >= 65535.0) return 65535;
  return static_cast<uint16_t>(static_cast<int32_t>(sum));  // toward zero
}

namespace {

#if defined(KORVELAN380_HAVE_X86_PATHS)
// Four rawValues at a time, with the same operations in the same order and precision as
// CalibratedFromRaw (vector and scalar IEEE arithmetic round alike).
__attribute__((target("avx2"))) void CalibratedTableAvx2(uint8_t rangeIndex, float gain,
                                                         uint16_t offset, uint16_t* table) {
  const __m256d scale = _mm256_set1_pd(0x1p-16);
  const __m256d span = _mm256_set1_pd(kRangeSpan[rangeIndex]);
  const __m256d divisor = _mm256_set1_pd(static_cast<double>(gain));
  const __m256d addend = _mm256_set1_pd(static_cast<double>(offset));
  const __m256d zero = _mm256_setzero_pd();
  const __m256d top = _mm256_set1_pd(65535.0);
  const int32_t centre = IsBipolar(rangeIndex) ? 32768 : 0;
  for (uint32_t raw = 0; raw < kRawValues; raw += 4) {
    const __m128i code = _mm_setr_epi32(
        static_cast<int32_t>(raw * 4) - centre, static_cast<int32_t>(raw * 4 + 4) - centre,
        static_cast<int32_t>(raw * 4 + 8) - centre, static_cast<int32_t>(raw * 4 + 12) - centre);
    const __m256d nominal = _mm256_mul_pd(_mm256_mul_pd(_mm256_cvtepi32_pd(code), scale), span);
    const __m256d sum = _mm256_add_pd(_mm256_div_pd(nominal, divisor), addend);
    // Not finite (sum - sum is not 0) or below 0 gives 0; 65535 and above gives 65535.
    const __m256d finite = _mm256_cmp_pd(_mm256_sub_pd(sum, sum), zero, _CMP_EQ_OQ);
    const __m256d low = _mm256_cmp_pd(sum, zero, _CMP_LT_OQ);
    const __m256d high = _mm256_cmp_pd(sum, top, _CMP_GE_OQ);
    __m256d value = _mm256_blendv_pd(sum, top, high);
    value = _mm256_andnot_pd(low, _mm256_and_pd(value, finite));
    const __m128i truncated = _mm256_cvttpd_epi32(value);
    alignas(16) int32_t out[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(out), truncated);
    for (int k = 0; k < 4; ++k) table[raw + k] = static_cast<uint16_t>(out[k]);
  }
}
#endif

}  // namespace

void CalibratedTable(uint8_t rangeIndex, float gain, uint16_t offset, uint16_t* table) {
#if defined(KORVELAN380_HAVE_X86_PATHS)
  if (CpuHasAvx2()) return CalibratedTableAvx2(rangeIndex, gain, offset, table);
#endif
  for (size_t raw = 0; raw < kRawValues; ++raw) {
    table[raw] = CalibratedFromRaw(rangeIndex, static_cast<uint16_t>(raw), gain, offset);
  }
}

bool RawFromCalibrated(uint8_t rangeIndex, uint16_t calibratedValue, float gain, uint16_t offset,
                       uint16_t& rawValue) {
  const int32_t difference = int32_t{calibratedValue} - int32_t{offset};
  const float product = static_cast<float>(difference) * gain;
  double value = static_cast<double>(product) * 65536.0 / kRangeSpan[rangeIndex];
  if (IsBipolar(rangeIndex)) value += 32768.0;
  value *= 0.25;
  if (value < 0.0 || value > 16383.0) return false;  // before rounding: 16383.4 is refused
  rawValue = std::isnan(value) ? 0 : static_cast<uint16_t>(std::round(value));
  return true;
}

StatusCode ConvertToCalibrated(const DeviceEntry& entry, uint8_t channel, uint8_t rangeIndex,
                               uint16_t rawValue, uint16_t& calibratedValue) {
  if (channel >= kChannels || rangeIndex >= kRanges) return kInvalidArgument;
  float gain;
  uint16_t offset;
  entry.calibration.Entry(CalibrationIndex(channel, rangeIndex), gain, offset);
  calibratedValue = CalibratedFromRaw(rangeIndex, rawValue, gain, offset);
  return kOk;
}

StatusCode ConvertToRaw(const DeviceEntry& entry, uint8_t channel, uint8_t rangeIndex,
                        uint16_t calibratedValue, uint16_t& rawValue) {
  if (channel >= kChannels || rangeIndex >= kRanges) return kInvalidArgument;
  float gain;
  uint16_t offset;
  entry.calibration.Entry(CalibrationIndex(channel, rangeIndex), gain, offset);
  return RawFromCalibrated(rangeIndex, calibratedValue, gain, offset, rawValue) ? kOk
                                                                                : kInvalidArgument;
}

}  // namespace korvelan380

using namespace korvelan380;

extern "C" KORVELAN380_API StatusCode KORVELANGetCalibedVal(const char* deviceId, uint8_t channel,
                                                            uint8_t rangeIndex, uint16_t rawValue,
                                                            uint16_t* calibratedValue) {
  // 1. Arguments first: a bad channel or range is 1 even for a module that is not connected.
  if (channel >= kChannels || rangeIndex >= kRanges || calibratedValue == nullptr) {
    return kInvalidArgument;
  }
  // 2. and 3. The module must be connected and open; its working calibration is read without
  // waiting for its transfers.
  uint16_t code = 0;
  if (!ReadEntry(deviceId, true, [&](const DeviceEntry& entry) {
        ConvertToCalibrated(entry, channel, rangeIndex, rawValue, code);
      })) {
    return kNotConnected;
  }
  *calibratedValue = code;
  return kOk;
}

extern "C" KORVELAN380_API StatusCode KORVELANGetRawValFromCalibed(const char* deviceId,
                                                                   uint8_t channel,
                                                                   uint8_t rangeIndex,
                                                                   uint16_t calibratedValue,
                                                                   uint16_t* rawValue) {
  if (channel >= kChannels || rangeIndex >= kRanges || rawValue == nullptr) {
    return kInvalidArgument;
  }
  uint16_t value = 0;
  StatusCode status = kOk;
  if (!ReadEntry(deviceId, true, [&](const DeviceEntry& entry) {
        status = ConvertToRaw(entry, channel, rangeIndex, calibratedValue, value);
      })) {
    return kNotConnected;
  }
  if (status == kOk) *rawValue = value;
  return status;
}
