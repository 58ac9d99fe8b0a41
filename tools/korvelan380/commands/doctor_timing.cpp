// doctor --timing: how long one register read takes through the driver, from the frame going out
// to the whole reply being in, over 100 reads of register 12: at the chip's own latency timer, and
// again at the one the tool sets (--latency, 2 ms by default).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <optional>
#include <thread>

#include "app/capture_session.h"
#include "app/driver.h"
#include "app/simulator.h"
#include "app/usb_bus.h"
#include "commands/doctor.h"
#include "d2xx.h"
#include "os/os.h"

namespace korvelan380::tool {
namespace {

constexpr int kReads = 100;
constexpr double kSlowMs = 4.0;
constexpr auto kReplyTimeout = std::chrono::seconds(1);
// Read register 12 (the initialised flag); the reply is four bytes: STX 'R' value ETX.
constexpr uint8_t kReadFrame[] = {0x02, 'R', '0', 'c', '0', 'c', 0x03};
constexpr DWORD kReplySize = 4;

using Clock = std::chrono::steady_clock;

std::string Ms(double ms) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f ms", ms);
  return text;
}

// The driver the library binds: the shim with --capture, else the simulated module with --sim,
// else the system's. Named, not looked up: on Windows a look-up by name may find another
// FTD2XX.dll than the one the library's import took.
struct Driver {
  void* library = nullptr;
  D2xxFunctions d{};
};

// The system's driver: on Windows the FTD2XX.dll the library imports; on Linux the one the
// library's own connect binds (FTDI's, the open driver, what KORVELAN380_DRIVER names), found
// as the doctor finds it. That connect initialises the module, as the doctor's does.
void* TakenDriver(Session& s, std::string& why) {
  if (os::OpenBackendFile().empty()) {
    void* library = os::BoundDriver(why);
    if (library == nullptr) why = os::DriverFile() + " does not load: " + why;
    return library;
  }
  RequireUsbBus(s.options().device);
  if (KORVELAN380_Connect(s.id()) == KORVELAN380_OK) KORVELAN380_DisConnect(s.id());
  const DriverInUse in = ObserveDriver();
  if (in.kind == DriverKind::kNone) why = "the library has no driver";
  return in.kind == DriverKind::kNone ? nullptr : os::LoadedLibrary(in.path);
}

Driver BindDriver(Session& s) {
  const std::string name = os::DriverFile();
  std::string why;
  Driver driver;
  driver.library = CaptureShim();
  if (driver.library == nullptr && s.sim() != nullptr) {
    driver.library = os::LoadDriver(s.sim()->LibraryPath(), why);
  }
  if (driver.library == nullptr) driver.library = TakenDriver(s, why);
  if (driver.library == nullptr) {
    ToolError error(why, kExitFailed);
    error.hint = "'korvelan380 doctor' looks into why";
    throw error;
  }
  void* library = driver.library;
  if (d2xx::Bind(driver.d, [library](const char* fn) { return os::Symbol(library, fn); }) !=
      nullptr) {
    throw ToolError(name + " lacks driver functions: 'korvelan380 doctor' says which", kExitFailed);
  }
  return driver;
}

FT_HANDLE OpenModule(const D2xxFunctions& d, Session& s) {
  std::string serial = s.Serial();
  FT_HANDLE handle = nullptr;
  const FT_STATUS opened = d.FT_OpenEx(serial.data(), FT_OPEN_BY_SERIAL_NUMBER, &handle);
  if (opened != FT_OK) {
    ToolError error(
        "the driver could not open " + serial + " (driver status " + std::to_string(opened) + ")",
        kExitFailed);
    error.hint = "'korvelan380 -d " + s.options().device + " doctor' looks into it";
    throw error;
  }
  return handle;
}

// One read of register 12: milliseconds, or a negative number when it failed or timed out.
double TimeOneRead(const D2xxFunctions& d, FT_HANDLE handle) {
  const Clock::time_point start = Clock::now();
  DWORD written = 0;
  if (d.FT_Write(handle, const_cast<uint8_t*>(kReadFrame), sizeof kReadFrame, &written) != FT_OK ||
      written != sizeof kReadFrame) {
    return -1;
  }
  for (;;) {
    DWORD waiting = 0;
    if (d.FT_GetQueueStatus(handle, &waiting) != FT_OK) return -1;
    if (waiting >= kReplySize) break;
    if (Clock::now() - start > kReplyTimeout) return -1;
    std::this_thread::sleep_for(std::chrono::microseconds(50));
  }
  uint8_t reply[kReplySize];
  DWORD got = 0;
  if (d.FT_Read(handle, reply, kReplySize, &got) != FT_OK || got != kReplySize ||
      reply[0] != 0x02 || reply[1] != 'R' || reply[3] != 0x03) {
    return -1;
  }
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

struct Timings {
  std::vector<double> ms;  // the answered reads, sorted
  int failed = 0;
};

Timings TimeReads(const D2xxFunctions& d, FT_HANDLE handle) {
  Timings t;
  d.FT_Purge(handle, FT_PURGE_RX | FT_PURGE_TX);
  for (int i = 0; i < kReads; ++i) {
    const double ms = TimeOneRead(d, handle);
    if (ms < 0) {
      ++t.failed;
      // What a failed read left behind would pass for the next one's reply.
      d.FT_Purge(handle, FT_PURGE_RX | FT_PURGE_TX);
    } else {
      t.ms.push_back(ms);
    }
  }
  std::sort(t.ms.begin(), t.ms.end());
  return t;
}

// The timer setting the second run of reads is made at, or why there is none.
struct Lowered {
  std::optional<uint8_t> ms;
  std::optional<Timings> timings;
  std::string notSet;  // the driver cannot take the setting: why
};

// Sets the chip's latency timer on the doctor's own handle, as KORVELAN380_LatencySet does on the
// library's, and times the reads again. FT_SetLatencyTimer is optional: null when the driver
// lacks it.
Lowered TimeLowered(const Driver& driver, FT_HANDLE handle, std::optional<uint8_t> ms) {
  Lowered lowered{ms, std::nullopt, ""};
  if (!ms) return lowered;
  if (driver.d.FT_SetLatencyTimer == nullptr) {
    lowered.notSet = "the driver has no FT_SetLatencyTimer";
  } else if (const FT_STATUS status = driver.d.FT_SetLatencyTimer(handle, *ms); status != FT_OK) {
    lowered.notSet = "FT_SetLatencyTimer returned driver status " + std::to_string(status);
  } else {
    lowered.timings = TimeReads(driver.d, handle);
  }
  return lowered;
}

// The knobs that set the timer, for every kind of program, and where Windows keeps its default.
std::vector<std::string> LatencyAdvice(const Lowered& lowered) {
  std::vector<std::string> advice = {
      "A round trip above 4 ms is usually the USB chip's latency timer: it holds a short reply "
      "until the timer runs out (16 ms by default) and every register read waits for it."};
  if (!lowered.notSet.empty()) {
    advice.push_back("Here it cannot be set: " + lowered.notSet +
                     ", so KORVELAN380_LatencySet returns 4 with it too.");
  }
  advice.insert(
      advice.end(),
      {"The tool sets 2 ms at every connect (--latency MS, or --latency keep for the chip's own).",
       "Python: korvelan380.connect(id) sets 2 ms too (latency_ms=MS, or None for the chip's "
       "own).",
       "C and C++: call KORVELAN380_LatencySet(deviceId, 2) after KORVELAN380_Connect.",
       "A program that cannot be changed: run it with KORVELAN380_LATENCY_MS=2 in its "
       "environment; the library sets that at every connect.",
       "Windows, for every program at once: Device Manager, the port's Properties, Port "
       "Settings, Advanced, Latency Timer (msec): set 1 or 2, then unplug and plug the module "
       "in."});
  return advice;
}

struct Summary {
  double median = 0;
  double p99 = 0;
};

Summary Summarise(const Timings& t) {
  const size_t n = t.ms.size();
  if (n == 0) return {};
  const double median = n % 2 != 0 ? t.ms[n / 2] : (t.ms[n / 2 - 1] + t.ms[n / 2]) / 2;
  // The nearest-rank 99th percentile: the value 99% of the reads are at or below.
  return {median, t.ms[std::min(n - 1, (n * 99 + 99) / 100 - 1)]};
}

ordered_json TimingsJson(const Timings& t) {
  const Summary sum = Summarise(t);
  return {{"reads", t.ms.size()},
          {"failed", t.failed},
          {"median_ms", sum.median},
          {"p99_ms", sum.p99},
          {"slow", sum.median > kSlowMs}};
}

std::string TimingsLine(const Timings& t) {
  const Summary sum = Summarise(t);
  return "median " + Ms(sum.median) + ", 99th percentile " + Ms(sum.p99) +
         (t.failed != 0 ? " (" + std::to_string(t.failed) + " unanswered)" : "");
}

// Both runs; a problem (exit 1) is an unanswered read, or round trips still slow at the setting
// the tool's commands run with.
void ReportTimings(Report& r, const Timings& own, const Lowered& lowered,
                   const std::string& serial) {
  r.json["chip_setting"] = TimingsJson(own);
  r.Line(std::to_string(kReads) + " reads of register 12 on " + serial +
         " at the chip's own latency timer: " + TimingsLine(own));
  r.json["latency_ms"] = lowered.ms ? ordered_json(*lowered.ms) : ordered_json(nullptr);
  const Timings& used = lowered.timings ? *lowered.timings : own;
  if (lowered.timings) {
    r.json["at_latency"] = TimingsJson(*lowered.timings);
    r.Line(std::to_string(kReads) + " reads at a " + std::to_string(*lowered.ms) +
           " ms latency timer: " + TimingsLine(*lowered.timings));
  } else if (!lowered.notSet.empty()) {
    r.json["latency_not_set"] = lowered.notSet;
    r.Line("not timed at " + std::to_string(*lowered.ms) + " ms: " + lowered.notSet);
  }
  const bool ownSlow = Summarise(own).median > kSlowMs;
  const bool usedSlow = Summarise(used).median > kSlowMs;
  r.json["slow"] = usedSlow;
  if (own.failed != 0 || used.failed != 0 || usedSlow) r.exit = kExitFailed;
  if (!ownSlow) {
    r.Line("round trips are short: the chip's latency timer is not holding replies back");
  } else if (!usedSlow) {
    r.Line("round trips are short at " + std::to_string(*lowered.ms) +
           " ms: a program that keeps the chip's own setting waits for its timer");
  } else if (lowered.timings) {
    r.Line("round trips are slow even at " + std::to_string(*lowered.ms) +
           " ms: the latency timer is not all that holds replies back");
  }
  if (!ownSlow) return;
  const std::vector<std::string> advice = LatencyAdvice(lowered);
  r.json["advice"] = advice;
  for (const std::string& line : advice) r.Line("  " + line);
}

}  // namespace

void DoctorTiming(Session& s, Report& r) {
  const Driver driver = BindDriver(s);
  FT_HANDLE handle = OpenModule(driver.d, s);
  const Timings own = TimeReads(driver.d, handle);
  const Lowered lowered = TimeLowered(driver, handle, s.options().latencyMs);
  driver.d.FT_Close(handle);
  if (own.ms.empty()) {
    throw ToolError("none of " + std::to_string(kReads) + " reads of register 12 was answered",
                    kExitFailed);
  }
  ReportTimings(r, own, lowered, s.Serial());
}

}  // namespace korvelan380::tool
