#include "report.h"

#include <cstdio>

namespace korvelan380::bench {

void CollectingReporter::ReportRuns(const std::vector<Run>& runs) {
  for (const Run& run : runs) {
    if (run.error_occurred) continue;
    const bool single = run.run_type == Run::RT_Iteration;
    if (!single && run.aggregate_name != "median") continue;
    // A single run is overwritten by the median of its repetitions when there are some.
    const std::string name = run.run_name.str();
    if (single && results_.count(name) != 0) continue;
    Result& result = results_[name];
    result.ns = run.GetAdjustedRealTime();
    for (const auto& [key, counter] : run.counters) result.counters[key] = counter.value;
  }
  ConsoleReporter::ReportRuns(runs);
}

double CollectingReporter::Nanoseconds(const std::string& name) const {
  const auto it = results_.find(name);
  return it == results_.end() ? 0 : it->second.ns;
}

double CollectingReporter::Counter(const std::string& name, const std::string& counter) const {
  const auto it = results_.find(name);
  if (it == results_.end()) return 0;
  const auto c = it->second.counters.find(counter);
  return c == it->second.counters.end() ? 0 : c->second;
}

void RunBenchmarks(int* argc, char** argv, CollectingReporter* reporter) {
  benchmark::Initialize(argc, argv);
  benchmark::RunSpecifiedBenchmarks(reporter);
  benchmark::Shutdown();
}

void PrintTableHeading(const char* title) {
  std::printf("\n%-56s %12s %12s\n", title, "measured", "target");
}

bool PrintFigure(const char* title, double value, const char* unit, double target, bool atMost) {
  if (value <= 0) {  // the benchmarks behind it were filtered out or failed
    std::printf("%-56s %12s\n", title, "not run");
    return false;
  }
  const bool met = atMost ? value <= target : value >= target;
  std::printf("%-56s %10.2f%-2s %s%8.2f%-2s  %s\n", title, value, unit,
              atMost ? "<=" : ">=", target, unit, met ? "met" : "MISSED");
  return met;
}

}  // namespace korvelan380::bench
