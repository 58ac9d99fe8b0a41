// A simulated module's saved state: taken, turned into bytes and back, and put on a module.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "d2xx_exports.h"
#include "korvelan380_sim.h"
#include "korvelan380_sim.hpp"

namespace sim = korvelan380::sim;
using Bytes = std::vector<uint8_t>;

namespace {

const std::string kSerial = sim::SerialOf("7");
const std::string kCopy = sim::SerialOf("copy");

class SavedStateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::Reset();
    ASSERT_TRUE(sim::Attach(kSerial, 96));
  }
  void TearDown() override { sim::Reset(); }

  static FT_HANDLE Open(const std::string& serial) {
    FT_HANDLE h = nullptr;
    EXPECT_EQ(FT_OpenEx(const_cast<char*>(serial.c_str()), FT_OPEN_BY_SERIAL_NUMBER, &h), FT_OK);
    return h;
  }
  static void Write(FT_HANDLE h, const std::string& text) {
    DWORD written = 0;
    ASSERT_EQ(FT_Write(h, const_cast<char*>(text.data()), DWORD(text.size()), &written), FT_OK);
  }
  static Bytes Read(FT_HANDLE h) {
    Bytes buf(64);
    DWORD got = 0;
    EXPECT_EQ(FT_Read(h, buf.data(), DWORD(buf.size()), &got), FT_OK);
    buf.resize(got);
    return buf;
  }

  // Module 7 as a session leaves it: registers written, a calibration, a stream on channel 1,
  // an output error set by hand.
  static void UseModule() {
    FT_HANDLE h = Open(kSerial);
    Write(h, "\x02W2200\x03\x02W2a3fff\x03\x02X01123480000004\x03");
    FT_Close(h);
    sim::SetRegister(kSerial, 9, 0xA5);
    sim::SetIdealCalibration(kSerial);
    ASSERT_TRUE(sim::SetOutputError(kSerial, 1, 2, {0.0025, -3.75}));
  }
};

TEST_F(SavedStateTest, ARestoredModuleAnswersAsTheOriginalDid) {
  UseModule();
  const Bytes bytes = sim::EncodeState(sim::CaptureState(kSerial));
  sim::Reset();
  const auto decoded = sim::DecodeState(bytes);
  ASSERT_TRUE(decoded.has_value());
  sim::RestoreState(kCopy, *decoded);

  ASSERT_TRUE(sim::IsAttached(kCopy));
  FT_HANDLE h = Open(kCopy);
  Write(h, "\x02R0909\x03\x02R2a2b\x03");
  EXPECT_EQ(Read(h), (Bytes{2, 'R', 0xA5, 3, 2, 'R', 0x3F, 3, 2, 'R', 0xFF, 3}));
  DWORD size = 0;
  ASSERT_EQ(FT_EE_UASize(h, &size), FT_OK);
  EXPECT_EQ(size, 96u);
  unsigned char marker = 0;
  DWORD got = 0;
  ASSERT_EQ(FT_EE_UARead(h, &marker, 1, &got), FT_OK);
  EXPECT_EQ(marker, 0x55);
  EXPECT_EQ(sim::StreamSamples(kCopy, 1), (std::vector<uint16_t>{0x1234, 0x8000, 0x0004}));
  EXPECT_EQ(sim::StreamCount(kCopy, 1), 1u);
  EXPECT_EQ(sim::StreamCount(kCopy, 0), 0u);
  EXPECT_EQ(sim::OutputError(kCopy, 1, 2)->offsetCodes, -3.75);
  EXPECT_EQ(sim::OutputError(kCopy, 1, 2)->gain, 0.0025);
  FT_Close(h);
}

TEST_F(SavedStateTest, OnlyOutputErrorsSetByHandAreKept) {
  // Errors derived from the serial come back by themselves: the bytes do not carry them.
  const sim::ModuleState derived = sim::CaptureState(kSerial);
  EXPECT_FALSE(derived.outputErrors);
  EXPECT_EQ(sim::EncodeState(derived)[5], 0x01);

  const sim::ConverterError own = *sim::OutputError(kSerial, 0, 6);
  ASSERT_TRUE(sim::SetOutputError(kSerial, 0, 6, {-0.001, 4.5}));
  const Bytes bytes = sim::EncodeState(sim::CaptureState(kSerial));
  EXPECT_EQ(bytes[5], 0x03);
  ASSERT_EQ(bytes.size(), sim::EncodeState(derived).size() + 14 * 16);
  const auto decoded = sim::DecodeState(bytes);
  ASSERT_TRUE(decoded && decoded->outputErrors);
  EXPECT_EQ((*decoded->outputErrors)[6].gain, -0.001);
  EXPECT_EQ((*decoded->outputErrors)[6].offsetCodes, 4.5);

  // A state from before, or from a module whose errors were its own, puts its own back.
  sim::RestoreState(kSerial, derived);
  EXPECT_EQ(sim::OutputError(kSerial, 0, 6)->gain, own.gain);
  EXPECT_EQ(sim::OutputError(kSerial, 0, 6)->offsetCodes, own.offsetCodes);
  sim::RestoreState(kSerial, *decoded);
  EXPECT_EQ(sim::OutputError(kSerial, 0, 6)->offsetCodes, 4.5);

  Bytes notANumber = bytes;
  std::fill(notANumber.end() - 8, notANumber.end(), 0xFF);  // the last offset: a NaN
  EXPECT_FALSE(sim::DecodeState(notANumber));
}

TEST_F(SavedStateTest, RestoringOverAnOpenModuleKeepsItsHandle) {
  FT_HANDLE h = Open(kSerial);
  sim::ModuleState state;
  state.attached = true;
  state.registers[34] = 4;
  state.eeprom = Bytes(16, 0x11);
  sim::RestoreState(kSerial, state);
  Write(h, "\x02R2222\x03");
  EXPECT_EQ(Read(h), (Bytes{2, 'R', 4, 3}));
  EXPECT_EQ(sim::Eeprom(kSerial), Bytes(16, 0x11));
  EXPECT_EQ(FT_Close(h), FT_OK);
}

TEST_F(SavedStateTest, AStateThatIsNotAttachedDetaches) {
  const sim::ModuleState absent = sim::CaptureState(sim::SerialOf("nobody"));
  EXPECT_FALSE(absent.attached);
  EXPECT_TRUE(absent.eeprom.empty());
  sim::RestoreState(kSerial, absent);
  EXPECT_FALSE(sim::IsAttached(kSerial));
  const auto decoded = sim::DecodeState(sim::EncodeState(absent));
  ASSERT_TRUE(decoded.has_value());
  EXPECT_FALSE(decoded->attached);
}

TEST_F(SavedStateTest, TheByteFormatIsVersionedAndLittleEndian) {
  sim::ModuleState state;
  state.attached = true;
  state.registers[0] = 0x42;
  state.registers[255] = 0x24;
  state.eeprom = {0xAB};
  state.streamCounts = {3, 0x01020304};
  state.streams[1] = {0xBEEF};
  const Bytes bytes = sim::EncodeState(state);
  ASSERT_EQ(bytes.size(), 6u + 256 + 4 + 1 + 8 + 8 + 2);
  EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + 7), (Bytes{'K', 'S', 'I', 'M', 1, 1, 0x42}));
  EXPECT_EQ(bytes[261], 0x24);
  EXPECT_EQ(Bytes(bytes.begin() + 262, bytes.end()),
            (Bytes{1, 0, 0, 0, 0xAB, 3, 0, 0, 0, 0, 0, 0, 0, 4, 3, 2, 1, 1, 0, 0, 0, 0xEF, 0xBE}));
  const auto decoded = sim::DecodeState(bytes);
  ASSERT_TRUE(decoded.has_value());
  EXPECT_EQ(decoded->registers, state.registers);
  EXPECT_EQ(decoded->eeprom, state.eeprom);
  EXPECT_EQ(decoded->streams, state.streams);
  EXPECT_EQ(decoded->streamCounts, state.streamCounts);
}

TEST_F(SavedStateTest, MalformedBytesAreRefused) {
  UseModule();
  const Bytes good = sim::EncodeState(sim::CaptureState(kSerial));
  ASSERT_TRUE(sim::DecodeState(good).has_value());
  for (size_t n = 0; n < good.size(); ++n) {
    EXPECT_FALSE(sim::DecodeState(Bytes(good.begin(), good.begin() + n))) << "cut at " << n;
  }
  Bytes longer = good;
  longer.push_back(0);
  EXPECT_FALSE(sim::DecodeState(longer));
  for (size_t at : {0u, 4u, 5u}) {
    Bytes bad = good;
    bad[at] ^= 0x02;  // another magic, version 3, an unknown flag
    EXPECT_FALSE(sim::DecodeState(bad)) << "byte " << at;
  }
  Bytes huge = good;
  huge[262 + 3] = 0x7F;  // an EEPROM size far beyond the bytes that follow
  EXPECT_FALSE(sim::DecodeState(huge));
}

TEST_F(SavedStateTest, CLayerExportsAndImportsOrChangesNothing) {
  UseModule();
  const size_t length = ksim_export_state(kSerial.c_str(), nullptr, 0);
  Bytes bytes(length, 0xEE);
  EXPECT_EQ(ksim_export_state(kSerial.c_str(), bytes.data(), length - 1), length);
  EXPECT_EQ(bytes, Bytes(length, 0xEE));  // too small: nothing copied
  EXPECT_EQ(ksim_export_state(kSerial.c_str(), bytes.data(), length), length);
  EXPECT_EQ(bytes, sim::EncodeState(sim::CaptureState(kSerial)));

  EXPECT_EQ(ksim_import_state(kCopy.c_str(), bytes.data(), length - 1), 0);
  EXPECT_FALSE(sim::IsAttached(kCopy));
  EXPECT_EQ(ksim_import_state(kCopy.c_str(), bytes.data(), length), 1);
  EXPECT_EQ(sim::Registers(kCopy), sim::Registers(kSerial));
  EXPECT_EQ(ksim_import_state(nullptr, bytes.data(), length), 0);
}

}  // namespace
