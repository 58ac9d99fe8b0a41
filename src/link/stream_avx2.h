// The AVX2 step of the stream encoding, shared by the stream and the waveform load: sixteen
// 16-bit codes in, their 64 digits out. Include only from code built for AVX2.
#ifndef KORVELAN380_LINK_STREAM_AVX2_H
#define KORVELAN380_LINK_STREAM_AVX2_H

#include <immintrin.h>

#include <cstdint>

namespace korvelan380 {

// Each byte is split into its two nibbles and each nibble looked up in the 16-entry digit
// table with a byte shuffle; the fourth digit of a sample keeps only bits 3-2.
__attribute__((target("avx2"), always_inline)) inline void EncodeSixteen(__m256i codes,
                                                                         uint8_t* out) {
  const __m256i digits = _mm256_setr_epi8('0', '1', '2', '3', '4', '5', '6', '7', '8', '9', 'A',
                                          'B', 'C', 'D', 'E', 'F', '0', '1', '2', '3', '4', '5',
                                          '6', '7', '8', '9', 'A', 'B', 'C', 'D', 'E', 'F');
  // Each sample's high byte first, as its digits go out.
  const __m256i swap = _mm256_setr_epi8(1, 0, 3, 2, 5, 4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14, 1, 0,
                                        3, 2, 5, 4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14);
  const __m256i v = _mm256_shuffle_epi8(codes, swap);
  const __m256i first = _mm256_and_si256(_mm256_srli_epi16(v, 4), _mm256_set1_epi8(0x0F));
  const __m256i second = _mm256_and_si256(v, _mm256_set1_epi16(0x0C0F));
  const __m256i a = _mm256_shuffle_epi8(digits, _mm256_unpacklo_epi8(first, second));
  const __m256i b = _mm256_shuffle_epi8(digits, _mm256_unpackhi_epi8(first, second));
  // The unpacks work within 128-bit lanes: put samples 0-7 before 8-15 again.
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), _mm256_permute2x128_si256(a, b, 0x20));
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 32), _mm256_permute2x128_si256(a, b, 0x31));
}

}  // namespace korvelan380

#endif  // KORVELAN380_LINK_STREAM_AVX2_H
