// What both benchmark programs share: a reporter that keeps each benchmark's time per iteration
// and counters while printing the usual output, and the rows of the table of figures, each
// beside its target.
#ifndef KORVELAN380_BENCH_REPORT_H
#define KORVELAN380_BENCH_REPORT_H

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

namespace korvelan380::bench {

// With --benchmark_repetitions, the median of the repetitions; otherwise the one run. Prints
// without colours, so that the output can be kept in a file.
class CollectingReporter : public benchmark::ConsoleReporter {
 public:
  CollectingReporter() : ConsoleReporter(OO_Tabular) {}
  void ReportRuns(const std::vector<Run>& runs) override;

  // Nanoseconds of wall time per iteration, 0 when the benchmark did not run or failed. For a
  // run on several threads, an iteration of any thread: the inverse is calls per second in all.
  double Nanoseconds(const std::string& name) const;
  // A user counter of the benchmark, 0 when absent.
  double Counter(const std::string& name, const std::string& counter) const;

 private:
  struct Result {
    double ns = 0;
    std::map<std::string, double> counters;
  };
  std::map<std::string, Result> results_;
};

// Runs the benchmarks selected on the command line, reporting to `reporter`.
void RunBenchmarks(int* argc, char** argv, CollectingReporter* reporter);

// The table: a heading, then one row per figure; a figure that missed its target says so.
void PrintTableHeading(const char* title);
// Returns whether the figure met its target (at most, or at least, `target`).
bool PrintFigure(const char* title, double value, const char* unit, double target, bool atMost);

}  // namespace korvelan380::bench

#endif  // KORVELAN380_BENCH_REPORT_H
