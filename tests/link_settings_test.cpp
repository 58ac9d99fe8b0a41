// The driver settings of the link: the timeouts every connect sets, and the chip's latency timer,
// which only KORVELAN380_LatencySet and KORVELAN380_LATENCY_MS change.
#include <chrono>
#include <cstdlib>
#include <string>

#include "support/module_chat.h"

namespace korvelan380::test {
namespace {

constexpr const char* kLatencyVariable = "KORVELAN380_LATENCY_MS";

// Sets the variable for this process, or removes it (null).
void SetLatencyVariable(const char* value) {
#ifdef _WIN32
  _putenv_s(kLatencyVariable, value != nullptr ? value : "");  // "" removes it
#else
  if (value != nullptr) {
    setenv(kLatencyVariable, value, 1);
  } else {
    unsetenv(kLatencyVariable);
  }
#endif
}

class LinkSettings : public ModuleTest {
 protected:
  void TearDown() override {
    SetLatencyVariable(nullptr);
    ModuleTest::TearDown();
  }
  // The arguments of every FT_SetLatencyTimer call in the trace.
  std::vector<uint32_t> LatenciesSet() const {
    std::vector<uint32_t> set;
    for (const sim::Call& call : Calls()) {
      if (call.fn == sim::Fn::SetLatencyTimer) set.push_back(call.arg);
    }
    return set;
  }
};

TEST_F(LinkSettings, ConnectSetsTheTimeoutsAfterThePurgeAndLeavesTheLatencyAlone) {
  ASSERT_EQ(KORVELAN380_Connect(kId), KORVELAN380_OK);
  const std::vector<sim::Fn> fns = Functions(Calls());
  ASSERT_GE(fns.size(), 4u);
  EXPECT_EQ(std::vector<sim::Fn>(fns.begin(), fns.begin() + 4),
            (std::vector<sim::Fn>{sim::Fn::OpenEx, sim::Fn::Purge, sim::Fn::SetTimeouts,
                                  sim::Fn::EeUaSize}));
  EXPECT_EQ(Calls()[2].arg, 100u);  // the read timeout, in ms
  EXPECT_TRUE(LatenciesSet().empty());
}

TEST_F(LinkSettings, RefusedTimeoutsLeaveTheConnectWorking) {
  sim::FailCall(serial, sim::Fn::SetTimeouts, 1, 4);
  ASSERT_EQ(KORVELAN380_Connect(kId), KORVELAN380_OK);
  uint8_t range = 0xEE;
  EXPECT_EQ(KORVELAN380_RangeSet_R(kId, 0, &range), KORVELAN380_OK);
  EXPECT_EQ(range, 0);
}

TEST_F(LinkSettings, LatencySetSetsTheTimerAndRepliesComeThatLate) {
  Connect();
  EXPECT_EQ(KORVELAN380_LatencySet(kId, 30), KORVELAN380_OK);
  EXPECT_EQ(Functions(Calls()), std::vector<sim::Fn>{sim::Fn::SetLatencyTimer});
  EXPECT_EQ(LatenciesSet(), std::vector<uint32_t>{30});
  const auto start = std::chrono::steady_clock::now();
  uint8_t range = 0;
  EXPECT_EQ(KORVELAN380_RangeSet_R(kId, 0, &range), KORVELAN380_OK);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(30));
}

TEST_F(LinkSettings, LatencySetOnARefusingDriverOrAClosedModule) {
  Connect();
  sim::FailCall(serial, sim::Fn::SetLatencyTimer, 1, 6);
  EXPECT_EQ(KORVELAN380_LatencySet(kId, 2), KORVELAN380_TRANSFER_FAILED);
  EXPECT_EQ(KORVELAN380_LatencySet(kId, 2), KORVELAN380_OK);
  ASSERT_EQ(KORVELAN380_DisConnect(kId), KORVELAN380_OK);
  sim::ClearTrace();
  EXPECT_EQ(KORVELAN380_LatencySet(kId, 2), KORVELAN380_NOT_CONNECTED);
  EXPECT_TRUE(Calls().empty());
}

TEST_F(LinkSettings, TheVariableSetsTheLatencyAtEveryConnectAfterTheTimeouts) {
  SetLatencyVariable("2");
  for (int round = 0; round < 2; ++round) {
    sim::ClearTrace();
    ASSERT_EQ(KORVELAN380_Connect(kId), KORVELAN380_OK);
    const std::vector<sim::Fn> fns = Functions(Calls());
    ASSERT_GE(fns.size(), 4u);
    EXPECT_EQ(fns[2], sim::Fn::SetTimeouts);
    EXPECT_EQ(fns[3], sim::Fn::SetLatencyTimer);
    EXPECT_EQ(LatenciesSet(), std::vector<uint32_t>{2});
    ASSERT_EQ(KORVELAN380_DisConnect(kId), KORVELAN380_OK);
  }
  // A driver that refuses it does not stop the connect.
  sim::FailCall(serial, sim::Fn::SetLatencyTimer, 1, 4);
  EXPECT_EQ(KORVELAN380_Connect(kId), KORVELAN380_OK);
}

TEST_F(LinkSettings, AVariableThatIsNoAcceptedLatencyIsIgnored) {
  for (const char* value : {"0", "256", "4294967298", "2ms", " 2", "+2", "-2", "0x10", "", "two"}) {
    SetLatencyVariable(value);
    sim::ClearTrace();
    ASSERT_EQ(KORVELAN380_Connect(kId), KORVELAN380_OK) << value;
    EXPECT_TRUE(LatenciesSet().empty()) << "\"" << value << "\"";
    ASSERT_EQ(KORVELAN380_DisConnect(kId), KORVELAN380_OK);
  }
  SetLatencyVariable("255");
  sim::ClearTrace();
  ASSERT_EQ(KORVELAN380_Connect(kId), KORVELAN380_OK);
  EXPECT_EQ(LatenciesSet(), std::vector<uint32_t>{255});
}

}  // namespace
}  // namespace korvelan380::test
