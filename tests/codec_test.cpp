// The stream body encoding, against the plain definition of its digits.
#include <gtest/gtest.h>

#include <numeric>
#include <vector>

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

}  // namespace
}  // namespace korvelan380::test
