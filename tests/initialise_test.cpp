// The outputs' first state, written on a connect that finds the initialised flag clear.
#include <cstring>

#include "support/module_chat.h"

namespace korvelan380::test {
namespace {

// A stored record whose range-6 zero codes are 0x0102 on channel 0 and 0x0A0B on channel 1.
void StoreZeroCodes(const std::string& serial) {
  Bytes record(88, 0);
  record[0] = 0x55;
  const float gain = static_cast<float>(2.5 / 16384.0);
  for (int index : {6, 13}) std::memcpy(record.data() + 4 + 4 * index, &gain, 4);
  const uint16_t offsets[2] = {0x0102, 0x0A0B};
  std::memcpy(record.data() + 60 + 2 * 6, &offsets[0], 2);
  std::memcpy(record.data() + 60 + 2 * 13, &offsets[1], 2);
  sim::SetEeprom(serial, record);
}

using Initialise = ModuleTest;

TEST_F(Initialise, ClearFlagGetsZeroCodesInOrderThenTheFlag) {
  StoreZeroCodes(serial);
  EXPECT_EQ(KORVELAN380_Connect(kId), KORVELAN380_OK);
  EXPECT_EQ(Wire(), (std::vector<Bytes>{R(12, 12), W(42, {0x01, 0x02}), W(50, {0x01, 0x02}),
                                        W(44, {0x0A, 0x0B}), W(52, {0x0A, 0x0B}), W(12, {0x01})}));
  EXPECT_EQ(sim::Register(serial, 12), 1);
}

TEST_F(Initialise, SetFlagMeansOneReadAndNothingWritten) {
  for (uint8_t flag : {1, 0x80}) {
    sim::SetRegister(serial, 12, flag);
    sim::ClearTrace();
    EXPECT_EQ(KORVELAN380_Connect(kId), KORVELAN380_OK);
    EXPECT_EQ(Wire(), std::vector<Bytes>{R(12, 12)});
    EXPECT_EQ(KORVELAN380_DisConnect(kId), KORVELAN380_OK);
  }
}

TEST_F(Initialise, DefaultCalibrationGivesZeroCodes) {
  EXPECT_EQ(KORVELAN380_Connect(kId), KORVELAN380_OK);
  const std::vector<Bytes> wire = Wire();
  ASSERT_EQ(wire.size(), 6u);
  for (int i = 1; i < 5; ++i)
    EXPECT_EQ(std::string(wire[i].begin() + 4, wire[i].end() - 1), "0000");
}

TEST_F(Initialise, NoReplyToTheFlagReadLeavesTheModuleConnectedButUntouched) {
  sim::CorruptNextReply(serial, 0);
  EXPECT_EQ(KORVELAN380_Connect(kId), KORVELAN380_TRANSFER_FAILED);
  EXPECT_EQ(Wire(), std::vector<Bytes>{R(12, 12)});
  EXPECT_EQ(KORVELAN380_Connect(kId), KORVELAN380_ALREADY_CONNECTED);
  uint8_t byte;
  EXPECT_EQ(KORVELAN380_Dio_Dir_R(kId, &byte), KORVELAN380_OK);  // open and usable
}

TEST_F(Initialise, FailedPresetWriteStopsTheSequenceAndTheNextConnectRunsItAgain) {
  StoreZeroCodes(serial);
  sim::FailCall(serial, sim::Fn::Write, 3);  // the read of 12, the write of 42-43, then 50-51
  EXPECT_EQ(KORVELAN380_Connect(kId), KORVELAN380_TRANSFER_FAILED);
  EXPECT_EQ(sim::Register(serial, 42), 0x01);
  EXPECT_EQ(sim::Register(serial, 43), 0x02);
  EXPECT_EQ(sim::Register(serial, 50), 0x00);
  EXPECT_EQ(sim::Register(serial, 44), 0x00);
  EXPECT_EQ(sim::Register(serial, 12), 0x00);
  EXPECT_EQ(KORVELAN380_Connect(kId), KORVELAN380_ALREADY_CONNECTED);

  ASSERT_EQ(KORVELAN380_DisConnect(kId), KORVELAN380_OK);
  sim::ClearTrace();
  EXPECT_EQ(KORVELAN380_Connect(kId), KORVELAN380_OK);
  EXPECT_EQ(Wire().size(), 6u);
  EXPECT_EQ(sim::Register(serial, 52), 0x0A);
  EXPECT_EQ(sim::Register(serial, 12), 0x01);
}

}  // namespace
}  // namespace korvelan380::test
