// What a user of several modules gets from the simulated module when it answers like a real one:
// each reply 1 ms after its frame, and reads that wait for their bytes as the vendor's driver
// does once the library has set its timeouts at connect. Prints the driver calls and round trips
// of a connect and of each export, then the calls per second of several modules driven from as
// many threads.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "korvelan380.h"
#include "korvelan380_sim.hpp"
#include "report.h"

namespace korvelan380::bench {
namespace {

namespace sim = korvelan380::sim;

constexpr uint32_t kReplyLatencyUs = 1000;
constexpr int kMaxThreads = 8;

std::string ModuleId(int index) {
  return "par" + std::to_string(index);
}

// Attaches and connects a module that answers like a real one.
bool ConnectRealistic(const std::string& id) {
  const std::string serial = sim::SerialOf(id);
  sim::Attach(serial);
  sim::SetIdealCalibration(serial);
  sim::SetReplyLatency(serial, kReplyLatencyUs);
  return KORVELAN380_Connect(id.c_str()) == KORVELAN380_OK;
}

// ---- Driver calls and round trips -----------------------------------------------------------

struct WireCount {
  int calls = 0;    // driver calls of any kind
  int writes = 0;   // FT_Write calls: a register frame each, three for a stream
  int replies = 0;  // FT_Read calls
};

// One export and the fewest driver calls its wire sequence can be made with when every reply
// is read whole at once: a register read is a frame and one read of its reply; a stream is a
// header, the body and a trailer, three writes; the digital I/O read-backs first ask for the
// receive count (and purge only when something is waiting); the digital I/O writes ask for the
// transmit count until it is 0, at best once. DacChSet_R reads the range after its four reads.
// A connect of an initialised module opens, purges, sets the timeouts, reads the calibration
// record (its size, then the record) and reads the initialised flag.
struct Export {
  const char* name;
  WireCount least;
  std::function<StatusCode(const char*)> call;
};

// A connect of the module, with the trace holding its calls only.
StatusCode Reconnect(const char* id) {
  KORVELAN380_DisConnect(id);
  sim::ClearTrace();
  return KORVELAN380_Connect(id);
}

std::vector<Export> Exports() {
  static uint8_t byte, low, high;
  static uint16_t word;
  static uint8_t flag7[2], flag6[2];
  static uint32_t counter[2];
  static DacChannelSettings settings;
  static std::vector<uint16_t> samples(1024, 0x1000);
  return {
      {"KORVELAN380_Connect, initialised module", {7, 1, 1}, Reconnect},
      {"KORVELAN380_DacValSet",
       {3, 2, 1},
       [](const char* id) { return KORVELAN380_DacValSet(id, 0, 0x1000); }},
      {"KORVELAN380_DacValSet_R",
       {4, 2, 2},
       [](const char* id) { return KORVELAN380_DacValSet_R(id, 0, &word); }},
      {"KORVELAN380_RangeSet_R",
       {2, 1, 1},
       [](const char* id) { return KORVELAN380_RangeSet_R(id, 0, &byte); }},
      {"KORVELAN380_DacChSet_R",
       {10, 5, 5},
       [](const char* id) { return KORVELAN380_DacChSet_R(id, 0, &settings); }},
      {"KORVELAN380_Dio_Out",
       {2, 1, 0},
       [](const char* id) { return KORVELAN380_Dio_Out(id, 0x5A); }},
      {"KORVELAN380_Dio_Out_R",
       {3, 1, 1},
       [](const char* id) { return KORVELAN380_Dio_Out_R(id, &byte); }},
      {"KORVELAN380_Dio_In",
       {5, 2, 1},
       [](const char* id) { return KORVELAN380_Dio_In(id, &byte); }},
      {"KORVELAN380_Exs_Sel_R",
       {3, 1, 1},
       [](const char* id) { return KORVELAN380_Exs_Sel_R(id, &low, &high); }},
      {"KORVELAN380_EXIO_In",
       {2, 1, 1},
       [](const char* id) { return KORVELAN380_EXIO_In(id, &byte); }},
      {"KORVELAN380_Trigger_Stat",
       {2, 1, 1},
       [](const char* id) { return KORVELAN380_Trigger_Stat(id, 0, &byte); }},
      {"KORVELAN380_GateSet",
       {1, 1, 0},
       [](const char* id) { return KORVELAN380_GateSet(id, 0, 1); }},
      {"KORVELAN380_Fifo_Clr",
       {1, 1, 0},
       [](const char* id) { return KORVELAN380_Fifo_Clr(id, 0); }},
      {"KORVELAN380_Fifo_Status",
       {2, 1, 1},
       [](const char* id) { return KORVELAN380_Fifo_Status(id, flag7, flag6, counter); }},
      {"KORVELAN380_WavImgSet, 1024 samples",
       {6, 5, 1},
       [](const char* id) { return KORVELAN380_WavImgSet(id, 0, samples.data(), 1024); }},
      {"KORVELAN380_Fifo_ImgSet, 1024 codes",
       {3, 3, 0},
       [](const char* id) { return KORVELAN380_Fifo_ImgSet(id, 0, samples.data(), 1024); }},
  };
}

WireCount CountFromTrace(const std::vector<sim::Call>& trace) {
  WireCount count;
  for (const sim::Call& call : trace) {
    ++count.calls;
    if (call.fn == sim::Fn::Write) ++count.writes;
    if (call.fn == sim::Fn::Read) ++count.replies;
  }
  return count;
}

struct Measured {
  const Export* e;
  StatusCode status;
  WireCount got;
};

// Calls each export once on a module of its own and counts its calls in the trace.
std::vector<Measured> MeasureRoundTrips(const std::vector<Export>& exports) {
  const std::string id = "trips";
  const std::string serial = sim::SerialOf(id);
  std::vector<Measured> rows;
  if (!ConnectRealistic(id)) return rows;
  for (const Export& e : exports) {
    sim::ClearTrace();
    const StatusCode status = e.call(id.c_str());
    rows.push_back({&e, status, CountFromTrace(sim::Trace(serial))});
  }
  KORVELAN380_DisConnect(id.c_str());
  sim::Detach(serial);
  return rows;
}

// Prints the table; returns whether every export stayed at its least.
bool PrintRoundTrips(const std::vector<Measured>& rows, size_t expected) {
  std::printf("\n%-40s %14s %14s %14s\n", "driver calls per export (least)", "calls", "writes",
              "reply reads");
  bool least = rows.size() == expected;
  if (!least) std::printf("connecting the module failed\n");
  for (const Measured& row : rows) {
    const WireCount& min = row.e->least;
    const bool above =
        row.got.calls > min.calls || row.got.writes > min.writes || row.got.replies > min.replies;
    std::printf("%-40s %8d (%3d) %8d (%3d) %8d (%3d)  %s\n", row.e->name, row.got.calls, min.calls,
                row.got.writes, min.writes, row.got.replies, min.replies,
                row.status != KORVELAN380_OK ? "FAILED"
                : above                      ? "ABOVE"
                                             : "least");
    least = least && row.status == KORVELAN380_OK && !above;
  }
  return least;
}

// ---- Modules in parallel --------------------------------------------------------------------

// Each thread reads a range, one register read, from a module of its own.
void BM_RangeSetR_ModulePerThread(benchmark::State& state) {
  const std::string id = ModuleId(state.thread_index());
  uint8_t range = 0;
  for (auto _ : state) {
    if (KORVELAN380_RangeSet_R(id.c_str(), 0, &range) != KORVELAN380_OK) {
      state.SkipWithError("the export failed");
      return;
    }
  }
}
BENCHMARK(BM_RangeSetR_ModulePerThread)
    ->Threads(1)
    ->Threads(2)
    ->Threads(kMaxThreads)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);

// Calls per second in all over those of one thread on one module.
double Speedup(const CollectingReporter& r, int threads) {
  const std::string base = "BM_RangeSetR_ModulePerThread/real_time/threads:";
  const double one = r.Nanoseconds(base + "1");
  const double many = r.Nanoseconds(base + std::to_string(threads));
  return many == 0 ? 0 : one / many;
}

}  // namespace
}  // namespace korvelan380::bench

int main(int argc, char** argv) {
  using namespace korvelan380::bench;
  namespace sim = korvelan380::sim;
  sim::Reset();
  sim::SetTracing(true);
  const std::vector<Export> exports = Exports();
  const std::vector<Measured> trips = MeasureRoundTrips(exports);

  sim::SetTracing(false);
  for (int i = 0; i < kMaxThreads; ++i) {
    if (!ConnectRealistic(ModuleId(i))) {
      std::printf("connect of %s failed\n", ModuleId(i).c_str());
      return 1;
    }
  }
  CollectingReporter reporter;
  RunBenchmarks(&argc, argv, &reporter);
  bool met = PrintRoundTrips(trips, exports.size());
  PrintTableHeading("modules in parallel (1 ms replies, calls/s over 1 on 1)");
  met &= PrintFigure("KORVELAN380_RangeSet_R, 2 threads on 2 modules", Speedup(reporter, 2), "x",
                     1.9, false);
  met &= PrintFigure("KORVELAN380_RangeSet_R, 8 threads on 8 modules", Speedup(reporter, 8), "x", 7,
                     false);
  for (int i = 0; i < kMaxThreads; ++i) KORVELAN380_DisConnect(ModuleId(i).c_str());
  return met ? 0 : 1;
}
