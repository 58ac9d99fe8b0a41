// Waveform loads, the "X" stream and the FIFO registers, on the wire of the simulated module.
#include <cmath>
#include <numeric>

#include "support/module_chat.h"

namespace korvelan380::test {
namespace {

class Waveform : public ModuleTest {
 protected:
  void SetUp() override {
    ModuleTest::SetUp();
    Connect();
  }
  // Every sample with its two low bits cleared, as the module receives it.
  static std::vector<uint16_t> AsReceived(std::vector<uint16_t> samples) {
    for (uint16_t& s : samples) s &= 0xFFFC;
    return samples;
  }
};

TEST_F(Waveform, StreamIsHeaderBodyAndTrailerInThreeWrites) {
  const uint16_t sample = 0x8000;
  EXPECT_EQ(KORVELAN380_Fifo_ImgSet(kId, 1, &sample, 1), KORVELAN380_OK);
  EXPECT_EQ(Wire(), (std::vector<Bytes>{Bytes{0x02, 0x58, 0x30, 0x31},
                                        Bytes{0x38, 0x30, 0x30, 0x30}, Bytes{0x03}}));
  EXPECT_EQ(sim::StreamSamples(serial, 1), std::vector<uint16_t>{0x8000});
}

TEST_F(Waveform, EachSampleIsFourUpperCaseDigitsTheLastMaskedWithC) {
  const std::vector<uint16_t> codes = {0x0000, 0x0001, 0x0002, 0x0003,
                                       0x0004, 0xFFFF, 0x1235, 0xABCD};
  EXPECT_EQ(KORVELAN380_Fifo_ImgSet(kId, 0, codes.data(), static_cast<int32_t>(codes.size())),
            KORVELAN380_OK);
  const Bytes body = Wire()[1];
  EXPECT_EQ(std::string(body.begin(), body.end()), "00000000000000000004FFFC1234ABCC");
}

TEST_F(Waveform, EverySixteenBitCodeArrivesWithItsLowTwoBitsCleared) {
  std::vector<uint16_t> codes(65536);
  std::iota(codes.begin(), codes.end(), 0);
  EXPECT_EQ(KORVELAN380_Fifo_ImgSet(kId, 0, codes.data(), 65536), KORVELAN380_OK);
  EXPECT_EQ(sim::StreamSamples(serial, 0), AsReceived(codes));
}

TEST_F(Waveform, FullSizeLoadGoesInOneBodyWriteAndDecodesToTheSamples) {
  sim::SetEeprom(serial, {});
  sim::SetIdealCalibration(serial);
  ASSERT_EQ(KORVELAN380_DisConnect(kId), KORVELAN380_OK);
  Connect();
  sim::SetRegister(serial, 35, 1);  // channel 1 in -5..5 V
  std::vector<uint16_t> samples(524288);
  for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<uint16_t>((i * 7) & 0x3FFF);
  EXPECT_EQ(KORVELAN380_WavImgSet(kId, 1, samples.data(), 524288), KORVELAN380_OK);
  const std::vector<Bytes> wire = Wire();
  ASSERT_EQ(wire.size(), 5u);
  EXPECT_EQ(wire[0], R(35, 35));
  EXPECT_EQ(wire[1], W(61, {0x07, 0xFF, 0xFF}));
  EXPECT_EQ(wire[2], (Bytes{0x02, 'X', '0', '1'}));
  EXPECT_EQ(wire[3].size(), 2097152u);
  EXPECT_EQ(wire[4], Bytes{0x03});
  // The identity calibration: every code is its raw value, as received with bits 1-0 clear.
  EXPECT_EQ(sim::StreamSamples(serial, 1), AsReceived(samples));
}

TEST_F(Waveform, LoadedCodesEqualTheConversionExportsForEveryInput) {
  const struct {
    float gain;
    uint16_t offset;
    uint8_t range;
  } calibrations[] = {{0.00013f, 8150, 3}, {0.0012f, 8200, 0}, {-0.0012f, 8200, 0},
                      {0.0f, 100, 4},      {NAN, 5, 5},        {INFINITY, 7, 1},
                      {1e-7f, 60000, 6},   {1e6f, 65535, 2},   {5.0f / 16384, 0x2000, 2},
                      {-2.5e-5f, 0, 6}};
  std::vector<uint16_t> samples(65536);
  std::iota(samples.begin(), samples.end(), 0);
  for (const auto& c : calibrations) {
    CalibrationGains gains{};
    CalibrationOffsets offsets{};
    gains.gain[c.range] = c.gain;
    offsets.offset[c.range] = c.offset;
    ASSERT_EQ(KORVELAN380_Calib_Val_Set(kId, &offsets, &gains, 0), KORVELAN380_OK);
    sim::SetRegister(serial, 34, c.range);
    std::vector<uint16_t> expected(samples.size());
    for (size_t i = 0; i < samples.size(); ++i) {
      ASSERT_EQ(KORVELANGetCalibedVal(kId, 0, c.range, samples[i], &expected[i]), KORVELAN380_OK);
    }
    // A large load (through the table of every code) and a small one (sample by sample).
    EXPECT_EQ(KORVELAN380_WavImgSet(kId, 0, samples.data(), 65536), KORVELAN380_OK);
    EXPECT_EQ(sim::StreamSamples(serial, 0), AsReceived(expected)) << c.gain;
    EXPECT_EQ(KORVELAN380_WavImgSet(kId, 0, samples.data() + 9000, 100), KORVELAN380_OK);
    EXPECT_EQ(sim::StreamSamples(serial, 0),
              AsReceived(std::vector<uint16_t>(expected.begin() + 9000, expected.begin() + 9100)));
  }
}

TEST_F(Waveform, LengthRegistersHoldCountMinusOneMostSignificantFirst) {
  const std::vector<uint16_t> samples(65537, 0);
  const struct {
    int32_t count;
    uint8_t a, b, c;
  } cases[] = {{1, 0, 0, 0}, {256, 0, 0, 0xFF}, {65537, 1, 0, 0}};
  for (const auto& c : cases) {
    sim::ClearTrace();
    EXPECT_EQ(KORVELAN380_WavImgSet(kId, 0, samples.data(), c.count), KORVELAN380_OK);
    EXPECT_EQ(Wire()[1], W(58, {c.a, c.b, c.c})) << c.count;
  }
}

TEST_F(Waveform, CountsOutsideOneToTheLimitAreRefusedWithNothingSent) {
  const uint16_t sample = 0;
  for (int32_t count : {0, -1, 524289, INT32_MIN, INT32_MAX}) {
    EXPECT_EQ(KORVELAN380_WavImgSet(kId, 0, &sample, count), KORVELAN380_INVALID_ARGUMENT);
    EXPECT_EQ(KORVELAN380_Fifo_ImgSet(kId, 0, &sample, count), KORVELAN380_INVALID_ARGUMENT);
  }
  EXPECT_EQ(KORVELAN380_WavImgSet(kId, 2, &sample, 1), KORVELAN380_INVALID_ARGUMENT);
  EXPECT_EQ(KORVELAN380_Fifo_ImgSet(kId, 3, &sample, 1), KORVELAN380_INVALID_ARGUMENT);
  EXPECT_EQ(KORVELAN380_WavImgSet(kId, 0, nullptr, 1), KORVELAN380_INVALID_ARGUMENT);
  EXPECT_EQ(KORVELAN380_Fifo_ImgSet(kId, 0, nullptr, 1), KORVELAN380_INVALID_ARGUMENT);
  EXPECT_TRUE(Calls().empty());
  EXPECT_EQ(KORVELAN380_WavImgSet("nobody", 9, nullptr, 0), KORVELAN380_NOT_CONNECTED);
}

TEST_F(Waveform, ChannelTwoPassesTheChecksButTheStreamRefusesIt) {
  const uint16_t sample = 0;
  EXPECT_EQ(KORVELAN380_Fifo_ImgSet(kId, 2, &sample, 1), KORVELAN380_TRANSFER_FAILED);
  EXPECT_TRUE(Calls().empty());
}

TEST_F(Waveform, UnconvertibleRangeStopsAfterTheRangeRead) {
  sim::SetRegister(serial, 34, 7);
  const uint16_t sample = 0;
  EXPECT_EQ(KORVELAN380_WavImgSet(kId, 0, &sample, 1), KORVELAN380_TRANSFER_FAILED);
  EXPECT_EQ(Wire(), std::vector<Bytes>{R(34, 34)});
}

TEST_F(Waveform, FailedStreamLeavesTheLengthWritten) {
  const uint16_t samples[3] = {1, 2, 3};
  sim::FailCall(serial, sim::Fn::Write, 4);  // range read, length, header, then the body
  EXPECT_EQ(KORVELAN380_WavImgSet(kId, 0, samples, 3), KORVELAN380_TRANSFER_FAILED);
  EXPECT_EQ(sim::Register(serial, 60), 2);
  const std::vector<Bytes> wire = Wire();
  ASSERT_EQ(wire.size(), 4u);  // the failed body last: no trailer after it
  EXPECT_EQ(wire.back().size(), 12u);
  EXPECT_EQ(KORVELAN380_WavImgSet(kId, 0, samples, 3), KORVELAN380_OK);  // still usable
}

TEST_F(Waveform, FifoClearWritesZeroToTheChannelsClearRegister) {
  EXPECT_EQ(KORVELAN380_Fifo_Clr(kId, 0), KORVELAN380_OK);
  EXPECT_EQ(KORVELAN380_Fifo_Clr(kId, 1), KORVELAN380_OK);
  EXPECT_EQ(KORVELAN380_Fifo_Clr(kId, 2), KORVELAN380_OK);
  EXPECT_EQ(Wire(), (std::vector<Bytes>{W(67, {0}), W(75, {0}), W(67, {0})}));
  EXPECT_EQ(KORVELAN380_Fifo_Clr(kId, 3), KORVELAN380_INVALID_ARGUMENT);
  EXPECT_EQ(Wire().size(), 3u);
}

TEST_F(Waveform, FifoStatusUnpacksFlagsAndCountersFromOneBlockRead) {
  const uint8_t block[16] = {0xC1, 0x23, 0x45, 0xAA, 0x3F, 0x01, 0x02, 0xAA,
                             0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  for (int i = 0; i < 16; ++i) sim::SetRegister(serial, static_cast<uint8_t>(64 + i), block[i]);
  uint8_t flag7[2] = {9, 9}, flag6[2] = {9, 9};
  uint32_t counter[2] = {0, 0};
  EXPECT_EQ(KORVELAN380_Fifo_Status(kId, flag7, flag6, counter), KORVELAN380_OK);
  EXPECT_EQ(Wire(), std::vector<Bytes>{R(64, 79)});
  EXPECT_EQ(flag7[0], 1);
  EXPECT_EQ(flag6[0], 1);
  EXPECT_EQ(counter[0], 0x12345u);
  EXPECT_EQ(flag7[1], 0);
  EXPECT_EQ(flag6[1], 0);
  EXPECT_EQ(counter[1], 0xF0102u);  // bits 5-4 dropped
}

TEST_F(Waveform, FailedFifoStatusLeavesEveryOutput) {
  uint8_t flag7[2] = {9, 9}, flag6[2] = {9, 9};
  uint32_t counter[2] = {7, 7};
  sim::CorruptNextReply(serial, 15);
  EXPECT_EQ(KORVELAN380_Fifo_Status(kId, flag7, flag6, counter), KORVELAN380_TRANSFER_FAILED);
  EXPECT_EQ(flag7[0], 9);
  EXPECT_EQ(counter[1], 7u);
  EXPECT_EQ(KORVELAN380_Fifo_Status(kId, nullptr, flag6, counter), KORVELAN380_INVALID_ARGUMENT);
  EXPECT_EQ(KORVELAN380_Fifo_Status("nobody", flag7, flag6, counter), KORVELAN380_NOT_CONNECTED);
}

}  // namespace
}  // namespace korvelan380::test
