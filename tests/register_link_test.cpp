// Register frames, transactions and queue steps on a connected simulated module.
#include <array>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "device/device_table.h"
#include "link/frame.h"
#include "link/settings.h"
#include "link/stream.h"
#include "link/transactions.h"
#include "support/module_chat.h"

namespace korvelan380::test {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

class RegisterLink : public ModuleTest {
 protected:
  void SetUp() override {
    ModuleTest::SetUp();
    Connect();
    entry = FindEntry(kId);
    ASSERT_NE(entry, nullptr);
  }
  // The reply records the module would send for these register values.
  static Bytes Reply(std::initializer_list<uint8_t> values) {
    Bytes reply;
    for (uint8_t v : values) {
      for (uint8_t byte : {uint8_t{0x02}, uint8_t{'R'}, v, uint8_t{0x03}}) reply.push_back(byte);
    }
    return reply;
  }
  std::shared_ptr<DeviceEntry> entry;
  Link& link() { return entry->link; }
};

TEST(FrameCodec, WriteFrameIsLowerCaseHexPairsHighDigitFirst) {
  const uint8_t values[] = {0x1F, 0xA0};
  uint8_t frame[kMaxWriteFrameSize];
  ASSERT_EQ(ComposeWriteFrame(42, values, 2, frame), 9u);
  EXPECT_EQ(Bytes(frame, frame + 9), (Bytes{0x02, 0x57, 0x32, 0x61, 0x31, 0x66, 0x61, 0x30, 0x03}));

  const uint8_t edges[] = {0x00, 0x0A, 0x80, 0xFF};
  const size_t length = ComposeWriteFrame(0, edges, 4, frame);
  EXPECT_EQ(std::string(frame + 4, frame + length - 1), "000a80ff");
}

TEST(FrameCodec, ReplyCheckStopsAtTheFirstRecordWithoutR) {
  const uint8_t reply[] = {0, 'R', 0x11, 0, 0, 'X', 0x22, 0, 0, 'R', 0x33, 0};
  uint8_t out[3] = {0xEE, 0xEE, 0xEE};
  EXPECT_FALSE(CheckReplyRecords(reply, 3, out));
  EXPECT_EQ(out[0], 0x11);
  EXPECT_EQ(out[1], 0xEE);
}

TEST_F(RegisterLink, WriteSendsOneCompleteFrame) {
  const uint8_t values[] = {0x1F, 0xA0};
  EXPECT_TRUE(WriteRegisters(link(), values, 42, 43));
  EXPECT_EQ(Wire(), std::vector<Bytes>{W(42, {0x1F, 0xA0})});
  EXPECT_EQ(sim::Register(serial, 42), 0x1F);
  EXPECT_EQ(sim::Register(serial, 43), 0xA0);
  EXPECT_EQ(Functions(Calls()), std::vector<sim::Fn>{sim::Fn::Write});  // no reply awaited
}

TEST_F(RegisterLink, SingleRegisterRunsAreSevenByteFrames) {
  const uint8_t value = 0x0A;
  EXPECT_TRUE(WriteRegisters(link(), &value, 12, 12));
  uint8_t out = 0;
  EXPECT_TRUE(ReadRegisters(link(), &out, 12, 12));
  EXPECT_EQ(out, 0x0A);
  const std::vector<Bytes> wire = Wire();
  ASSERT_EQ(wire.size(), 2u);
  EXPECT_EQ(wire[0], W(12, {0x0A}));
  EXPECT_EQ(wire[1], (Bytes{0x02, 0x52, 0x30, 0x63, 0x30, 0x63, 0x03}));
}

TEST_F(RegisterLink, RunLimitsAreRefusedWithNothingSent) {
  uint8_t values[256] = {};
  EXPECT_FALSE(WriteRegisters(link(), values, 5, 4));
  EXPECT_FALSE(WriteRegisters(link(), values, 0, 255));  // 256 registers is no write run
  EXPECT_FALSE(ReadRegisters(link(), values, 5, 4));
  EXPECT_TRUE(Calls().empty());
  EXPECT_TRUE(WriteRegisters(link(), values, 1, 255));
  EXPECT_TRUE(ReadRegisters(link(), values, 0, 255));  // a full read run is fine
}

TEST_F(RegisterLink, BlockReadAsksForFourBytesPerRegister) {
  for (int r = 0x40; r <= 0x4F; ++r) sim::SetRegister(serial, r, static_cast<uint8_t>(r * 3));
  std::array<uint8_t, 16> out{};
  EXPECT_TRUE(ReadRegisters(link(), out.data(), 0x40, 0x4F));
  EXPECT_EQ(Wire(), std::vector<Bytes>{(Bytes{0x02, 0x52, 0x34, 0x30, 0x34, 0x66, 0x03})});
  for (int i = 0; i < 16; ++i) EXPECT_EQ(out[i], static_cast<uint8_t>((0x40 + i) * 3));
  EXPECT_EQ(Calls().back().arg, 64u);
}

TEST_F(RegisterLink, ReplyInPiecesIsAssembledInOrderAskingOnlyForWhatIsMissing) {
  sim::SetRegister(serial, 20, 0xAB);
  sim::SetRegister(serial, 21, 0xCD);
  sim::SetReadChunk(serial, 3);
  uint8_t out[2] = {};
  EXPECT_TRUE(ReadRegisters(link(), out, 20, 21));
  EXPECT_EQ(out[0], 0xAB);
  EXPECT_EQ(out[1], 0xCD);
  std::vector<uint32_t> asked;
  for (const sim::Call& call : Calls()) {
    if (call.fn == sim::Fn::Read) asked.push_back(call.arg);
  }
  EXPECT_EQ(asked, (std::vector<uint32_t>{8, 5, 2}));
}

TEST_F(RegisterLink, SurplusReplyBytesStayQueued) {
  sim::AddSurplusToNextReply(serial, {1, 2, 3});
  uint8_t out = 0;
  EXPECT_TRUE(ReadRegisters(link(), &out, 7, 7));
  EXPECT_EQ(sim::PendingReceive(serial), 3u);
}

TEST_F(RegisterLink, StaleBytesAreTakenAsTheStartOfTheReply) {
  sim::SetRegister(serial, 8, 0x11);
  sim::QueueReceive(serial, Reply({0x99}));
  uint8_t out = 0;
  EXPECT_TRUE(ReadRegisters(link(), &out, 8, 8));
  EXPECT_EQ(out, 0x99);
  EXPECT_EQ(sim::PendingReceive(serial), 4u);  // the module's own reply is now the stale one
}

TEST_F(RegisterLink, RecordWithoutRFailsAfterFillingTheRecordsBeforeIt) {
  sim::SetRegister(serial, 30, 0x12);
  sim::CorruptNextReply(serial, 1);
  uint8_t out[2] = {0xEE, 0xEE};
  EXPECT_FALSE(ReadRegisters(link(), out, 30, 31));
  EXPECT_EQ(out[0], 0x12);
  EXPECT_EQ(out[1], 0xEE);
}

TEST_F(RegisterLink, FailedReadDiscardsWhatIsLeftOfItsReply) {
  sim::SetRegister(serial, 20, 0x11);
  sim::SetRegister(serial, 21, 0x22);
  sim::SetReadChunk(serial, 4);
  sim::FailCall(serial, sim::Fn::Read, 2);  // the second record's read
  uint8_t out[2] = {};
  EXPECT_FALSE(ReadRegisters(link(), out, 20, 21));
  EXPECT_EQ(sim::PendingReceive(serial), 0u);
  // The next read gets its own reply, not the rest of the failed one.
  uint8_t one = 0;
  EXPECT_TRUE(ReadRegisters(link(), &one, 21, 21));
  EXPECT_EQ(one, 0x22);
}

TEST_F(RegisterLink, DriverFailuresEndTheTransaction) {
  uint8_t out = 0xEE;
  sim::FailCall(serial, sim::Fn::Write, 1);
  EXPECT_FALSE(ReadRegisters(link(), &out, 1, 1));
  EXPECT_EQ(CountOf(Calls(), sim::Fn::Read), 0u);

  sim::FailCall(serial, sim::Fn::Read, 1);
  EXPECT_FALSE(ReadRegisters(link(), &out, 1, 1));
  EXPECT_EQ(out, 0xEE);

  sim::FailCall(serial, sim::Fn::Write, 1);
  EXPECT_FALSE(WriteRegisters(link(), &out, 1, 1));
  // The lock was let go on every path: the next transaction goes through.
  EXPECT_TRUE(WriteRegisters(link(), &out, 1, 1));
}

TEST_F(RegisterLink, ClosedEntrySendsNothing) {
  ASSERT_EQ(KORVELAN380_DisConnect(kId), KORVELAN380_OK);
  sim::ClearTrace();
  uint8_t value = 1;
  EXPECT_FALSE(WriteRegisters(link(), &value, 1, 1));
  EXPECT_FALSE(ReadRegisters(link(), &value, 1, 1));
  EXPECT_FALSE(DrainTransmit(link()));
  EXPECT_FALSE(FlushReceive(link()));
  EXPECT_TRUE(sim::Trace().empty());
}

TEST_F(RegisterLink, AWriteTheDriverTookOnlyPartOfFails) {
  // A write timeout: FT_OK, and fewer bytes written than given (here none).
  const uint8_t value = 1;
  sim::FailCall(serial, sim::Fn::Write, 1, FT_OK);
  EXPECT_FALSE(WriteRegisters(link(), &value, 5, 5));
  uint8_t out = 0;
  sim::FailCall(serial, sim::Fn::Write, 1, FT_OK);
  EXPECT_FALSE(ReadRegisters(link(), &out, 5, 5));
  EXPECT_EQ(CountOf(Calls(), sim::Fn::Read), 0u);  // no reply awaited for a frame not sent
  const uint16_t samples[2] = {0x1000, 0x2000};
  sim::FailCall(serial, sim::Fn::Write, 2, FT_OK);  // the stream's body
  EXPECT_FALSE(StreamWaveform(link(), samples, 0, 2));
  EXPECT_EQ(CountOf(Calls(), sim::Fn::Write), 4u);  // nothing sent after the short body
}

// ---- Replies that are late or never come -----------------------------------------------------

TEST_F(RegisterLink, ConnectSetsTheDriversTimeoutsAndReadsWaitInTheDriver) {
  EXPECT_TRUE(link().readsWait);
  sim::SetReplyLatency(serial, 30'000);
  uint8_t out = 0;
  const Clock::time_point start = Clock::now();
  EXPECT_TRUE(ReadRegisters(link(), &out, 3, 3));
  EXPECT_LT(Clock::now() - start, milliseconds(kReadTimeoutMs));
  EXPECT_EQ(CountOf(Calls(), sim::Fn::Read), 1u);  // one read that waited, no poll
}

TEST_F(RegisterLink, WithoutTheDriversTimeoutsTheReplyIsPolledTenMillisecondsApart) {
  link().readsWait = false;        // a driver without FT_SetTimeouts, or one that refused it,
  sim::SetReadTimeout(serial, 0);  // whose FT_Read returns at once
  sim::SetReplyLatency(serial, 35'000);
  uint8_t out = 0;
  EXPECT_TRUE(ReadRegisters(link(), &out, 3, 3));
  const size_t reads = CountOf(Calls(), sim::Fn::Read);
  EXPECT_GE(reads, 2u);
  EXPECT_LE(reads, 5u);  // a pause between reads, no spinning
}

// The one test that waits the whole reply budget: by the clock, in reads that each waited in the
// driver.
TEST_F(RegisterLink, WithheldReplyFailsOnceTheBudgetRunsOutAndTheNextReadSucceeds) {
  sim::SetRegister(serial, 3, 0x33);
  sim::WithholdReplies(serial, 1);
  uint8_t out = 0xEE;
  const Clock::time_point start = Clock::now();
  EXPECT_FALSE(ReadRegisters(link(), &out, 3, 3));
  const Clock::duration elapsed = Clock::now() - start;
  EXPECT_GE(elapsed, milliseconds(kReplyTimeoutMs));
  EXPECT_LT(elapsed, milliseconds(kReplyTimeoutMs + 1500));
  const size_t reads = CountOf(Calls(), sim::Fn::Read);
  EXPECT_LE(reads, kReplyTimeoutMs / kReadTimeoutMs + 1);
  EXPECT_GE(reads, 10u);
  EXPECT_EQ(out, 0xEE);
  EXPECT_TRUE(ReadRegisters(link(), &out, 3, 3));
  EXPECT_EQ(out, 0x33);
}

TEST_F(RegisterLink, DrainReturnsAtTheFirstEmptyTransmitQueue) {
  EXPECT_TRUE(DrainTransmit(link()));
  EXPECT_EQ(Functions(Calls()), std::vector<sim::Fn>{sim::Fn::GetStatus});
  sim::ClearTrace();
  sim::SetTransmitBusy(serial, 3);
  EXPECT_TRUE(DrainTransmit(link()));
  EXPECT_EQ(CountOf(Calls(), sim::Fn::GetStatus), 4u);
}

TEST_F(RegisterLink, DrainGivesUpOnATransmitQueueThatNeverEmpties) {
  sim::SetTracing(false);
  sim::SetTransmitBusy(serial, UINT32_MAX);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(DrainTransmit(link()));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(4900));
}

TEST_F(RegisterLink, FlushPurgesOnlyWhenSomethingWasReceived) {
  EXPECT_TRUE(FlushReceive(link()));
  EXPECT_EQ(Functions(Calls()), std::vector<sim::Fn>{sim::Fn::GetQueueStatus});

  sim::QueueReceive(serial, {1, 2, 3});
  sim::ClearTrace();
  EXPECT_TRUE(FlushReceive(link()));
  const std::vector<sim::Call> calls = Calls();
  ASSERT_EQ(Functions(calls), (std::vector<sim::Fn>{sim::Fn::GetQueueStatus, sim::Fn::Purge}));
  EXPECT_EQ(calls[1].arg, 1u);  // the receive queue only
  EXPECT_EQ(sim::PendingReceive(serial), 0u);

  sim::QueueReceive(serial, {1});
  sim::FailCall(serial, sim::Fn::Purge, 1);
  EXPECT_FALSE(FlushReceive(link()));
  sim::FailCall(serial, sim::Fn::GetQueueStatus, 1);
  EXPECT_FALSE(FlushReceive(link()));
}

// ---- The module's lock ----------------------------------------------------------------------

TEST_F(RegisterLink, LockHeldElsewhereForMoreThanFiveSecondsFailsWithNothingSent) {
  std::mutex m;
  std::condition_variable cv;
  bool held = false, done = false;
  std::thread holder([&] {
    ModuleLock lock(*entry);
    std::unique_lock<std::mutex> guard(m);
    held = true;
    cv.notify_all();
    cv.wait_for(guard, std::chrono::seconds(20), [&] { return done; });
  });
  {
    std::unique_lock<std::mutex> guard(m);
    cv.wait(guard, [&] { return held; });
  }
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(KORVELAN380_Fifo_Clr(kId, 0), KORVELAN380_TRANSFER_FAILED);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(4900));
  EXPECT_TRUE(Calls().empty());
  {
    std::lock_guard<std::mutex> guard(m);
    done = true;
  }
  cv.notify_all();
  holder.join();
  EXPECT_EQ(KORVELAN380_Fifo_Clr(kId, 0), KORVELAN380_OK);
}

TEST_F(RegisterLink, LockLeftByAThreadThatEndedIsTakenOver) {
#if defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the thread sanitizer does not follow a robust mutex to its next owner";
#endif
  std::thread([&] { platform::LockModuleMutex(entry->ioMutex, 0); }).join();
  EXPECT_EQ(KORVELAN380_Fifo_Clr(kId, 0), KORVELAN380_OK);
  EXPECT_EQ(KORVELAN380_Fifo_Clr(kId, 1), KORVELAN380_OK);
}

TEST_F(RegisterLink, TheLockIsTakenAgainOnTheThreadThatHoldsIt) {
  ModuleLock outer(*entry);
  ModuleLock inner(*entry, 0);
  EXPECT_TRUE(inner);
  EXPECT_EQ(KORVELAN380_Fifo_Clr(kId, 0), KORVELAN380_OK);
}

TEST_F(RegisterLink, OtherModulesDoNotWaitForABusyOne) {
  ASSERT_TRUE(sim::Attach(sim::SerialOf("8")));
  ASSERT_EQ(KORVELAN380_Connect("8"), KORVELAN380_OK);

  std::mutex m;
  std::condition_variable cv;
  bool otherDone = false;
  ModuleLock busy(*entry);  // module 7 stays taken by this thread until module 8 is done
  std::thread worker([&] {
    const bool ok = KORVELAN380_Fifo_Clr("8", 0) == KORVELAN380_OK;
    std::lock_guard<std::mutex> guard(m);
    otherDone = ok;
    cv.notify_all();
  });
  {
    std::unique_lock<std::mutex> guard(m);
    EXPECT_TRUE(cv.wait_for(guard, std::chrono::seconds(4), [&] { return otherDone; }));
  }
  worker.join();
  EXPECT_EQ(KORVELAN380_DisConnect("8"), KORVELAN380_OK);
}

// ---- Disconnecting while a call is in flight ------------------------------------------------

TEST_F(RegisterLink, DisconnectStopsAWaitForAReplyAndClosesAfterItsLastRead) {
  sim::WithholdReplies(serial, 1);
  StatusCode result = KORVELAN380_OK;
  std::thread reader([&] {
    uint8_t gate = 0;
    result = KORVELAN380_GateSet_R(kId, 0, &gate);
  });
  while (CountOf(Calls(), sim::Fn::Read) < 3) std::this_thread::yield();
  const Clock::time_point start = Clock::now();
  EXPECT_EQ(KORVELAN380_DisConnect(kId), KORVELAN380_OK);
  // The read waiting in the driver ends within its timeout, far within the reply budget.
  EXPECT_LT(Clock::now() - start, milliseconds(10 * kReadTimeoutMs));
  reader.join();
  EXPECT_NE(result, KORVELAN380_OK);
  const std::vector<sim::Call> calls = Calls();
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls.back().fn, sim::Fn::Close);  // no driver call on the handle after its close
  EXPECT_EQ(CountOf(calls, sim::Fn::Close), 1u);
  // The entry this test still holds is valid memory, closed and out of the table.
  EXPECT_FALSE(entry->link.isOpen.load());
  EXPECT_EQ(FindEntry(kId), nullptr);
}

TEST_F(RegisterLink, AHandleACallStillHoldsClosesWhenTheCallLetsGo) {
  std::mutex m;
  std::condition_variable cv;
  bool held = false;
  std::thread holder([&, keep = entry] {
    ModuleLock lock(*keep);
    {
      std::lock_guard<std::mutex> guard(m);
      held = true;
    }
    cv.notify_all();
    std::this_thread::sleep_for(std::chrono::milliseconds(5500));
  });
  {
    std::unique_lock<std::mutex> guard(m);
    cv.wait(guard, [&] { return held; });
  }
  entry.reset();
  EXPECT_EQ(KORVELAN380_DisConnect(kId), KORVELAN380_OK);  // gives up the wait after 5 s
  EXPECT_EQ(CountOf(Calls(), sim::Fn::Close), 0u);
  holder.join();  // the last holder lets go: the handle closes now
  EXPECT_EQ(CountOf(Calls(), sim::Fn::Close), 1u);
  EXPECT_FALSE(sim::IsOpen(serial));
}

}  // namespace
}  // namespace korvelan380::test
