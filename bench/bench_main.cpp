// The library's benchmarks, and the ratios between them, all measured in one run.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "bench/ratios.h"

namespace {

// Collects each benchmark's time per iteration while printing the usual table; with
// --benchmark_repetitions, the median of the repetitions.
class CollectingReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.error_occurred) continue;
      if (run.run_type == Run::RT_Iteration) {
        nsPerIteration.emplace(run.run_name.str(), run.GetAdjustedRealTime());
      } else if (run.aggregate_name == "median") {
        nsPerIteration[run.run_name.str()] = run.GetAdjustedRealTime();
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> nsPerIteration;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  CollectingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  std::printf("\n%-52s %10s %8s  %s\n", "ratio (same run)", "measured", "target", "");
  bool allMet = true;
  for (const korvelan380::bench::Ratio& ratio : korvelan380::bench::Ratios()) {
    const auto num = reporter.nsPerIteration.find(ratio.numerator);
    const auto den = reporter.nsPerIteration.find(ratio.denominator);
    if (num == reporter.nsPerIteration.end() || den == reporter.nsPerIteration.end()) continue;
    const double value = num->second / den->second * ratio.scale;
    const bool met = ratio.atMost ? value <= ratio.target : value >= ratio.target;
    allMet = allMet && met;
    std::printf("%-52s %10.2f %s%6.2f  %s\n", ratio.title, value,
                ratio.atMost ? "<=" : ">=", ratio.target, met ? "met" : "MISSED");
  }
  return allMet ? 0 : 1;
}
