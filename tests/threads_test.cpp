// Several threads on the library at once: calls on one module never interleave, and a module
// disconnected under a call in flight ends that call with a status, never a crash.
#include <atomic>
#include <chrono>
#include <thread>

#include "support/module_chat.h"

namespace korvelan380::test {
namespace {

class Threads : public ModuleTest {
 protected:
  void SetUp() override {
    ModuleTest::SetUp();
    Connect();
  }
};

TEST_F(Threads, CallsOnOneModuleRunOneAtATime) {
  sim::SetRegister(serial, 8, 0x42);
  sim::SetRegister(serial, 9, 0x24);
  constexpr int kRounds = 300;
  std::atomic<int> failures{0};
  auto reader = [&](bool input) {
    for (int i = 0; i < kRounds; ++i) {
      uint8_t byte = 0;
      const StatusCode status =
          input ? KORVELAN380_Dio_In(kId, &byte) : KORVELAN380_Dio_Out_R(kId, &byte);
      if (status != KORVELAN380_OK || byte != (input ? 0x24 : 0x42)) ++failures;
    }
  };
  auto writer = [&] {
    for (int i = 0; i < kRounds; ++i) {
      if (KORVELAN380_DacValSet(kId, 0, static_cast<uint16_t>(i)) != KORVELAN380_OK) ++failures;
    }
  };
  std::thread a(reader, true), b(reader, false), c(writer);
  a.join();
  b.join();
  c.join();
  EXPECT_EQ(failures.load(), 0);

  // On the wire, each call's frames and reads follow one another with nothing in between.
  const std::vector<sim::Call> calls = Calls();
  for (size_t i = 0; i + 2 < calls.size(); ++i) {
    if (calls[i].fn != sim::Fn::Write) continue;
    if (calls[i].data == R(34, 34)) {
      ASSERT_EQ(calls[i + 1].fn, sim::Fn::Read) << i;
      ASSERT_EQ(calls[i + 2].fn, sim::Fn::Write) << i;
      ASSERT_EQ(calls[i + 2].data[2], '2') << i;  // the write of 42-43
      ASSERT_EQ(calls[i + 2].data[3], 'a') << i;
    } else if (calls[i].data == W(9, {0x00})) {
      ASSERT_EQ(calls[i + 1].fn, sim::Fn::GetStatus) << i;
      ASSERT_EQ(calls[i + 2].data, R(9, 9)) << i;
    }
  }
}

TEST_F(Threads, DisconnectUnderAPollingCallEndsItWithFive) {
  sim::WithholdReplies(serial, 1);
  std::atomic<StatusCode> status{KORVELAN380_OK};
  std::thread caller([&] {
    uint8_t byte;
    status = KORVELAN380_Dio_Out_R(kId, &byte);
  });
  while (CountOf(Calls(), sim::Fn::Read) < 2) std::this_thread::yield();
  EXPECT_EQ(KORVELAN380_DisConnect(kId), KORVELAN380_OK);
  caller.join();
  EXPECT_EQ(status.load(), KORVELAN380_TRANSFER_FAILED);
  EXPECT_EQ(Calls().back().fn, sim::Fn::Close);
  uint8_t byte;
  EXPECT_EQ(KORVELAN380_Dio_Out_R(kId, &byte), KORVELAN380_NOT_CONNECTED);
}

TEST_F(Threads, ConnectAndDisconnectRaceWithCallsWithoutHarm) {
  sim::SetTracing(false);
  std::atomic<bool> stop{false};
  std::atomic<int> unexpected{0};
  std::thread caller([&] {
    while (!stop) {
      uint8_t byte;
      const StatusCode status = KORVELAN380_Dio_Out_R(kId, &byte);
      if (status != KORVELAN380_OK && status != KORVELAN380_NOT_CONNECTED &&
          status != KORVELAN380_TRANSFER_FAILED) {
        ++unexpected;
      }
    }
  });
  for (int i = 0; i < 300; ++i) {
    const StatusCode disconnect = KORVELAN380_DisConnect(kId);
    const StatusCode connect = KORVELAN380_Connect(kId);
    if (disconnect != KORVELAN380_OK || connect != KORVELAN380_OK) ++unexpected;
  }
  stop = true;
  caller.join();
  EXPECT_EQ(unexpected.load(), 0);
  EXPECT_TRUE(sim::IsOpen(serial));
}

}  // namespace
}  // namespace korvelan380::test
