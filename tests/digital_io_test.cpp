// The digital I/O port, over the wire of the simulated module.
#include <chrono>

#include "support/module_chat.h"

namespace korvelan380::test {
namespace {

class DigitalIo : public ModuleTest {
 protected:
  void SetUp() override {
    ModuleTest::SetUp();
    Connect();
  }
};

TEST_F(DigitalIo, EveryDirectionAndOutputByteIsSentUnchangedAndReadBack) {
  sim::SetTracing(false);
  for (int value = 0; value < 256; ++value) {
    const uint8_t byte = static_cast<uint8_t>(value);
    ASSERT_EQ(KORVELAN380_Dio_Dir(kId, byte), KORVELAN380_OK);
    ASSERT_EQ(KORVELAN380_Dio_Out(kId, static_cast<uint8_t>(~byte)), KORVELAN380_OK);
    ASSERT_EQ(sim::Register(serial, 7), byte);
    ASSERT_EQ(sim::Register(serial, 8), static_cast<uint8_t>(~byte));
    uint8_t direction = 0, output = 0;
    ASSERT_EQ(KORVELAN380_Dio_Dir_R(kId, &direction), KORVELAN380_OK);
    ASSERT_EQ(KORVELAN380_Dio_Out_R(kId, &output), KORVELAN380_OK);
    ASSERT_EQ(direction, byte);
    ASSERT_EQ(output, static_cast<uint8_t>(~byte));
  }
}

TEST_F(DigitalIo, EveryInputByteIsReturnedUnchanged) {
  sim::SetTracing(false);
  for (int value = 0; value < 256; ++value) {
    sim::SetRegister(serial, 9, static_cast<uint8_t>(value));
    uint8_t input = static_cast<uint8_t>(~value);
    ASSERT_EQ(KORVELAN380_Dio_In(kId, &input), KORVELAN380_OK);
    ASSERT_EQ(input, value);
  }
}

TEST_F(DigitalIo, WriteSendsOneFrameAndWaitsForAnEmptyTransmitQueue) {
  sim::SetTransmitBusy(serial, 2);
  EXPECT_EQ(KORVELAN380_Dio_Dir(kId, 0x5A), KORVELAN380_OK);
  EXPECT_EQ(Functions(Calls()), (std::vector<sim::Fn>{sim::Fn::Write, sim::Fn::GetStatus,
                                                      sim::Fn::GetStatus, sim::Fn::GetStatus}));
  EXPECT_EQ(Wire(), std::vector<Bytes>{W(7, {0x5A})});
  uint8_t direction = 0;
  EXPECT_EQ(KORVELAN380_Dio_Dir_R(kId, &direction), KORVELAN380_OK);
  EXPECT_EQ(direction, 0x5A);
}

TEST_F(DigitalIo, ReadBackFlushesThenReadsWithoutSleeping) {
  sim::SetRegister(serial, 8, 0x3C);
  sim::QueueReceive(serial, {0x00, 'R', 0x99, 0x03});  // stale: must not become the result
  uint8_t output = 0;
  EXPECT_EQ(KORVELAN380_Dio_Out_R(kId, &output), KORVELAN380_OK);
  EXPECT_EQ(output, 0x3C);
  EXPECT_EQ(Functions(Calls()), (std::vector<sim::Fn>{sim::Fn::GetQueueStatus, sim::Fn::Purge,
                                                      sim::Fn::Write, sim::Fn::Read}));
  EXPECT_EQ(Wire(), std::vector<Bytes>{R(8, 8)});
}

TEST_F(DigitalIo, InputReadWritesZeroDrainsPausesThenReads) {
  sim::SetRegister(serial, 9, 0xA5);
  sim::QueueReceive(serial, {1, 2, 3});
  uint8_t input = 0;
  EXPECT_EQ(KORVELAN380_Dio_In(kId, &input), KORVELAN380_OK);
  EXPECT_EQ(input, 0xA5);
  const std::vector<sim::Call> calls = Calls();
  EXPECT_EQ(Functions(calls),
            (std::vector<sim::Fn>{sim::Fn::GetQueueStatus, sim::Fn::Purge, sim::Fn::Write,
                                  sim::Fn::GetStatus, sim::Fn::Write, sim::Fn::Read}));
  EXPECT_EQ(Wire(), (std::vector<Bytes>{W(9, {0x00}), R(9, 9)}));
  // The 1 ms pause lies between the empty transmit queue and the read frame.
  EXPECT_GE(calls[4].timeNs - calls[3].timeNs, 1'000'000u);
}

TEST_F(DigitalIo, UnknownModuleGivesTwoSendsNothingAndLeavesOutputs) {
  uint8_t byte = 0xEE;
  for (const char* id : {"never", static_cast<const char*>(nullptr)}) {
    EXPECT_EQ(KORVELAN380_Dio_Dir(id, 1), KORVELAN380_NOT_CONNECTED);
    EXPECT_EQ(KORVELAN380_Dio_Out(id, 1), KORVELAN380_NOT_CONNECTED);
    EXPECT_EQ(KORVELAN380_Dio_Dir_R(id, &byte), KORVELAN380_NOT_CONNECTED);
    EXPECT_EQ(KORVELAN380_Dio_Out_R(id, &byte), KORVELAN380_NOT_CONNECTED);
    EXPECT_EQ(KORVELAN380_Dio_In(id, &byte), KORVELAN380_NOT_CONNECTED);
  }
  EXPECT_EQ(byte, 0xEE);
  EXPECT_TRUE(sim::Trace().empty());
}

TEST_F(DigitalIo, NullOutputIsRefusedBeforeAnythingIsSent) {
  EXPECT_EQ(KORVELAN380_Dio_Dir_R(kId, nullptr), KORVELAN380_INVALID_ARGUMENT);
  EXPECT_EQ(KORVELAN380_Dio_Out_R(kId, nullptr), KORVELAN380_INVALID_ARGUMENT);
  EXPECT_EQ(KORVELAN380_Dio_In(kId, nullptr), KORVELAN380_INVALID_ARGUMENT);
  EXPECT_TRUE(Calls().empty());
}

TEST_F(DigitalIo, BadReplyGivesFiveAndLeavesTheOutputByte) {
  uint8_t byte = 0xEE;
  sim::CorruptNextReply(serial, 0);
  EXPECT_EQ(KORVELAN380_Dio_Dir_R(kId, &byte), KORVELAN380_TRANSFER_FAILED);
  sim::CorruptNextReply(serial, 0);
  EXPECT_EQ(KORVELAN380_Dio_In(kId, &byte), KORVELAN380_TRANSFER_FAILED);
  EXPECT_EQ(byte, 0xEE);
  EXPECT_EQ(KORVELAN380_Dio_Dir_R(kId, &byte), KORVELAN380_OK);  // the module is still usable
}

TEST_F(DigitalIo, FailedFlushSendsNothing) {
  uint8_t byte = 0;
  sim::FailCall(serial, sim::Fn::GetQueueStatus, 1);
  EXPECT_EQ(KORVELAN380_Dio_In(kId, &byte), KORVELAN380_TRANSFER_FAILED);
  EXPECT_TRUE(Wire().empty());
}

TEST_F(DigitalIo, DrainThatNeverEndsFailsAfterTheWriteWithoutReading) {
  sim::SetTransmitBusy(serial, UINT32_MAX);
  uint8_t byte = 0xEE;
  EXPECT_EQ(KORVELAN380_Dio_In(kId, &byte), KORVELAN380_TRANSFER_FAILED);
  EXPECT_EQ(Wire(), std::vector<Bytes>{W(9, {0x00})});
  EXPECT_EQ(byte, 0xEE);
}

}  // namespace
}  // namespace korvelan380::test
