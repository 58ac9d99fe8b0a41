// Connecting and disconnecting modules, through the shared library and the simulated driver.
#include <string>

#include "support/module_chat.h"

namespace korvelan380::test {
namespace {

using Connection = ModuleTest;

TEST_F(Connection, OpensByPrefixedSerialAndPurgesBothQueues) {
  EXPECT_EQ(KORVELAN380_Connect(kId), KORVELAN380_OK);
  const std::vector<sim::Call> calls = Calls();
  ASSERT_GE(calls.size(), 2u);
  EXPECT_EQ(calls[0].fn, sim::Fn::OpenEx);
  EXPECT_EQ(calls[0].arg, 1u);  // by serial number
  EXPECT_EQ(std::string(calls[0].data.begin(), calls[0].data.end()), "KORVELAN3807");
  EXPECT_EQ(calls[1].fn, sim::Fn::Purge);
  EXPECT_EQ(calls[1].arg, 3u);
  EXPECT_TRUE(sim::IsOpen(serial));
}

TEST_F(Connection, SecondConnectIsRefusedAndLeavesTheFirstAlone) {
  Connect();
  EXPECT_EQ(KORVELAN380_Connect(kId), KORVELAN380_ALREADY_CONNECTED);
  EXPECT_TRUE(Calls().empty());
  EXPECT_TRUE(sim::IsOpen(serial));
}

TEST_F(Connection, ModuleNotAttachedFailsToOpenAndLeavesNoEntry) {
  EXPECT_EQ(KORVELAN380_Connect("8"), KORVELAN380_OPEN_FAILED);
  EXPECT_EQ(KORVELAN380_DisConnect("8"), KORVELAN380_NOT_CONNECTED);
  // No trace left: once the module is there, it connects.
  ASSERT_TRUE(sim::Attach(sim::SerialOf("8")));
  EXPECT_EQ(KORVELAN380_Connect("8"), KORVELAN380_OK);
  EXPECT_EQ(KORVELAN380_DisConnect("8"), KORVELAN380_OK);
}

TEST_F(Connection, FailedOpenCallsNothingElse) {
  sim::FailCall(serial, sim::Fn::OpenEx, 1, 2);
  EXPECT_EQ(KORVELAN380_Connect(kId), KORVELAN380_OPEN_FAILED);
  EXPECT_EQ(Functions(Calls()), std::vector<sim::Fn>{sim::Fn::OpenEx});
  EXPECT_EQ(KORVELAN380_Connect(kId), KORVELAN380_OK);
}

TEST_F(Connection, FailedPurgeIsNotReported) {
  sim::FailCall(serial, sim::Fn::Purge, 1);
  EXPECT_EQ(KORVELAN380_Connect(kId), KORVELAN380_OK);
  EXPECT_TRUE(sim::IsOpen(serial));
}

TEST_F(Connection, DisconnectClosesOnceAndAFreshConnectOpensAgain) {
  Connect();
  EXPECT_EQ(KORVELAN380_DisConnect(kId), KORVELAN380_OK);
  EXPECT_EQ(Functions(Calls()), std::vector<sim::Fn>{sim::Fn::Close});
  EXPECT_FALSE(sim::IsOpen(serial));
  EXPECT_EQ(KORVELAN380_DisConnect(kId), KORVELAN380_NOT_CONNECTED);

  sim::ClearTrace();
  EXPECT_EQ(KORVELAN380_Connect(kId), KORVELAN380_OK);
  EXPECT_EQ(Calls().front().fn, sim::Fn::OpenEx);
}

TEST_F(Connection, FailedCloseIsNotReported) {
  Connect();
  sim::FailCall(serial, sim::Fn::Close, 1);
  EXPECT_EQ(KORVELAN380_DisConnect(kId), KORVELAN380_OK);
  EXPECT_EQ(KORVELAN380_DisConnect(kId), KORVELAN380_NOT_CONNECTED);
}

TEST_F(Connection, DisconnectOfUnknownIdentifierCallsNoDriver) {
  EXPECT_EQ(KORVELAN380_DisConnect("nobody"), KORVELAN380_NOT_CONNECTED);
  EXPECT_EQ(KORVELAN380_DisConnect(nullptr), KORVELAN380_NOT_CONNECTED);
  EXPECT_TRUE(sim::Trace().empty());
}

TEST(ConnectionIdentifiers, EmptyIdentifierOpensTheBareSerial) {
  sim::Reset();
  ASSERT_TRUE(sim::Attach("KORVELAN380"));
  EXPECT_EQ(KORVELAN380_Connect(""), KORVELAN380_OK);
  EXPECT_TRUE(sim::IsOpen("KORVELAN380"));
  EXPECT_EQ(KORVELAN380_DisConnect(""), KORVELAN380_OK);
}

TEST(ConnectionIdentifiers, EightCharactersFillTheSerialNumber) {
  sim::Reset();
  const std::string serial = "KORVELAN38012345678";  // 19 characters
  ASSERT_TRUE(sim::Attach(serial));
  EXPECT_EQ(KORVELAN380_Connect("12345678"), KORVELAN380_OK);
  EXPECT_TRUE(sim::IsOpen(serial));
  EXPECT_EQ(KORVELAN380_DisConnect("12345678"), KORVELAN380_OK);
}

TEST(ConnectionIdentifiers, LongOrNullIdentifierIsRefusedBeforeAnyDriverCall) {
  sim::Reset();
  ASSERT_TRUE(sim::Attach("KORVELAN380123456789"));
  EXPECT_EQ(KORVELAN380_Connect("123456789"), KORVELAN380_INVALID_ARGUMENT);
  EXPECT_EQ(KORVELAN380_Connect(std::string(4096, 'x').c_str()), KORVELAN380_INVALID_ARGUMENT);
  EXPECT_EQ(KORVELAN380_Connect(nullptr), KORVELAN380_INVALID_ARGUMENT);
  EXPECT_TRUE(sim::Trace().empty());
  EXPECT_EQ(KORVELAN380_DisConnect("123456789"), KORVELAN380_NOT_CONNECTED);
}

TEST(ConnectionIdentifiers, CaseMattersAndPrefixesDoNotMatch) {
  sim::Reset();
  for (const char* id : {"a", "A", "01", "1"}) ASSERT_TRUE(sim::Attach(sim::SerialOf(id)));
  for (const char* id : {"a", "A", "01", "1"}) EXPECT_EQ(KORVELAN380_Connect(id), KORVELAN380_OK);
  EXPECT_TRUE(sim::IsOpen("KORVELAN380a"));
  EXPECT_TRUE(sim::IsOpen("KORVELAN380A"));
  EXPECT_EQ(KORVELAN380_DisConnect("a"), KORVELAN380_OK);
  EXPECT_FALSE(sim::IsOpen("KORVELAN380a"));
  EXPECT_TRUE(sim::IsOpen("KORVELAN380A"));
  for (const char* id : {"A", "01", "1"}) EXPECT_EQ(KORVELAN380_DisConnect(id), KORVELAN380_OK);
  sim::Reset();
}

TEST(ConnectionTable, ManyModulesStayFindableThroughGrowthAndChurn) {
  sim::Reset();
  sim::SetTracing(false);
  constexpr int kModules = 300;
  for (int i = 0; i < kModules; ++i) ASSERT_TRUE(sim::Attach(sim::SerialOf(std::to_string(i))));
  for (int round = 0; round < 3; ++round) {
    for (int i = 0; i < kModules; ++i) {
      ASSERT_EQ(KORVELAN380_Connect(std::to_string(i).c_str()), KORVELAN380_OK) << i;
    }
    for (int i = 0; i < kModules; ++i) {
      ASSERT_EQ(KORVELAN380_Connect(std::to_string(i).c_str()), KORVELAN380_ALREADY_CONNECTED);
    }
    // Every other one out and back in, so that removed slots are reused and cleared.
    for (int i = 0; i < kModules; i += 2) {
      ASSERT_EQ(KORVELAN380_DisConnect(std::to_string(i).c_str()), KORVELAN380_OK);
    }
    for (int i = 0; i < kModules; ++i) {
      ASSERT_EQ(KORVELAN380_Connect(std::to_string(i).c_str()),
                i % 2 ? KORVELAN380_ALREADY_CONNECTED : KORVELAN380_OK);
    }
    for (int i = 0; i < kModules; ++i) {
      ASSERT_EQ(KORVELAN380_DisConnect(std::to_string(i).c_str()), KORVELAN380_OK) << i;
    }
  }
  sim::Reset();
}

}  // namespace
}  // namespace korvelan380::test
