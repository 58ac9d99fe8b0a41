// The library's own time as a share of the bus time it drives, against a driver that answers at
// once (so that the time measured is the library's alone). A high-speed link carries a frame in
// one 125 us microframe at best and its reply in one more; a waveform body goes at 40 MB/s.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "korvelan380.h"
#include "report.h"
#include "stub_driver.h"

namespace korvelan380::bench {
namespace {

constexpr double kMicroframeNs = 125'000;
constexpr int32_t kWaveSamples = 524'288;
constexpr double kWaveBodyBytes = kWaveSamples * 4.0;  // four hex digits per sample
constexpr double kStreamBytesPerSecond = 40e6;

// A module connected for one benchmark.
class Connected {
 public:
  explicit Connected(std::string id) : id_(std::move(id)) {
    ok_ = KORVELAN380_Connect(id_.c_str()) == KORVELAN380_OK;
  }
  ~Connected() { KORVELAN380_DisConnect(id_.c_str()); }
  Connected(const Connected&) = delete;
  Connected& operator=(const Connected&) = delete;
  bool ok() const { return ok_; }
  const char* id() const { return id_.c_str(); }

 private:
  std::string id_;
  bool ok_;
};

// Runs `call` as the timed loop and records the bus microframes of one call: one per frame
// written and one per reply asked for.
template <typename Call>
void TimeExport(benchmark::State& state, Call&& call) {
  Connected module("host");
  if (!module.ok()) {
    state.SkipWithError("connect failed");
    return;
  }
  const uint64_t frames = stub_driver_frames_written();
  const uint64_t replies = stub_driver_replies_asked();
  for (auto _ : state) {
    if (call(module.id()) != KORVELAN380_OK) {
      state.SkipWithError("the export failed");
      return;
    }
  }
  const double microframes = static_cast<double>(stub_driver_frames_written() - frames +
                                                 stub_driver_replies_asked() - replies);
  state.counters["microframes"] = microframes / static_cast<double>(state.iterations());
}

void BM_DacValSet(benchmark::State& state) {
  uint16_t raw = 0;
  TimeExport(state, [&](const char* id) {
    raw = static_cast<uint16_t>((raw + 1) & 0x3FFF);
    return KORVELAN380_DacValSet(id, 0, raw);
  });
}
BENCHMARK(BM_DacValSet);

void BM_Dio_Out_R(benchmark::State& state) {
  uint8_t value = 0;
  TimeExport(state, [&](const char* id) { return KORVELAN380_Dio_Out_R(id, &value); });
}
BENCHMARK(BM_Dio_Out_R);

void BM_Fifo_Status(benchmark::State& state) {
  uint8_t flag7[2], flag6[2];
  uint32_t counter[2];
  TimeExport(state,
             [&](const char* id) { return KORVELAN380_Fifo_Status(id, flag7, flag6, counter); });
}
BENCHMARK(BM_Fifo_Status);

void BM_WavImgSet(benchmark::State& state) {
  std::vector<uint16_t> samples(kWaveSamples);
  for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<uint16_t>(i * 40503u);
  TimeExport(state, [&](const char* id) {
    return KORVELAN380_WavImgSet(id, 0, samples.data(), kWaveSamples);
  });
}
BENCHMARK(BM_WavImgSet)->Unit(benchmark::kMillisecond);

// The library's time per call as a percentage of the call's bus time.
double TransferShare(const CollectingReporter& r, const char* name) {
  const double microframes = r.Counter(name, "microframes");
  return microframes == 0 ? 0 : 100 * r.Nanoseconds(name) / (microframes * kMicroframeNs);
}

}  // namespace
}  // namespace korvelan380::bench

int main(int argc, char** argv) {
  using namespace korvelan380::bench;
  CollectingReporter reporter;
  RunBenchmarks(&argc, argv, &reporter);

  bool met = true;
  PrintTableHeading("host share of a transfer (library time / bus time)");
  met &=
      PrintFigure("KORVELAN380_DacValSet", TransferShare(reporter, "BM_DacValSet"), " %", 1, true);
  met &=
      PrintFigure("KORVELAN380_Dio_Out_R", TransferShare(reporter, "BM_Dio_Out_R"), " %", 1, true);
  met &= PrintFigure("KORVELAN380_Fifo_Status", TransferShare(reporter, "BM_Fifo_Status"), " %", 1,
                     true);
  // Reported in milliseconds per iteration.
  const double waveNs = reporter.Nanoseconds("BM_WavImgSet") * 1e6;
  const double busNs = kWaveBodyBytes / kStreamBytesPerSecond * 1e9;
  PrintTableHeading("host share of a waveform (library time / 2 MiB at 40 MB/s)");
  met &= PrintFigure("KORVELAN380_WavImgSet, 524288 samples", 100 * waveNs / busNs, " %", 5, true);
  return met ? 0 : 1;
}
