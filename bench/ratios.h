// The ratios the benchmarks are judged by: a benchmark's time over another's, from one run.
#ifndef KORVELAN380_BENCH_RATIOS_H
#define KORVELAN380_BENCH_RATIOS_H

#include <vector>

namespace korvelan380::bench {

struct Ratio {
  const char* title;
  const char* numerator;  // benchmark names, as Google Benchmark reports them
  const char* denominator;
  double target;
  bool atMost;         // the ratio must be at most the target (else at least)
  double scale = 1.0;  // applied to numerator / denominator
  // (Google Benchmark reports a multi-threaded run's wall time per iteration of all threads
  // together, so time ratios are throughput ratios as they stand.)
};

// Registered by the benchmark files.
std::vector<Ratio>& Ratios();

struct RegisterRatio {
  explicit RegisterRatio(const Ratio& ratio) { Ratios().push_back(ratio); }
};

}  // namespace korvelan380::bench

#endif  // KORVELAN380_BENCH_RATIOS_H
