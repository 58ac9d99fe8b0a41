// A forked child's calls on a module the parent had used (POSIX only: Windows has no fork).
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "support/module_chat.h"

namespace korvelan380::test {
namespace {

class Fork : public ModuleTest {
 protected:
  void SetUp() override {
    ModuleTest::SetUp();
    Connect();
  }
};

// A forked child (Python's multiprocessing forks by default): the forking thread's call waits for
// a slow reply while a new thread of the child calls on the same module. The second call must
// wait for the first: their driver calls must not interleave, and each gets its own reply.
// Everything the child finds goes into its exit status, as the child cannot report to gtest.
int ForkedChildCalls(const char* kId, const std::string& serial) {
  sim::SetReadChunk(serial, 1);  // a reply of four bytes takes four reads, 10 ms apart
  sim::ClearTrace();
  const Bytes gateRead = R(5, 5);  // the third gate register
  std::atomic<bool> started{false};
  StatusCode otherStatus = KORVELAN380_TRANSFER_FAILED;
  uint8_t range = 0xEE;
  std::thread other([&] {
    // Starts once the first call's frame is out and its reply is still coming.
    while (!started.load()) std::this_thread::yield();
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (bool out = false; !out && std::chrono::steady_clock::now() < giveUp;) {
      for (const Bytes& frame : Writes(sim::Trace(serial))) out = out || frame == gateRead;
      std::this_thread::yield();
    }
    otherStatus = KORVELAN380_RangeSet_R(kId, 0, &range);
  });
  started = true;
  uint8_t gate = 0xEE;
  const StatusCode status = KORVELAN380_GateSet_R(kId, 2, &gate);
  other.join();
  int faults = 0;
  if (status != KORVELAN380_OK || gate != 1) faults |= 1;
  if (otherStatus != KORVELAN380_OK || range != 4) faults |= 2;
  // The wire, call by call: the gate read's frame and all its reads, then the range read's.
  const std::vector<sim::Call> calls = sim::Trace(serial);
  size_t i = 0;
  while (i < calls.size() && !(calls[i].fn == sim::Fn::Write && calls[i].data == gateRead)) ++i;
  for (++i; i < calls.size() && calls[i].fn == sim::Fn::Read; ++i) {
  }
  if (i >= calls.size() || calls[i].fn == sim::Fn::Read) faults |= 4;
  for (; i < calls.size(); ++i) {
    if (calls[i].fn == sim::Fn::Write && calls[i].data != R(34, 34)) faults |= 8;
  }
  return faults;
}

TEST_F(Fork, AForkedChildsCallsOnOneModuleRunOneAtATime) {
  sim::SetRegister(serial, 5, 0x01);   // the third gate register: gate 1
  sim::SetRegister(serial, 34, 0x04);  // channel 0's range: 4
  // The forking thread has used the module before the fork, as a parent process would have.
  uint8_t byte = 0;
  ASSERT_EQ(KORVELAN380_Dio_Out_R(kId, &byte), KORVELAN380_OK);
  const pid_t child = fork();
  ASSERT_NE(child, -1);
  if (child == 0) _exit(ForkedChildCalls(kId, serial));
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "1: the first call's reply, 2: the second call's reply, "
                                       "4: the first call's reads cut short, 8: a frame between";
}

}  // namespace
}  // namespace korvelan380::test
