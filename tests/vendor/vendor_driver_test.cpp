// The library on FTDI's own D2XX driver, over FT232R chips emulated at the USB level: what
// reaches the module is checked in the module's registers, as the simulated-module tests do.
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "korvelan380.h"
#include "korvelan380_ftdi_chips.h"

namespace {

constexpr const char* kId = "7";
constexpr uint8_t kInitialisedRegister = 12;

std::array<uint16_t, 128> Eeprom(const char* id) {
  std::array<uint16_t, 128> words{};
  kft_eeprom(id, words.data(), words.size());
  return words;
}

class VendorDriver : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    kft_attach("7");
    kft_attach("8");
  }
  void SetUp() override {
    if (access(KORVELAN380_VENDOR_DRIVER, F_OK) != 0) {
      GTEST_SKIP() << "FTDI's driver was not fetched (" KORVELAN380_VENDOR_DRIVER
                      " is missing): npm could not reach its registry";
    }
    ASSERT_EQ(KORVELAN380_Connect(kId), KORVELAN380_OK);
  }
  void TearDown() override { KORVELAN380_DisConnect(kId); }
};

TEST_F(VendorDriver, ConnectFindsTheChipBySerialAndInitialisesTheOutputs) {
  EXPECT_TRUE(kft_is_open(kId));
  EXPECT_FALSE(kft_is_open("8"));
  EXPECT_EQ(kft_register(kId, kInitialisedRegister), 1);
  EXPECT_EQ(KORVELAN380_Connect(kId), KORVELAN380_ALREADY_CONNECTED);
  EXPECT_EQ(KORVELAN380_Connect("9"), KORVELAN380_OPEN_FAILED);  // no chip has that serial
  // Both driver queues were purged: the chip saw a purge of its receive buffer.
  EXPECT_GE(kft_vendor_requests(kId, 0x00), 1u);

  ASSERT_EQ(KORVELAN380_DisConnect(kId), KORVELAN380_OK);
  // The driver closes the node a moment after FT_Close returns.
  for (int i = 0; i < 200 && kft_is_open(kId); ++i) usleep(5000);
  EXPECT_FALSE(kft_is_open(kId));
  EXPECT_EQ(KORVELAN380_Dio_Dir(kId, 1), KORVELAN380_NOT_CONNECTED);
  ASSERT_EQ(KORVELAN380_Connect(kId), KORVELAN380_OK);
}

TEST_F(VendorDriver, TheUserAreaOfAnFt232rIsTooSmallForTheCalibrationRecord) {
  // The driver's user area lies between the serial number string and the checksum: 40 bytes
  // here, short of the record's 88, so the library neither reads nor writes it.
  const auto before = Eeprom(kId);
  CalibrationOffsets offsets{};
  CalibrationGains gains{};
  for (size_t i = 0; i < KORVELAN380_CALIBRATION_ENTRIES; ++i) {
    gains.gain[i] = 0.0012f;
    offsets.offset[i] = 8200;
  }
  // The store asked for cannot be made, and is reported so.
  EXPECT_EQ(KORVELAN380_Calib_Val_Set(kId, &offsets, &gains, 1), KORVELAN380_TRANSFER_FAILED);
  EXPECT_EQ(Eeprom(kId), before);
  CalibrationOffsets gotOffsets{};
  CalibrationGains gotGains{};
  EXPECT_EQ(KORVELAN380_Calib_Val_Get(kId, &gotOffsets, &gotGains), KORVELAN380_OK);
  EXPECT_EQ(gotGains.gain[3], 0.0012f);  // the working copy holds it until disconnect
  ASSERT_EQ(KORVELAN380_DisConnect(kId), KORVELAN380_OK);
  ASSERT_EQ(KORVELAN380_Connect(kId), KORVELAN380_OK);
  EXPECT_EQ(KORVELAN380_Calib_Val_Get(kId, &gotOffsets, &gotGains), KORVELAN380_OK);
  EXPECT_EQ(gotGains.gain[3], 0.0f);
  EXPECT_EQ(Eeprom(kId), before);
}

TEST_F(VendorDriver, RegisterWritesAndReadsReachTheModule) {
  for (int value : {0x00, 0x5A, 0xFF}) {
    const auto byte = static_cast<uint8_t>(value);
    ASSERT_EQ(KORVELAN380_Dio_Dir(kId, byte), KORVELAN380_OK);
    ASSERT_EQ(KORVELAN380_Dio_Out(kId, static_cast<uint8_t>(~byte)), KORVELAN380_OK);
    EXPECT_EQ(kft_register(kId, 7), byte);
    EXPECT_EQ(kft_register(kId, 8), static_cast<uint8_t>(~byte));
    uint8_t direction = 0, output = 0;
    ASSERT_EQ(KORVELAN380_Dio_Dir_R(kId, &direction), KORVELAN380_OK);
    ASSERT_EQ(KORVELAN380_Dio_Out_R(kId, &output), KORVELAN380_OK);
    EXPECT_EQ(direction, byte);
    EXPECT_EQ(output, static_cast<uint8_t>(~byte));
  }
  ASSERT_EQ(KORVELAN380_DacValSet_NoCalibed(kId, 1, 0x2ABC), KORVELAN380_OK);
  uint16_t raw = 0;
  ASSERT_EQ(KORVELAN380_DacValSet_NoCalibed_R(kId, 1, &raw), KORVELAN380_OK);
  EXPECT_EQ(raw, 0x2ABC);
}

TEST_F(VendorDriver, DigitalInputsAreReadAfterTheDrain) {
  kft_set_register(kId, 9, 0xA5);
  const uint32_t writes = kft_register_writes(kId, 9);
  uint8_t input = 0;
  ASSERT_EQ(KORVELAN380_Dio_In(kId, &input), KORVELAN380_OK);
  EXPECT_EQ(input, 0xA5);
  // The zero written first to latch the inputs reached the module before the read.
  EXPECT_EQ(kft_register_writes(kId, 9), writes + 1);
  kft_set_register(kId, 10, 0x3C);
  ASSERT_EQ(KORVELAN380_EXIO_In(kId, &input), KORVELAN380_OK);
  EXPECT_EQ(input, 0x3C);
}

TEST_F(VendorDriver, AFullWaveformReachesTheModuleAsConverted) {
  CalibrationOffsets offsets{};
  CalibrationGains gains{};
  for (size_t i = 0; i < KORVELAN380_CALIBRATION_ENTRIES; ++i) {
    gains.gain[i] = 0.0012f;
    offsets.offset[i] = 8200;
  }
  ASSERT_EQ(KORVELAN380_Calib_Val_Set(kId, &offsets, &gains, 0), KORVELAN380_OK);
  uint8_t range = 0;
  ASSERT_EQ(KORVELAN380_RangeSet_R(kId, 1, &range), KORVELAN380_OK);
  std::vector<uint16_t> samples(524288);
  for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<uint16_t>((i * 7) & 0x3FFF);
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(KORVELAN380_WavImgSet(kId, 1, samples.data(), 524288), KORVELAN380_OK);
  const auto took = std::chrono::steady_clock::now() - start;
  std::vector<uint16_t> received(kft_stream_samples(kId, 1, nullptr, 0));
  kft_stream_samples(kId, 1, received.data(), received.size());
  ASSERT_EQ(received.size(), samples.size());
  for (size_t i = 0; i < samples.size(); i += 997) {
    uint16_t code = 0;
    ASSERT_EQ(KORVELANGetCalibedVal(kId, 1, range, samples[i], &code), KORVELAN380_OK);
    ASSERT_EQ(received[i] & ~3u, code & ~3u) << "sample " << i;
  }
  RecordProperty(
      "waveform_ms",
      std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(took).count()));
}

TEST_F(VendorDriver, TwoChipsAreDrivenSideBySide) {
  ASSERT_EQ(KORVELAN380_Connect("8"), KORVELAN380_OK);
  ASSERT_EQ(KORVELAN380_Dio_Out(kId, 0x11), KORVELAN380_OK);
  ASSERT_EQ(KORVELAN380_Dio_Out("8", 0x22), KORVELAN380_OK);
  EXPECT_EQ(kft_register(kId, 8), 0x11);
  EXPECT_EQ(kft_register("8", 8), 0x22);
  EXPECT_EQ(KORVELAN380_DisConnect("8"), KORVELAN380_OK);
}

}  // namespace
