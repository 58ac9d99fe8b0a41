// The waveform path: encoding the stream body, and a whole load through KORVELAN380_WavImgSet,
// each against a memcpy of the same 2 MiB body.
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <vector>

#include "bench/ratios.h"
#include "korvelan380.h"
#include "link/stream.h"

namespace korvelan380::bench {
namespace {

constexpr size_t kSamples = 524288;
constexpr size_t kBody = kSamples * 4;

std::vector<uint16_t> Samples() {
  std::vector<uint16_t> samples(kSamples);
  for (size_t i = 0; i < kSamples; ++i) samples[i] = static_cast<uint16_t>(i * 2654435761u >> 7);
  return samples;
}

void BM_MemcpyBody(benchmark::State& state) {
  std::vector<uint8_t> from(kBody, 0x41), to(kBody);
  for (auto _ : state) {
    std::memcpy(to.data(), from.data(), kBody);
    benchmark::DoNotOptimize(to.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBody));
}
BENCHMARK(BM_MemcpyBody);

void BM_EncodeStreamBody(benchmark::State& state) {
  const std::vector<uint16_t> samples = Samples();
  std::vector<uint8_t> body(kBody);
  for (auto _ : state) {
    EncodeStreamBody(samples.data(), kSamples, body.data());
    benchmark::DoNotOptimize(body.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBody));
}
BENCHMARK(BM_EncodeStreamBody);

void BM_WavImgSet(benchmark::State& state) {
  const std::vector<uint16_t> samples = Samples();
  if (KORVELAN380_Connect("wave") != KORVELAN380_OK) {
    state.SkipWithError("connect failed");
    return;
  }
  for (auto _ : state) {
    if (KORVELAN380_WavImgSet("wave", 0, samples.data(), kSamples) != KORVELAN380_OK) {
      state.SkipWithError("load failed");
      break;
    }
  }
  KORVELAN380_DisConnect("wave");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBody));
}
BENCHMARK(BM_WavImgSet);

const RegisterRatio kEncoding({"stream encoding, 524288 samples / memcpy 2 MiB",
                               "BM_EncodeStreamBody", "BM_MemcpyBody", 2.0, true});
const RegisterRatio kLoad({"waveform load, 524288 samples / memcpy 2 MiB", "BM_WavImgSet",
                           "BM_MemcpyBody", 3.0, true});

}  // namespace
}  // namespace korvelan380::bench
