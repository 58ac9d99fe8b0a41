// Every export against every failure the driver can give it: each driver call it makes fails in
// turn, and each reply it reads is withheld, cut short, corrupted or preceded by stale bytes.
// Each run must give the status the library documents, write no output on failure, leave the
// module's lock free and the module usable.
#include <gtest/gtest.h>

#include <cstdio>

#include "device/device_table.h"
#include "platform/platform.h"
#include "support/export_cases.h"

namespace korvelan380::test {
namespace {

const std::string kSerial = sim::SerialOf(kCaseId);

// Puts the module in the state the case starts from.
void Prepare(const ExportCase& c) {
  PrepareModule(!c.isConnect);
  if (c.isDisconnect) sim::ClearTrace();
}

// Runs the case with its output marker set and standard output kept out of the test log.
StatusCode Run(const ExportCase& c, Outputs& out) {
  out.Mark();
  testing::internal::CaptureStdout();  // the EXIO read-back prints its byte
  const StatusCode status = c.call(out);
  testing::internal::GetCapturedStdout();
  return status;
}

// Nothing may keep the module's lock once a call has returned.
void ExpectLockFree(const std::string& where) {
  std::shared_ptr<DeviceEntry> entry = FindEntry(kCaseId);
  if (entry == nullptr) return;
  const bool free = platform::LockModuleMutex(entry->ioMutex, 0) == platform::WaitResult::Acquired;
  EXPECT_TRUE(free) << where;
  if (free) platform::UnlockModuleMutex(entry->ioMutex);
}

// After a failure the module still answers: the same call (reconnecting for the connection
// exports) succeeds.
void ExpectUsable(const ExportCase& c, const std::string& where, bool closeFailed) {
  // A close the driver refused leaves its handle open there: the driver keeps the device until
  // the process ends, and nothing the library does can reopen it.
  if (closeFailed) return;
  Outputs out;
  if (c.isConnect) KORVELAN380_DisConnect(kCaseId);
  if (c.isDisconnect) KORVELAN380_Connect(kCaseId);
  EXPECT_EQ(Run(c, out), KORVELAN380_OK) << where << ": the next call";
  if (c.isDisconnect) KORVELAN380_Connect(kCaseId);
}

std::vector<sim::Fn> BaselineCalls(const ExportCase& c) {
  Prepare(c);
  Outputs out;
  EXPECT_EQ(Run(c, out), KORVELAN380_OK) << c.name;
  std::vector<sim::Fn> fns;
  for (const sim::Call& call : sim::Trace(kSerial)) fns.push_back(call.fn);
  return fns;
}

bool Reads(const std::vector<sim::Fn>& fns) {
  for (sim::Fn fn : fns) {
    if (fn == sim::Fn::Read) return true;
  }
  return false;
}

// Runs the case once with the fault that `inject` sets up, and checks the outcome.
void RunFaulted(const ExportCase& c, const std::string& where, StatusCode expected,
                const std::function<void()>& inject, bool closeFailed = false) {
  Prepare(c);
  inject();
  Outputs out;
  const StatusCode status = Run(c, out);
  EXPECT_EQ(status, expected) << where;
  if (status != KORVELAN380_OK && c.outputsAllOrNothing) {
    EXPECT_TRUE(out.Untouched()) << where << ": an output was written";
  }
  ExpectLockFree(where);
  ExpectUsable(c, where, closeFailed);
}

TEST(FaultSweep, EveryDriverCallOfEveryExportFailsInTurn) {
  size_t points = 0;
  for (const ExportCase& c : ExportCases()) {
    const std::vector<sim::Fn> fns = BaselineCalls(c);
    for (size_t k = 1; k <= fns.size(); ++k) {
      const auto unreported = c.unreported.find(fns[k - 1]);
      const StatusCode expected = unreported != c.unreported.end()
                                      ? unreported->second
                                      : StatusCode{KORVELAN380_TRANSFER_FAILED};
      const std::string where =
          c.name + ", failed call " + std::to_string(k) + " (" + sim::FnName(fns[k - 1]) + ")";
      RunFaulted(
          c, where, expected,
          [&] { sim::FailCall(kSerial, sim::Fn::Any, static_cast<uint32_t>(k)); },
          fns[k - 1] == sim::Fn::Close);
      ++points;
    }
  }
  std::printf("fault sweep: %zu (export, failed driver call) pairs\n", points);
  EXPECT_GT(points, 80u);
}

TEST(FaultSweep, CorruptedAndStaleRepliesOfEveryReadingExport) {
  size_t points = 0;
  for (const ExportCase& c : ExportCases()) {
    // The slow reply faults below run only for the cases said to read: that must be true.
    const bool reads = Reads(BaselineCalls(c));
    EXPECT_EQ(reads, c.readsReply) << c.name << ": readsReply does not say what it does";
    if (!reads) continue;
    RunFaulted(c, c.name + ", corrupted reply", KORVELAN380_TRANSFER_FAILED,
               [] { sim::CorruptNextReply(kSerial, 0); });
    // Stale bytes that are no reply: discarded by the exports that flush first (and by the
    // purge of a connect), taken as the start of the reply by the others.
    const StatusCode staleResult = c.flushesFirst || c.isConnect
                                       ? StatusCode{KORVELAN380_OK}
                                       : StatusCode{KORVELAN380_TRANSFER_FAILED};
    RunFaulted(c, c.name + ", stale bytes", staleResult, [] {
      sim::QueueReceive(kSerial, {0x00, 0x00, 0x00, 0x00});
    });
    points += 2;
  }
  std::printf("reply faults: %zu (export, corrupted or stale reply) pairs\n", points);
}

// A reply that never completes costs the whole reply budget (10 s), so these run one export per
// test, in parallel, for each export that reads a reply.
class SlowReplyFaults : public testing::TestWithParam<size_t> {};

TEST_P(SlowReplyFaults, WithheldOrCutShortReplyFailsAfterTheBudget) {
  const ExportCase c = ExportCases()[GetParam()];
  sim::SetTracing(false);
  RunFaulted(c, c.name + ", withheld reply", KORVELAN380_TRANSFER_FAILED,
             [] { sim::WithholdReplies(kSerial, 1); });
  RunFaulted(c, c.name + ", reply cut short", KORVELAN380_TRANSFER_FAILED,
             [] { sim::CutNextReply(kSerial, 2); });
}

std::vector<size_t> ReadingCases() {
  std::vector<size_t> reading;
  const std::vector<ExportCase> cases = ExportCases();
  for (size_t i = 0; i < cases.size(); ++i) {
    if (cases[i].readsReply) reading.push_back(i);
  }
  return reading;
}

INSTANTIATE_TEST_SUITE_P(ReadingExports, SlowReplyFaults, testing::ValuesIn(ReadingCases()),
                         [](const testing::TestParamInfo<size_t>& info) {
                           return ExportCases()[info.param].name;
                         });

}  // namespace
}  // namespace korvelan380::test
