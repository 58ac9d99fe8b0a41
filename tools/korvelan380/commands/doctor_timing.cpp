// doctor --timing: how long one register read takes through the driver, from the frame going out
// to the whole reply being in, over 100 reads of register 12.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>

#include "app/capture_session.h"
#include "app/simulator.h"
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
D2xxFunctions BindDriver(Session& s) {
  const std::string name = os::DriverFile();
  std::string why;
  void* library = CaptureShim();
  if (library == nullptr && s.sim() != nullptr) {
    library = os::LoadDriver(s.sim()->LibraryPath(), why);
  }
  if (library == nullptr) library = os::BoundDriver(why);
  if (library == nullptr) {
    ToolError error(name + " does not load: " + why, kExitFailed);
    error.hint = "'korvelan380 doctor' looks into why";
    throw error;
  }
  D2xxFunctions d{};
  if (d2xx::Bind(d, [library](const char* fn) { return os::Symbol(library, fn); }) != nullptr) {
    throw ToolError(name + " lacks driver functions: 'korvelan380 doctor' says which", kExitFailed);
  }
  return d;
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

// A slow round trip is nearly always the latency timer: what to do about it on each system.
void SlowAdvice(Report& r) {
  const std::vector<std::string> advice = {
      "A round trip above 4 ms is usually the USB chip's latency timer: it holds a short reply "
      "until the timer runs out (16 ms by default) and every register read waits for it.",
      "Linux with the D2XX driver: the application sets it per device with "
      "FT_SetLatencyTimer(handle, 1 or 2) after opening it.",
      "Linux with the kernel's ftdi_sio driver: echo 1 | sudo tee "
      "/sys/bus/usb-serial/devices/ttyUSB0/latency_timer (the device's ttyUSB name).",
      "Windows: Device Manager, the port's Properties, Port Settings, Advanced, Latency Timer "
      "(msec): set 1 or 2, then unplug and plug the module in."};
  r.json["advice"] = advice;
  for (const std::string& line : advice) r.Line("  " + line);
}

void ReportTimings(Report& r, const Timings& t, const std::string& serial) {
  const size_t n = t.ms.size();
  const double median = n % 2 != 0 ? t.ms[n / 2] : (t.ms[n / 2 - 1] + t.ms[n / 2]) / 2;
  // The nearest-rank 99th percentile: the value 99% of the reads are at or below.
  const double p99 = t.ms[std::min(n - 1, (n * 99 + 99) / 100 - 1)];
  r.json["reads"] = n;
  r.json["failed"] = t.failed;
  r.json["median_ms"] = median;
  r.json["p99_ms"] = p99;
  r.json["slow"] = median > kSlowMs;
  r.Line(std::to_string(n) + " reads of register 12 on " + serial + ": median " + Ms(median) +
         ", 99th percentile " + Ms(p99) +
         (t.failed != 0 ? " (" + std::to_string(t.failed) + " unanswered)" : ""));
  if (t.failed != 0) r.exit = kExitFailed;
  if (median <= kSlowMs) {
    r.Line("round trips are short: the driver's latency timer is not holding replies back");
    return;
  }
  r.exit = kExitFailed;
  SlowAdvice(r);
}

}  // namespace

void DoctorTiming(Session& s, Report& r) {
  const D2xxFunctions d = BindDriver(s);
  FT_HANDLE handle = OpenModule(d, s);
  const Timings t = TimeReads(d, handle);
  d.FT_Close(handle);
  if (t.ms.empty()) {
    throw ToolError("none of " + std::to_string(kReads) + " reads of register 12 was answered",
                    kExitFailed);
  }
  ReportTimings(r, t, s.Serial());
}

}  // namespace korvelan380::tool
