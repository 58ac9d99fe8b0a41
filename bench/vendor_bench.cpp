// What a user pays per call on FTDI's own driver and on the open backend, over an emulated FT232H:
// the median and 99th percentile of five exports at the chip's latency timer (16 ms) and with it
// turned down to 2 ms and 1 ms through KORVELAN380_LatencySet. The emulated chip paces its
// replies as the real one does: a short packet when the timer runs out, a full packet at once.
//
//   korvelan380_vendor_bench [DRIVER...]
//
// measures on each driver named (KORVELAN380_DRIVER's values: vendor, open; default vendor), each
// in a process of its own, since the library binds one driver per process; the loader's path must
// find both (FTDI's driver, and the libusb built without udev that reaches the emulated chips).
// Then the table side by side, and the targets: on FTDI's driver, what the latency timer gains;
// on the open backend, no call slower than on FTDI's driver.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "korvelan380.h"
#include "korvelan380_ftdi_chips.h"
#include "report.h"

namespace korvelan380::bench {
namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kId = "42";
constexpr uint32_t kChipLatencyMs = 16;
// The chip's own setting first: it is measured as the module comes, without a call.
const std::vector<uint32_t> kSettings = {kChipLatencyMs, 2, 1};
// How much slower a median may come out on one driver than on another and still count as no
// slower: the emulated chip runs on a busy machine.
constexpr double kNoise = 1.05;
constexpr int kRounds = 3;

struct Export {
  const char* name;
  int reads;  // register reads per call: each waits out the latency timer
  std::function<StatusCode()> call;
};

std::vector<Export> Exports() {
  static uint8_t byte;
  static uint16_t word;
  static uint8_t flag7[2], flag6[2];
  static uint32_t counter[2];
  static DacChannelSettings settings;
  return {
      {"KORVELAN380_DacValSet", 1, [] { return KORVELAN380_DacValSet(kId, 0, 0x1000); }},
      {"KORVELAN380_DacValSet_R", 2, [] { return KORVELAN380_DacValSet_R(kId, 0, &word); }},
      {"KORVELAN380_Dio_In", 1, [] { return KORVELAN380_Dio_In(kId, &byte); }},
      {"KORVELAN380_Fifo_Status", 1,
       [] { return KORVELAN380_Fifo_Status(kId, flag7, flag6, counter); }},
      {"KORVELAN380_DacChSet_R", 5, [] { return KORVELAN380_DacChSet_R(kId, 0, &settings); }},
  };
}

struct Timing {
  double medianMs = 0;
  double p99Ms = 0;
};

// `calls` calls of one export; zeros when one of them fails.
Timing Measure(const Export& e, int calls) {
  std::vector<double> ms;
  for (int i = 0; i < calls; ++i) {
    const auto start = Clock::now();
    if (e.call() != KORVELAN380_OK) return {};
    ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
  }
  std::sort(ms.begin(), ms.end());
  const auto at = [&ms](double q) { return ms[static_cast<size_t>(q * (ms.size() - 1) + 0.5)]; };
  return {at(0.5), at(0.99)};
}

// Every export's timing at one latency setting.
std::vector<Timing> MeasureAt(uint32_t latencyMs, const std::vector<Export>& exports) {
  std::vector<Timing> out;
  // The chip's own setting is measured as the module comes, without a call.
  if (latencyMs != kChipLatencyMs && KORVELAN380_LatencySet(kId, latencyMs) != KORVELAN380_OK) {
    return out;
  }
  // Fewer calls where each is slow: each driver's round stays under 20 seconds.
  const int calls = latencyMs >= 10 ? 40 : 200;
  for (const Export& e : exports) out.push_back(Measure(e, calls));
  return out;
}

// The table: a row per export, a column per setting and driver.
void PrintTimings(const std::vector<Export>& exports, const std::vector<uint32_t>& settings,
                  const std::vector<std::string>& drivers,
                  const std::vector<std::vector<std::vector<Timing>>>& timings) {
  std::printf("\n%-28s", "ms per call, median / p99");
  for (uint32_t s : settings) {
    for (const std::string& d : drivers) std::printf("  %3u ms %-10s", s, d.c_str());
  }
  std::printf("\n");
  for (size_t i = 0; i < exports.size(); ++i) {
    std::printf("%-28s", exports[i].name);
    for (size_t s = 0; s < settings.size(); ++s) {
      for (const auto& byDriver : timings) {
        if (s < byDriver.size() && i < byDriver[s].size()) {
          std::printf("  %6.2f / %6.2f ", byDriver[s][i].medianMs, byDriver[s][i].p99Ms);
        } else {
          std::printf("  %17s", "-");
        }
      }
    }
    std::printf("\n");
  }
}

// The targets: at 2 ms every one-read export at least 4 times faster than at the chip's 16 ms;
// at 1 ms KORVELAN380_DacValSet at most 2 ms median.
bool PrintTargets(const std::vector<Export>& exports, const std::vector<Timing>& chip,
                  const std::vector<Timing>& two, const std::vector<Timing>& one) {
  PrintTableHeading("FTDI's driver, emulated FT232H");
  bool met = chip.size() == exports.size() && two.size() == exports.size() && !one.empty();
  for (size_t i = 0; met && i < exports.size(); ++i) {
    if (exports[i].reads != 1) continue;
    const std::string title = std::string(exports[i].name) + ", 16 ms over 2 ms";
    const double ratio = two[i].medianMs > 0 ? chip[i].medianMs / two[i].medianMs : 0;
    met &= PrintFigure(title.c_str(), ratio, "x", 4, false);
  }
  if (!one.empty()) {
    met &= PrintFigure("KORVELAN380_DacValSet at 1 ms, median", one[0].medianMs, "ms", 2, true);
  }
  if (!met) std::printf("some figures are missing or missed their targets\n");
  return met;
}

// The open backend against FTDI's driver: at every setting, no export's median slower, the
// machine's noise allowed for.
bool PrintOpenAgainstVendor(const std::vector<Export>& exports,
                            const std::vector<uint32_t>& settings,
                            const std::vector<std::vector<Timing>>& vendor,
                            const std::vector<std::vector<Timing>>& open) {
  PrintTableHeading("The open backend against FTDI's driver, emulated FT232H");
  bool met = true;
  for (size_t s = 0; s < settings.size(); ++s) {
    for (size_t i = 0; i < exports.size(); ++i) {
      const bool measured = s < vendor.size() && s < open.size() && i < vendor[s].size() &&
                            i < open[s].size() && vendor[s][i].medianMs > 0;
      const std::string title = std::string(exports[i].name) + " at " +
                                std::to_string(settings[s]) + " ms, open over FTDI";
      const double ratio = measured ? open[s][i].medianMs / vendor[s][i].medianMs : 0;
      met &= PrintFigure(title.c_str(), ratio, "x", kNoise, true);
    }
  }
  return met;
}

// Measures every export at every setting on the driver the library binds, and prints each figure
// as "T SETTING EXPORT MEDIAN P99" for the process that started this one.
int MeasureHere() {
  kft_attach(kId);  // before the driver loads: its libusb lists the devices once
  if (KORVELAN380_Connect(kId) != KORVELAN380_OK) {
    std::fprintf(stderr, "connecting the emulated chip failed\n");
    return 1;
  }
  const std::vector<Export> exports = Exports();
  for (size_t s = 0; s < kSettings.size(); ++s) {
    const std::vector<Timing> at = MeasureAt(kSettings[s], exports);
    for (size_t i = 0; i < at.size(); ++i) {
      std::printf("T %zu %zu %f %f\n", s, i, at[i].medianMs, at[i].p99Ms);
    }
  }
  KORVELAN380_DisConnect(kId);
  return 0;
}

// The figures of a run on `driver`, by setting and export; empty when the run failed.
std::vector<std::vector<Timing>> MeasureOn(const char* self, const std::string& driver) {
  std::vector<std::vector<Timing>> timings(kSettings.size());
  const std::string command = "KORVELAN380_DRIVER=" + driver + " '" + self + "' --measure-here";
  FILE* run = popen(command.c_str(), "r");
  if (run == nullptr) return {};
  size_t s = 0, i = 0;
  Timing t;
  while (std::fscanf(run, "T %zu %zu %lf %lf\n", &s, &i, &t.medianMs, &t.p99Ms) == 4) {
    if (s < timings.size()) {
      timings[s].resize(std::max(timings[s].size(), i + 1));
      timings[s][i] = t;
    }
  }
  if (pclose(run) != 0) {
    std::printf("the run on the driver '%s' failed\n", driver.c_str());
    return {};
  }
  return timings;
}

// Each driver measured kRounds times, the drivers taking turns, so that the machine's load as it
// changes meets each alike: by driver, setting and export, the median of the rounds' medians and
// 99th percentiles. A driver whose run failed once has no figures.
std::vector<std::vector<std::vector<Timing>>> MeasureInRounds(
    const char* self, const std::vector<std::string>& drivers) {
  std::vector<std::vector<std::vector<std::vector<Timing>>>> rounds(drivers.size());
  for (int r = 0; r < kRounds; ++r) {
    for (size_t d = 0; d < drivers.size(); ++d) rounds[d].push_back(MeasureOn(self, drivers[d]));
  }
  std::vector<std::vector<std::vector<Timing>>> timings(drivers.size());
  for (size_t d = 0; d < drivers.size(); ++d) {
    const auto& runs = rounds[d];
    if (std::any_of(runs.begin(), runs.end(), [](const auto& run) { return run.empty(); }))
      continue;
    timings[d] = runs[0];
    for (size_t s = 0; s < timings[d].size(); ++s) {
      for (size_t i = 0; i < timings[d][s].size(); ++i) {
        std::vector<double> medians, p99s;
        for (const auto& run : runs) {
          if (s >= run.size() || i >= run[s].size()) continue;
          medians.push_back(run[s][i].medianMs);
          p99s.push_back(run[s][i].p99Ms);
        }
        std::sort(medians.begin(), medians.end());
        std::sort(p99s.begin(), p99s.end());
        timings[d][s][i] = {medians[medians.size() / 2], p99s[p99s.size() / 2]};
      }
    }
  }
  return timings;
}

}  // namespace
}  // namespace korvelan380::bench

int main(int argc, char** argv) {
  using namespace korvelan380::bench;
  if (argc == 2 && std::strcmp(argv[1], "--measure-here") == 0) return MeasureHere();
  std::vector<std::string> drivers(argv + 1, argv + argc);
  if (drivers.empty()) drivers.push_back("vendor");
  const auto timings = MeasureInRounds(argv[0], drivers);
  const std::vector<Export> exports = Exports();
  PrintTimings(exports, kSettings, drivers, timings);
  bool met = true;
  const auto vendor = std::find(drivers.begin(), drivers.end(), "vendor");
  const auto open = std::find(drivers.begin(), drivers.end(), "open");
  if (vendor != drivers.end()) {
    const auto& v = timings[static_cast<size_t>(vendor - drivers.begin())];
    met &= v.size() == 3 && PrintTargets(exports, v[0], v[1], v[2]);
  }
  if (vendor != drivers.end() && open != drivers.end()) {
    met &= PrintOpenAgainstVendor(exports, kSettings,
                                  timings[static_cast<size_t>(vendor - drivers.begin())],
                                  timings[static_cast<size_t>(open - drivers.begin())]);
  }
  return met ? 0 : 1;
}
