// The pure codecs behind the stream and the waveform load: every fast path against the plain
// definition it must match.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <numeric>
#include <random>
#include <vector>

#include "calibration/conversion.h"
#include "link/stream.h"

namespace korvelan380::test {
namespace {

TEST(StreamEncoding, EverySampleAndEveryTailLengthMatchesTheDigitDefinition) {
  std::vector<uint16_t> samples(65536 + 15);
  std::iota(samples.begin(), samples.end(), 0);
  for (size_t count : {size_t{0}, size_t{1}, size_t{15}, size_t{16}, size_t{17}, samples.size()}) {
    std::vector<uint8_t> body(4 * count + 1, 0xEE);
    EncodeStreamBody(samples.data(), count, body.data());
    for (size_t i = 0; i < count; ++i) {
      const uint16_t s = samples[i];
      const char* hex = "0123456789ABCDEF";
      const char want[4] = {hex[s >> 12], hex[(s >> 8) & 15], hex[(s >> 4) & 15], hex[s & 0xC]};
      ASSERT_EQ(std::string(body.begin() + 4 * i, body.begin() + 4 * i + 4), std::string(want, 4))
          << count << " " << i;
    }
    EXPECT_EQ(body[4 * count], 0xEE);  // nothing written past the body
  }
}

TEST(ConversionTable, MatchesTheConversionForEveryRawValueOfManyCalibrations) {
  std::vector<float> gains = {
      0.0f,     -0.0f,       NAN,
      INFINITY, -INFINITY,   1e-30f,
      -1e-30f,  1e30f,       0.0012f,
      -0.0012f, 1.0f / 1024, std::bit_cast<float>(0x00000001u)};  // the smallest subnormal
  std::mt19937 random(380);
  std::uniform_real_distribution<float> exponent(-20.0f, 4.0f);
  for (int i = 0; i < 200; ++i) {
    const float magnitude = std::pow(2.0f, exponent(random));
    gains.push_back(i % 2 ? magnitude : -magnitude);
  }
  for (uint8_t range = 0; range < kRanges; ++range) {
    gains.push_back(static_cast<float>(kRangeSpan[range] / 16384.0));  // the identity
  }
  std::vector<uint16_t> table(kRawValues);
  for (float gain : gains) {
    for (uint8_t range = 0; range < kRanges; ++range) {
      const uint16_t offset = static_cast<uint16_t>(random());
      CalibratedTable(range, gain, offset, table.data());
      for (uint32_t raw = 0; raw < kRawValues; ++raw) {
        ASSERT_EQ(table[raw], CalibratedFromRaw(range, static_cast<uint16_t>(raw), gain, offset))
            << "gain " << gain << " offset " << offset << " range " << int(range) << " raw " << raw;
      }
    }
  }
}

}  // namespace
}  // namespace korvelan380::test
