// The calibration record: loaded at connect, replaced, stored, and kept across connections.
#include <bit>
#include <cmath>
#include <cstring>

#include "support/module_chat.h"

namespace korvelan380::test {
namespace {

// An 88-byte record as the EEPROM holds it.
Bytes RecordBytes(const CalibrationGains& gains, const CalibrationOffsets& offsets,
                  uint8_t marker = 0x55) {
  Bytes record(88, 0);
  record[0] = marker;
  std::memcpy(record.data() + 4, gains.gain, 56);
  std::memcpy(record.data() + 60, offsets.offset, 28);
  return record;
}

Bytes DefaultRecord() {
  Bytes record(88, 0);
  record[0] = 0x55;
  return record;
}

CalibrationGains SomeGains() {
  CalibrationGains gains;
  for (int i = 0; i < 14; ++i) gains.gain[i] = 0.001f * static_cast<float>(i + 1);
  gains.gain[3] = -0.0f;
  gains.gain[4] = std::bit_cast<float>(0x7FC12345u);  // a NaN with a payload
  gains.gain[5] = -INFINITY;
  return gains;
}

CalibrationOffsets SomeOffsets() {
  CalibrationOffsets offsets;
  for (int i = 0; i < 14; ++i) offsets.offset[i] = static_cast<uint16_t>(0x2000 + 1000 * i);
  offsets.offset[13] = 0xFFFF;
  return offsets;
}

class Calibration : public ModuleTest {
 protected:
  std::vector<sim::Call> EepromWrites() const {
    std::vector<sim::Call> writes;
    for (const sim::Call& call : Calls()) {
      if (call.fn == sim::Fn::EeUaWrite) writes.push_back(call);
    }
    return writes;
  }
  void Reconnect() {
    ASSERT_EQ(KORVELAN380_DisConnect(kId), KORVELAN380_OK);
    ASSERT_EQ(KORVELAN380_Connect(kId), KORVELAN380_OK);
  }
  // The working copy holds these, bit for bit (NaN payloads and signed zeros included).
  static void ExpectWorkingCopy(const CalibrationGains& gains, const CalibrationOffsets& offsets) {
    CalibrationOffsets gotOffsets;
    CalibrationGains gotGains;
    EXPECT_EQ(KORVELAN380_Calib_Val_Get(kId, &gotOffsets, &gotGains), KORVELAN380_OK);
    EXPECT_EQ(std::memcmp(&gotGains, &gains, sizeof gains), 0);
    EXPECT_EQ(std::memcmp(&gotOffsets, &offsets, sizeof offsets), 0);
  }
};

TEST_F(Calibration, BlankUserAreaIsInitialisedOnceWithTheDefaultRecord) {
  ASSERT_EQ(KORVELAN380_Connect(kId), KORVELAN380_OK);
  EXPECT_EQ(Functions(Calls()),
            (std::vector<sim::Fn>{sim::Fn::OpenEx, sim::Fn::Purge, sim::Fn::SetTimeouts,
                                  sim::Fn::EeUaSize, sim::Fn::EeUaRead, sim::Fn::EeUaSize,
                                  sim::Fn::EeUaWrite,
                                  // the outputs' first state follows
                                  sim::Fn::Write, sim::Fn::Read, sim::Fn::Write, sim::Fn::Write,
                                  sim::Fn::Write, sim::Fn::Write, sim::Fn::Write}));
  const Bytes eeprom = sim::Eeprom(serial);
  EXPECT_EQ(Bytes(eeprom.begin(), eeprom.begin() + 88), DefaultRecord());
  EXPECT_EQ(eeprom[88], 0xFF);  // the rest of the user area is left alone

  CalibrationOffsets offsets;
  CalibrationGains gains;
  std::memset(&offsets, 0xEE, sizeof offsets);
  std::memset(&gains, 0xEE, sizeof gains);
  EXPECT_EQ(KORVELAN380_Calib_Val_Get(kId, &offsets, &gains), KORVELAN380_OK);
  for (int i = 0; i < 14; ++i) {
    EXPECT_EQ(std::bit_cast<uint32_t>(gains.gain[i]), 0u);
    EXPECT_EQ(offsets.offset[i], 0);
  }

  sim::ClearTrace();
  Reconnect();
  EXPECT_TRUE(EepromWrites().empty());  // now a valid record
}

TEST_F(Calibration, StoredRecordIsLoadedIntoTheWorkingCopy) {
  const CalibrationGains gains = SomeGains();
  const CalibrationOffsets offsets = SomeOffsets();
  sim::SetEeprom(serial, RecordBytes(gains, offsets));
  ASSERT_EQ(KORVELAN380_Connect(kId), KORVELAN380_OK);
  EXPECT_TRUE(EepromWrites().empty());
  ExpectWorkingCopy(gains, offsets);
}

TEST_F(Calibration, UserAreaTooSmallIsNeitherReadNorWritten) {
  sim::SetEeprom(serial, Bytes(87, 0x55));
  ASSERT_EQ(KORVELAN380_Connect(kId), KORVELAN380_OK);
  const std::vector<sim::Fn> fns = Functions(Calls());
  EXPECT_EQ(CountOf(Calls(), sim::Fn::EeUaRead), 0u);
  EXPECT_EQ(CountOf(Calls(), sim::Fn::EeUaWrite), 0u);
  EXPECT_EQ(sim::Eeprom(serial), Bytes(87, 0x55));
  CalibrationOffsets offsets;
  CalibrationGains gains;
  EXPECT_EQ(KORVELAN380_Calib_Val_Get(kId, &offsets, &gains), KORVELAN380_OK);
  EXPECT_EQ(offsets.offset[0], 0);
}

TEST_F(Calibration, FailedLoadDoesNotFailTheConnect) {
  sim::SetEeprom(serial, RecordBytes(SomeGains(), SomeOffsets()));
  sim::FailCall(serial, sim::Fn::EeUaRead, 1);
  ASSERT_EQ(KORVELAN380_Connect(kId), KORVELAN380_OK);
  CalibrationOffsets offsets;
  CalibrationGains gains;
  EXPECT_EQ(KORVELAN380_Calib_Val_Get(kId, &offsets, &gains), KORVELAN380_OK);
  EXPECT_EQ(offsets.offset[0], 0);  // the default record
}

TEST_F(Calibration, GetAfterSetReturnsTheSameBitsNaNPayloadsIncluded) {
  Connect();
  const CalibrationGains gains = SomeGains();
  const CalibrationOffsets offsets = SomeOffsets();
  EXPECT_EQ(KORVELAN380_Calib_Val_Set(kId, &offsets, &gains, 0), KORVELAN380_OK);
  ExpectWorkingCopy(gains, offsets);
  EXPECT_TRUE(Calls().empty());  // neither touches the module
}

TEST_F(Calibration, UnsavedValuesLastUntilTheNextConnect) {
  Connect();
  const CalibrationGains gains = SomeGains();
  const CalibrationOffsets offsets = SomeOffsets();
  EXPECT_EQ(KORVELAN380_Calib_Val_Set(kId, &offsets, &gains, 0), KORVELAN380_OK);
  EXPECT_TRUE(EepromWrites().empty());
  Reconnect();
  CalibrationOffsets gotOffsets;
  CalibrationGains gotGains;
  EXPECT_EQ(KORVELAN380_Calib_Val_Get(kId, &gotOffsets, &gotGains), KORVELAN380_OK);
  EXPECT_EQ(gotOffsets.offset[0], 0);
}

TEST_F(Calibration, SavedValuesSurviveADisconnect) {
  Connect();
  const CalibrationGains gains = SomeGains();
  const CalibrationOffsets offsets = SomeOffsets();
  EXPECT_EQ(KORVELAN380_Calib_Val_Set(kId, &offsets, &gains, 1), KORVELAN380_OK);
  const std::vector<sim::Call> writes = EepromWrites();
  ASSERT_EQ(writes.size(), 1u);
  EXPECT_EQ(writes[0].arg, 88u);
  EXPECT_EQ(writes[0].data, RecordBytes(gains, offsets));
  Reconnect();
  ExpectWorkingCopy(gains, offsets);
}

TEST_F(Calibration, StoreIsAgainstTheRecordFoundAtConnect) {
  const CalibrationGains gains = SomeGains();
  const CalibrationOffsets offsets = SomeOffsets();
  sim::SetEeprom(serial, RecordBytes(gains, offsets));
  Connect();
  // The values found at connect: nothing to store.
  EXPECT_EQ(KORVELAN380_Calib_Val_Set(kId, &offsets, &gains, 1), KORVELAN380_OK);
  EXPECT_TRUE(EepromWrites().empty());
  // Changed values, twice: stored both times.
  CalibrationGains changed = gains;
  changed.gain[0] = 0.5f;
  EXPECT_EQ(KORVELAN380_Calib_Val_Set(kId, &offsets, &changed, 1), KORVELAN380_OK);
  EXPECT_EQ(KORVELAN380_Calib_Val_Set(kId, &offsets, &changed, 1), KORVELAN380_OK);
  EXPECT_EQ(EepromWrites().size(), 2u);
  // Back to the values found at connect: nothing stored, though the EEPROM differs now.
  EXPECT_EQ(KORVELAN380_Calib_Val_Set(kId, &offsets, &gains, 1), KORVELAN380_OK);
  EXPECT_EQ(EepromWrites().size(), 2u);
  // -0.0 differs from 0.0 byte for byte.
  CalibrationGains negativeZero = gains;
  negativeZero.gain[3] = 0.0f;
  EXPECT_EQ(KORVELAN380_Calib_Val_Set(kId, &offsets, &negativeZero, 1), KORVELAN380_OK);
  EXPECT_EQ(EepromWrites().size(), 3u);
}

TEST_F(Calibration, StoreThatCannotBeMadeIsReportedButTheWorkingCopyChanges) {
  Connect();
  const CalibrationGains gains = SomeGains();
  const CalibrationOffsets offsets = SomeOffsets();
  CalibrationOffsets gotOffsets;
  CalibrationGains gotGains;

  sim::FailCall(serial, sim::Fn::EeUaWrite, 1);
  EXPECT_EQ(KORVELAN380_Calib_Val_Set(kId, &offsets, &gains, 1), KORVELAN380_TRANSFER_FAILED);
  EXPECT_EQ(KORVELAN380_Calib_Val_Get(kId, &gotOffsets, &gotGains), KORVELAN380_OK);
  EXPECT_EQ(std::memcmp(&gotGains, &gains, sizeof gains), 0);

  sim::FailCall(serial, sim::Fn::EeUaSize, 1);
  EXPECT_EQ(KORVELAN380_Calib_Val_Set(kId, &offsets, &gains, 1), KORVELAN380_TRANSFER_FAILED);
  EXPECT_EQ(CountOf(Calls(), sim::Fn::EeUaWrite), 1u);  // only the first attempt

  sim::SetEeprom(serial, Bytes(64, 0));
  EXPECT_EQ(KORVELAN380_Calib_Val_Set(kId, &offsets, &gains, 1), KORVELAN380_TRANSFER_FAILED);
  EXPECT_EQ(sim::Eeprom(serial), Bytes(64, 0));
}

TEST_F(Calibration, UnknownModuleTouchesNeitherEepromNorCallerStructures) {
  const CalibrationGains gains = SomeGains();
  const CalibrationOffsets offsets = SomeOffsets();
  EXPECT_EQ(KORVELAN380_Calib_Val_Set(kId, &offsets, &gains, 1), KORVELAN380_NOT_CONNECTED);
  CalibrationOffsets gotOffsets = offsets;
  CalibrationGains gotGains = gains;
  EXPECT_EQ(KORVELAN380_Calib_Val_Get(kId, &gotOffsets, &gotGains), KORVELAN380_NOT_CONNECTED);
  EXPECT_EQ(std::memcmp(&gotOffsets, &offsets, sizeof offsets), 0);
  EXPECT_TRUE(sim::Trace().empty());
}

TEST_F(Calibration, NullStructuresAreRefused) {
  Connect();
  CalibrationOffsets offsets{};
  CalibrationGains gains{};
  EXPECT_EQ(KORVELAN380_Calib_Val_Set(kId, nullptr, &gains, 1), KORVELAN380_INVALID_ARGUMENT);
  EXPECT_EQ(KORVELAN380_Calib_Val_Set(kId, &offsets, nullptr, 1), KORVELAN380_INVALID_ARGUMENT);
  EXPECT_EQ(KORVELAN380_Calib_Val_Get(kId, nullptr, &gains), KORVELAN380_INVALID_ARGUMENT);
  EXPECT_EQ(KORVELAN380_Calib_Val_Get(kId, &offsets, nullptr), KORVELAN380_INVALID_ARGUMENT);
  EXPECT_TRUE(Calls().empty());
}

}  // namespace
}  // namespace korvelan380::test
