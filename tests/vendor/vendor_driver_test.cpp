// The library on FTDI's own D2XX driver, or on the open backend (see driver_under_test.h), over
// FTDI chips emulated at the USB level (the module's FT232H unless a test says otherwise): what
// reaches the module is checked in the module's registers, as the simulated-module tests do, and
// the calibration in the chip's EEPROM.
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "chip_eeprom.h"
#include "driver_under_test.h"
#include "korvelan380.h"
#include "korvelan380_ftdi_chips.h"

namespace {

using korvelan380::test::ChecksumHolds;
using korvelan380::test::Eeprom;

constexpr const char* kId = "7";
constexpr uint8_t kInitialisedRegister = 12;
// On an FT232H the driver's user area starts at word 16, and the calibration record is its
// first 88 bytes; the checksum of the configuration area is word 127.
constexpr size_t kRecordWord = 16;
constexpr size_t kRecordSize = 88;
constexpr size_t kChecksumWord = 127;

// The calibration record as it lies in the EEPROM: marker, three reserved bytes, the gains and
// the offsets.
struct StoredRecord {
  uint8_t marker;
  uint8_t reserved[3];
  CalibrationGains gains;
  CalibrationOffsets offsets;
};
static_assert(sizeof(StoredRecord) == kRecordSize);

StoredRecord RecordIn(const std::vector<uint16_t>& words) {
  StoredRecord record;
  std::memcpy(&record, words.data() + kRecordWord, kRecordSize);
  return record;
}

bool SameCalibration(const CalibrationGains& g1, const CalibrationOffsets& o1,
                     const CalibrationGains& g2, const CalibrationOffsets& o2) {
  return std::memcmp(&g1, &g2, sizeof g1) == 0 && std::memcmp(&o1, &o2, sizeof o1) == 0;
}

// The close of a disconnect reaches the chip a moment after FT_Close returns.
bool ClosedSoon(const char* id) {
  for (int i = 0; i < 200 && kft_is_open(id); ++i) usleep(5000);
  return !kft_is_open(id);
}

class VendorDriver : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    kft_attach("7");
    kft_attach("8");
    kft_attach("9:ft232r");
    kft_attach("6:blank");
    kft_attach("4");
    kft_attach("1");
  }
  void SetUp() override {
    const std::string missing = korvelan380::test::DriverMissing();
    if (!missing.empty()) GTEST_SKIP() << missing;
    ASSERT_EQ(KORVELAN380_Connect(kId), KORVELAN380_OK);
  }
  void TearDown() override { KORVELAN380_DisConnect(kId); }
};

TEST_F(VendorDriver, ConnectFindsTheChipBySerialAndInitialisesTheOutputs) {
  EXPECT_TRUE(kft_is_open(kId));
  EXPECT_FALSE(kft_is_open("8"));
  EXPECT_EQ(kft_register(kId, kInitialisedRegister), 1);
  EXPECT_EQ(KORVELAN380_Connect(kId), KORVELAN380_ALREADY_CONNECTED);
  EXPECT_EQ(KORVELAN380_Connect("2"), KORVELAN380_OPEN_FAILED);  // no chip has that serial
  // Both driver queues were purged: the chip saw a purge of its receive buffer.
  EXPECT_GE(kft_vendor_requests(kId, 0x00), 1u);

  ASSERT_EQ(KORVELAN380_DisConnect(kId), KORVELAN380_OK);
  EXPECT_TRUE(ClosedSoon(kId));
  EXPECT_EQ(KORVELAN380_Dio_Dir(kId, 1), KORVELAN380_NOT_CONNECTED);
  ASSERT_EQ(KORVELAN380_Connect(kId), KORVELAN380_OK);
}

TEST_F(VendorDriver, AFreshFt232hConnectsWithTheIdealRecordFromItsUserArea) {
  const auto words = Eeprom(kId);
  const StoredRecord stored = RecordIn(words);
  EXPECT_EQ(stored.marker, 0x55);
  EXPECT_TRUE(ChecksumHolds(words, kChecksumWord));
  CalibrationOffsets offsets{};
  CalibrationGains gains{};
  ASSERT_EQ(KORVELAN380_Calib_Val_Get(kId, &offsets, &gains), KORVELAN380_OK);
  EXPECT_TRUE(SameCalibration(gains, offsets, stored.gains, stored.offsets));
  EXPECT_EQ(gains.gain[0], 20.0f / 16384);  // channel 0, the ±10 V range
  EXPECT_EQ(offsets.offset[7], 0x2000);     // channel 1, the same range
}

TEST_F(VendorDriver, ABlankUserAreaGetsTheDefaultRecord) {
  ASSERT_EQ(RecordIn(Eeprom("6")).marker, 0x00);  // as FTDI's tools leave it
  ASSERT_EQ(KORVELAN380_Connect("6"), KORVELAN380_OK);
  const auto words = Eeprom("6");
  const StoredRecord stored = RecordIn(words);
  EXPECT_EQ(stored.marker, 0x55);
  EXPECT_TRUE(ChecksumHolds(words, kChecksumWord));
  CalibrationOffsets offsets{};
  CalibrationGains gains{};
  ASSERT_EQ(KORVELAN380_Calib_Val_Get("6", &offsets, &gains), KORVELAN380_OK);
  EXPECT_TRUE(SameCalibration(gains, offsets, stored.gains, stored.offsets));
  EXPECT_TRUE(SameCalibration(gains, offsets, CalibrationGains{}, CalibrationOffsets{}));
  EXPECT_EQ(KORVELAN380_DisConnect("6"), KORVELAN380_OK);
}

TEST_F(VendorDriver, AStoredCalibrationOutlivesUnplugAndReplug) {
  ASSERT_EQ(KORVELAN380_Connect("4"), KORVELAN380_OK);
  CalibrationOffsets offsets{};
  CalibrationGains gains{};
  for (size_t i = 0; i < KORVELAN380_CALIBRATION_ENTRIES; ++i) {
    gains.gain[i] = 0.0012f + static_cast<float>(i) * 1e-6f;
    offsets.offset[i] = static_cast<uint16_t>(8200 + i);
  }
  ASSERT_EQ(KORVELAN380_Calib_Val_Set("4", &offsets, &gains, 1), KORVELAN380_OK);
  ASSERT_EQ(kft_unplug("4"), 0);
  EXPECT_EQ(KORVELAN380_Dio_Out("4", 0x11), KORVELAN380_TRANSFER_FAILED);
  EXPECT_EQ(KORVELAN380_DisConnect("4"), KORVELAN380_OK);
  EXPECT_TRUE(ClosedSoon("4"));
  EXPECT_EQ(KORVELAN380_Connect("4"), KORVELAN380_OPEN_FAILED);

  ASSERT_EQ(kft_plug("4"), 0);
  EXPECT_EQ(kft_register("4", kInitialisedRegister), 0);  // the module as at power-up
  ASSERT_EQ(KORVELAN380_Connect("4"), KORVELAN380_OK);
  CalibrationOffsets gotOffsets{};
  CalibrationGains gotGains{};
  ASSERT_EQ(KORVELAN380_Calib_Val_Get("4", &gotOffsets, &gotGains), KORVELAN380_OK);
  EXPECT_TRUE(SameCalibration(gotGains, gotOffsets, gains, offsets));
  const auto words = Eeprom("4");
  EXPECT_TRUE(SameCalibration(RecordIn(words).gains, RecordIn(words).offsets, gains, offsets));
  EXPECT_TRUE(ChecksumHolds(words, kChecksumWord));
  EXPECT_EQ(KORVELAN380_DisConnect("4"), KORVELAN380_OK);
}

TEST_F(VendorDriver, TheUserAreaOfAnFt232rIsTooSmallForTheCalibrationRecord) {
  // The driver's user area lies between the serial number string and the checksum: 40 bytes
  // here, short of the record's 88, so the library neither reads nor writes it.
  constexpr const char* kFt232r = "9";
  ASSERT_EQ(KORVELAN380_Connect(kFt232r), KORVELAN380_OK);
  const auto before = Eeprom(kFt232r);
  CalibrationOffsets offsets{};
  CalibrationGains gains{};
  for (size_t i = 0; i < KORVELAN380_CALIBRATION_ENTRIES; ++i) {
    gains.gain[i] = 0.0012f;
    offsets.offset[i] = 8200;
  }
  // The store asked for cannot be made, and is reported so.
  EXPECT_EQ(KORVELAN380_Calib_Val_Set(kFt232r, &offsets, &gains, 1), KORVELAN380_TRANSFER_FAILED);
  EXPECT_EQ(Eeprom(kFt232r), before);
  CalibrationOffsets gotOffsets{};
  CalibrationGains gotGains{};
  EXPECT_EQ(KORVELAN380_Calib_Val_Get(kFt232r, &gotOffsets, &gotGains), KORVELAN380_OK);
  EXPECT_EQ(gotGains.gain[3], 0.0012f);  // the working copy holds it until disconnect
  ASSERT_EQ(KORVELAN380_DisConnect(kFt232r), KORVELAN380_OK);
  ASSERT_EQ(KORVELAN380_Connect(kFt232r), KORVELAN380_OK);
  EXPECT_EQ(KORVELAN380_Calib_Val_Get(kFt232r, &gotOffsets, &gotGains), KORVELAN380_OK);
  EXPECT_EQ(gotGains.gain[3], 0.0f);
  EXPECT_EQ(Eeprom(kFt232r), before);
  EXPECT_EQ(KORVELAN380_DisConnect(kFt232r), KORVELAN380_OK);
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

TEST_F(VendorDriver, TheOutputIsMeasuredBehindTheChipAndItsErrorsOutliveAReplug) {
  ASSERT_EQ(kft_set_output_error(kId, 0, 1, 0.0, 0.0), 0);  // a perfect converter on -5..5 V
  ASSERT_EQ(KORVELAN380_RangeSet(kId, 0, 1), KORVELAN380_OK);
  ASSERT_EQ(KORVELAN380_DacValSet_NoCalibed(kId, 0, 0x3000), KORVELAN380_OK);
  double volts = 0.0;
  ASSERT_EQ(kft_measure(kId, 0, &volts), 0);
  EXPECT_EQ(volts, 2.5);
  EXPECT_EQ(kft_measure(kId, 2, &volts), -1);
  EXPECT_EQ(kft_measure("nobody", 0, &volts), -1);
  EXPECT_EQ(kft_set_output_error(kId, 0, 7, 0.0, 0.0), -1);
  EXPECT_EQ(volts, 2.5);

  // Powered up afresh the module outputs code 0 on -10..10 V, through the same converter.
  ASSERT_EQ(kft_set_output_error("8", 1, 0, 0.001, 3.0), 0);
  ASSERT_EQ(kft_unplug("8"), 0);
  ASSERT_EQ(kft_plug("8"), 0);
  ASSERT_EQ(kft_measure("8", 1, &volts), 0);
  EXPECT_DOUBLE_EQ(volts, (-8192 - 3.0) * (20.0 / 16384) * 1.001);
}

// The two-point calibration with readings from the emulated chip's converter: every pair ends
// within 1 LSB, and so it stays after the record's store and a new connect.
TEST_F(VendorDriver, TwoPointCalibrationOverTheDriverIsStoredAndHolds) {
  constexpr double kSpan[7] = {20.0, 10.0, 5.0, 2.5, 10.0, 5.0, 2.5};
  const auto errorLsb = [&](uint8_t channel, uint8_t range, uint16_t raw) {
    double volts = 0.0;
    EXPECT_EQ(kft_measure(kId, channel, &volts), 0);
    const double lsb = kSpan[range] / 16384;
    return (volts - ((range < 4 ? -kSpan[range] / 2 : 0) + raw * lsb)) / lsb;
  };
  for (uint8_t channel = 0; channel < 2; ++channel) {
    for (uint8_t range = 0; range < 7; ++range) {
      SCOPED_TRACE("channel " + std::to_string(channel) + " range " + std::to_string(range));
      // Several codes off; a unipolar range's zero above code 0, where a calibration reaches it.
      const double offset = range < 4 && channel == 0 ? -4.7 : 5.2;
      ASSERT_EQ(kft_set_output_error(kId, channel, range, channel == 0 ? 0.003 : -0.002, offset),
                0);
      KORVELAN380_CALIB_ADJUST a;
      ASSERT_EQ(KORVELAN380_CalibAdjustBegin(kId, channel, range, &a), KORVELAN380_OK);
      for (int point = 0; point < 3; ++point) {
        double volts = 0.0;
        ASSERT_EQ(kft_measure(kId, channel, &volts), 0);
        ASSERT_EQ(KORVELAN380_CalibAdjustReading(kId, &a, volts), KORVELAN380_OK);
      }
      for (double error : a.errorLsb) EXPECT_LT(std::abs(error), 1.0);
    }
  }
  CalibrationOffsets offsets{};
  CalibrationGains gains{};
  ASSERT_EQ(KORVELAN380_Calib_Val_Get(kId, &offsets, &gains), KORVELAN380_OK);
  ASSERT_EQ(KORVELAN380_Calib_Val_Set(kId, &offsets, &gains, 1), KORVELAN380_OK);
  ASSERT_EQ(KORVELAN380_DisConnect(kId), KORVELAN380_OK);
  ASSERT_EQ(KORVELAN380_Connect(kId), KORVELAN380_OK);
  for (uint8_t channel = 0; channel < 2; ++channel) {
    for (uint8_t range = 0; range < 7; ++range) {
      ASSERT_EQ(KORVELAN380_RangeSet(kId, channel, range), KORVELAN380_OK);
      for (uint16_t raw : {1638, 14746, 0x2000}) {
        ASSERT_EQ(KORVELAN380_DacValSet(kId, channel, raw), KORVELAN380_OK);
        EXPECT_LT(std::abs(errorLsb(channel, range, raw)), 1.0)
            << "channel " << int{channel} << " range " << int{range} << " raw " << raw;
      }
    }
  }
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

// ---- Reads that always end, and the latency timer ---------------------------------------------

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

TEST_F(VendorDriver, AWithheldReplyFailsAfterTheBudgetAndTheModuleAnswersAgain) {
  uint8_t range = 0;
  kft_withhold_replies(kId, 1);
  const auto start = Clock::now();
  EXPECT_EQ(KORVELAN380_RangeSet_R(kId, 0, &range), KORVELAN380_TRANSFER_FAILED);
  const double waited = SecondsSince(start);
  std::printf("a withheld reply failed after %.2f s\n", waited);
  EXPECT_GE(waited, 9.0);
  EXPECT_LT(waited, 13.0);
  EXPECT_EQ(KORVELAN380_RangeSet_R(kId, 0, &range), KORVELAN380_OK);
}

TEST_F(VendorDriver, ADisconnectDuringAWithheldReplyReturnsAndClosesTheHandle) {
  kft_withhold_replies(kId, 1);
  StatusCode readStatus = KORVELAN380_OK;
  std::thread reader([&readStatus] {
    uint8_t range = 0;
    readStatus = KORVELAN380_RangeSet_R(kId, 0, &range);
  });
  usleep(300 * 1000);  // the reader is waiting for its reply by now
  const auto start = Clock::now();
  EXPECT_EQ(KORVELAN380_DisConnect(kId), KORVELAN380_OK);
  EXPECT_LT(SecondsSince(start), 2.0);
  reader.join();
  EXPECT_NE(readStatus, KORVELAN380_OK);
  EXPECT_TRUE(ClosedSoon(kId));
}

TEST_F(VendorDriver, AnUnplugDuringAReadFailsItSoon) {
  ASSERT_EQ(KORVELAN380_Connect("1"), KORVELAN380_OK);
  kft_withhold_replies("1", 1);
  std::thread unplug([] {
    usleep(300 * 1000);  // the read is waiting for its reply by now
    kft_unplug("1");
  });
  uint8_t range = 0;
  const auto start = Clock::now();
  EXPECT_EQ(KORVELAN380_RangeSet_R("1", 0, &range), KORVELAN380_TRANSFER_FAILED);
  EXPECT_LT(SecondsSince(start), 2.0);
  unplug.join();
  EXPECT_EQ(KORVELAN380_DisConnect("1"), KORVELAN380_OK);
  EXPECT_TRUE(ClosedSoon("1"));
  EXPECT_EQ(kft_plug("1"), 0);
}

TEST_F(VendorDriver, TheLatencyTimerIsTheChipsUntilTurnedDown) {
  EXPECT_EQ(kft_latency_timer(kId), 16);  // connect makes no latency setting
  EXPECT_EQ(KORVELAN380_LatencySet(kId, 0), KORVELAN380_INVALID_ARGUMENT);
  EXPECT_EQ(KORVELAN380_LatencySet(kId, 256), KORVELAN380_INVALID_ARGUMENT);
  EXPECT_EQ(kft_latency_timer(kId), 16);
  EXPECT_EQ(KORVELAN380_LatencySet(kId, 2), KORVELAN380_OK);
  EXPECT_EQ(kft_latency_timer(kId), 2);
  EXPECT_EQ(KORVELAN380_LatencySet("8", 2), KORVELAN380_NOT_CONNECTED);

  // A program that cannot be changed sets it through the environment, at every connect.
  setenv("KORVELAN380_LATENCY_MS", "3", 1);
  ASSERT_EQ(KORVELAN380_Connect("8"), KORVELAN380_OK);
  unsetenv("KORVELAN380_LATENCY_MS");
  EXPECT_EQ(kft_latency_timer("8"), 3);
  EXPECT_EQ(KORVELAN380_DisConnect("8"), KORVELAN380_OK);
}

}  // namespace
