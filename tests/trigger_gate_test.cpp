// Trigger, gate, external-signal, clock and EXIO selection, on the wire.
#include "support/module_chat.h"

namespace korvelan380::test {
namespace {

class Registers : public ModuleTest {
 protected:
  void SetUp() override {
    ModuleTest::SetUp();
    Connect();
  }
};

// ---- Trigger and gate -----------------------------------------------------------------------

TEST_F(Registers, TriggerWritesStartOrStopCommands) {
  EXPECT_EQ(KORVELAN380_Trigger(kId, 0, 1), KORVELAN380_OK);
  EXPECT_EQ(KORVELAN380_Trigger(kId, 1, 0), KORVELAN380_OK);
  EXPECT_EQ(KORVELAN380_Trigger(kId, 2, 1), KORVELAN380_OK);
  EXPECT_EQ(Wire(), (std::vector<Bytes>{W(27, {0x01}), W(29, {0x02}), W(6, {0x01})}));
  EXPECT_EQ(Functions(Calls()).size(), 3u);  // no drain, no sleep
}

TEST_F(Registers, TriggerStatusIsBitFourChannelTwoReadingChannelZero) {
  sim::SetRegister(serial, 27, 0x10);
  sim::SetRegister(serial, 29, 0xEF);
  sim::SetRegister(serial, 6, 0x10);
  uint8_t status = 9;
  EXPECT_EQ(KORVELAN380_Trigger_Stat(kId, 0, &status), KORVELAN380_OK);
  EXPECT_EQ(status, 1);
  EXPECT_EQ(KORVELAN380_Trigger_Stat(kId, 1, &status), KORVELAN380_OK);
  EXPECT_EQ(status, 0);
  sim::SetRegister(serial, 27, 0x00);
  EXPECT_EQ(KORVELAN380_Trigger_Stat(kId, 2, &status), KORVELAN380_OK);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(Wire(), (std::vector<Bytes>{R(27, 27), R(29, 29), R(27, 27)}));
}

TEST_F(Registers, GateIsWrittenAsGivenAndReadFromItsBit) {
  EXPECT_EQ(KORVELAN380_GateSet(kId, 0, 1), KORVELAN380_OK);
  EXPECT_EQ(KORVELAN380_GateSet(kId, 1, 0), KORVELAN380_OK);
  EXPECT_EQ(KORVELAN380_GateSet(kId, 2, 1), KORVELAN380_OK);
  EXPECT_EQ(Wire(), (std::vector<Bytes>{W(26, {1}), W(28, {0}), W(5, {1})}));
  uint8_t gate = 9;
  const struct {
    uint8_t channel, reg, byte, gate;
  } cases[] = {
      {0, 26, 0x01, 0}, {0, 26, 0x02, 1}, {1, 28, 0x02, 1}, {2, 5, 0x01, 1}, {2, 5, 0x02, 0}};
  for (const auto& c : cases) {
    sim::SetRegister(serial, c.reg, c.byte);
    EXPECT_EQ(KORVELAN380_GateSet_R(kId, c.channel, &gate), KORVELAN380_OK);
    EXPECT_EQ(gate, c.gate) << int(c.channel) << " " << int(c.byte);
  }
}

TEST_F(Registers, AGateSetReadsBackOnEveryChannel) {
  // The module reports a gate written in bit 0 of registers 26 and 28 in their bit 1.
  for (uint8_t channel = 0; channel < 3; ++channel) {
    for (uint8_t on : {1, 0}) {
      uint8_t gate = 9;
      ASSERT_EQ(KORVELAN380_GateSet(kId, channel, on), KORVELAN380_OK);
      ASSERT_EQ(KORVELAN380_GateSet_R(kId, channel, &gate), KORVELAN380_OK);
      EXPECT_EQ(gate, on) << "channel " << int(channel);
    }
  }
  EXPECT_EQ(sim::Register(serial, 28), 0x00);
  ASSERT_EQ(KORVELAN380_GateSet(kId, 1, 1), KORVELAN380_OK);
  EXPECT_EQ(sim::Register(serial, 28), 0x03);
  ASSERT_EQ(KORVELAN380_GateSet(kId, 2, 1), KORVELAN380_OK);
  EXPECT_EQ(sim::Register(serial, 5), 0x01);
}

TEST_F(Registers, TriggerAndGateReadsTakeWaitingBytesAsTheirReply) {
  sim::QueueReceive(serial, {0, 'R', 0x10, 0});
  uint8_t status = 0;
  EXPECT_EQ(KORVELAN380_Trigger_Stat(kId, 0, &status), KORVELAN380_OK);
  EXPECT_EQ(status, 1);  // no flush before the read
  EXPECT_EQ(CountOf(Calls(), sim::Fn::GetQueueStatus), 0u);
}

TEST_F(Registers, TriggerAndGateArgumentsAreCheckedWithNothingSent) {
  uint8_t out = 9;
  EXPECT_EQ(KORVELAN380_Trigger(kId, 3, 0), KORVELAN380_INVALID_ARGUMENT);
  EXPECT_EQ(KORVELAN380_Trigger(kId, 0, 2), KORVELAN380_INVALID_ARGUMENT);
  EXPECT_EQ(KORVELAN380_GateSet(kId, 3, 0), KORVELAN380_INVALID_ARGUMENT);
  EXPECT_EQ(KORVELAN380_GateSet(kId, 0, 2), KORVELAN380_INVALID_ARGUMENT);
  EXPECT_EQ(KORVELAN380_Trigger_Stat(kId, 255, &out), KORVELAN380_INVALID_ARGUMENT);
  EXPECT_EQ(KORVELAN380_GateSet_R(kId, 255, &out), KORVELAN380_INVALID_ARGUMENT);
  EXPECT_EQ(KORVELAN380_Trigger_Stat(kId, 0, nullptr), KORVELAN380_INVALID_ARGUMENT);
  EXPECT_EQ(KORVELAN380_GateSet_R(kId, 0, nullptr), KORVELAN380_INVALID_ARGUMENT);
  EXPECT_TRUE(Calls().empty());
  EXPECT_EQ(out, 9);
  EXPECT_EQ(KORVELAN380_Trigger("nobody", 3, 2), KORVELAN380_NOT_CONNECTED);
  EXPECT_EQ(KORVELAN380_GateSet_R("nobody", 255, nullptr), KORVELAN380_NOT_CONNECTED);
}

TEST_F(Registers, FailedTriggerOrGateReadLeavesTheOutput) {
  uint8_t out = 9;
  sim::CorruptNextReply(serial, 0);
  EXPECT_EQ(KORVELAN380_GateSet_R(kId, 0, &out), KORVELAN380_TRANSFER_FAILED);
  sim::FailCall(serial, sim::Fn::Read, 1);
  EXPECT_EQ(KORVELAN380_Trigger_Stat(kId, 0, &out), KORVELAN380_TRANSFER_FAILED);
  EXPECT_EQ(out, 9);
}

// ---- Selection and clock --------------------------------------------------------------------

TEST_F(Registers, SelectionsPackHighAndLowNibbles) {
  EXPECT_EQ(KORVELAN380_Exs_Sel(kId, 4, 4), KORVELAN380_OK);
  EXPECT_EQ(KORVELAN380_EXIO_Sel(kId, 6, 3), KORVELAN380_OK);
  EXPECT_EQ(Wire(), (std::vector<Bytes>{W(0, {0x44}), W(11, {0x36})}));
  EXPECT_EQ(KORVELAN380_Exs_Sel(kId, 5, 0), KORVELAN380_INVALID_ARGUMENT);
  EXPECT_EQ(KORVELAN380_Exs_Sel(kId, 0, 5), KORVELAN380_INVALID_ARGUMENT);
  EXPECT_EQ(KORVELAN380_EXIO_Sel(kId, 7, 0), KORVELAN380_INVALID_ARGUMENT);
  EXPECT_EQ(KORVELAN380_EXIO_Sel(kId, 0, 7), KORVELAN380_INVALID_ARGUMENT);
  EXPECT_EQ(Wire().size(), 2u);
}

TEST_F(Registers, SelectionReadBackFlushesAndReturnsAnyNibble) {
  sim::SetRegister(serial, 0, 0xF3);
  sim::QueueReceive(serial, {0, 'R', 0x11, 0});
  uint8_t low = 0, high = 0;
  EXPECT_EQ(KORVELAN380_Exs_Sel_R(kId, &low, &high), KORVELAN380_OK);
  EXPECT_EQ(low, 3);
  EXPECT_EQ(high, 15);
  EXPECT_EQ(Functions(Calls()), (std::vector<sim::Fn>{sim::Fn::GetQueueStatus, sim::Fn::Purge,
                                                      sim::Fn::Write, sim::Fn::Read}));
}

TEST_F(Registers, ExioReadBackPrintsTheByteInDecimal) {
  sim::SetRegister(serial, 11, 0x25);
  uint8_t low = 0, high = 0;
  testing::internal::CaptureStdout();
  const StatusCode status = KORVELAN380_EXIO_Sel_R(kId, &low, &high);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "37");
  EXPECT_EQ(status, KORVELAN380_OK);
  EXPECT_EQ(low, 5);
  EXPECT_EQ(high, 2);

  // A failed read prints nothing and writes no output.
  sim::CorruptNextReply(serial, 0);
  low = high = 9;
  testing::internal::CaptureStdout();
  EXPECT_EQ(KORVELAN380_EXIO_Sel_R(kId, &low, &high), KORVELAN380_TRANSFER_FAILED);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(low, 9);
}

TEST_F(Registers, ExioInputIsReturnedUnchangedWithoutAFlush) {
  sim::SetRegister(serial, 10, 0xC3);
  uint8_t value = 0;
  EXPECT_EQ(KORVELAN380_EXIO_In(kId, &value), KORVELAN380_OK);
  EXPECT_EQ(value, 0xC3);
  EXPECT_EQ(Functions(Calls()), (std::vector<sim::Fn>{sim::Fn::Write, sim::Fn::Read}));
  sim::QueueReceive(serial, {0, 'R', 0x77, 0});
  EXPECT_EQ(KORVELAN380_EXIO_In(kId, &value), KORVELAN380_OK);
  EXPECT_EQ(value, 0x77);
}

TEST_F(Registers, ClockSettingGoesMostSignificantFirstInOneFrame) {
  EXPECT_EQ(KORVELAN380_Clock_Gen(kId, 0, 99), KORVELAN380_OK);
  EXPECT_EQ(KORVELAN380_Clock_Gen(kId, 1, 0xFFFFFFFF), KORVELAN380_OK);
  EXPECT_EQ(KORVELAN380_Clock_Gen(kId, 2, 0x12345678), KORVELAN380_OK);
  EXPECT_EQ(Wire(),
            (std::vector<Bytes>{W(18, {0x00, 0x00, 0x00, 0x63}), W(22, {0xFF, 0xFF, 0xFF, 0xFF}),
                                W(1, {0x12, 0x34, 0x56, 0x78})}));
  EXPECT_EQ(KORVELAN380_Clock_Gen(kId, 0, 98), KORVELAN380_INVALID_ARGUMENT);
  EXPECT_EQ(KORVELAN380_Clock_Gen(kId, 3, 99), KORVELAN380_INVALID_ARGUMENT);
  EXPECT_EQ(Wire().size(), 3u);
}

TEST_F(Registers, SelectionArgumentsAndModuleAreChecked) {
  uint8_t a = 9, b = 9;
  EXPECT_EQ(KORVELAN380_Exs_Sel_R(kId, nullptr, &b), KORVELAN380_INVALID_ARGUMENT);
  EXPECT_EQ(KORVELAN380_EXIO_Sel_R(kId, &a, nullptr), KORVELAN380_INVALID_ARGUMENT);
  EXPECT_EQ(KORVELAN380_EXIO_In(kId, nullptr), KORVELAN380_INVALID_ARGUMENT);
  EXPECT_TRUE(Calls().empty());
  EXPECT_EQ(KORVELAN380_Exs_Sel("nobody", 9, 9), KORVELAN380_NOT_CONNECTED);
  EXPECT_EQ(KORVELAN380_Clock_Gen("nobody", 9, 0), KORVELAN380_NOT_CONNECTED);
  EXPECT_EQ(KORVELAN380_EXIO_Sel_R("nobody", &a, &b), KORVELAN380_NOT_CONNECTED);
  EXPECT_EQ(a, 9);
  sim::FailCall(serial, sim::Fn::GetQueueStatus, 1);
  EXPECT_EQ(KORVELAN380_Exs_Sel_R(kId, &a, &b), KORVELAN380_TRANSFER_FAILED);
  EXPECT_TRUE(Wire().empty());
}

}  // namespace
}  // namespace korvelan380::test
