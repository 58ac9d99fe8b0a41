// trace FILE: a capture decoded into the wire view --trace prints, with each transaction's round
// trip, and a summary of the calls, the failures and the slowest round trips.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <sstream>

#include "app/commands.h"
#include "capture_file.h"
#include "core/wire.h"
#include "d2xx.h"

namespace korvelan380::tool {
namespace {

namespace cap = korvelan380::capture;
namespace d2xx = korvelan380::d2xx;

constexpr uint8_t kStx = 0x02;
constexpr size_t kSlowest = 5;

// A frame sent and, for a read, its reply: from the write's entry to the return of the last read
// that brought reply bytes (or of the last read at all, when none did).
struct Transaction {
  size_t call = 0;  // index of the FT_Write that sent the frame
  uint64_t end = 0;
  bool reply = false;
  bool replied = false;
};

std::vector<Transaction> Transactions(const std::vector<cap::DriverCall>& calls) {
  std::vector<Transaction> done;
  std::map<uint32_t, Transaction> open;  // by handle
  auto close = [&](uint32_t handle) {
    auto it = open.find(handle);
    if (it == open.end()) return;
    done.push_back(it->second);
    open.erase(it);
  };
  for (size_t i = 0; i < calls.size(); ++i) {
    const cap::DriverCall& c = calls[i];
    if (c.fn == D2XX_FT_Write || c.fn == D2XX_FT_Close) close(c.handle);
    if (c.fn == D2XX_FT_Write && c.data.size() >= 2 && c.data[0] == kStx) {
      open[c.handle] = Transaction{i, c.t1, c.data[1] == 'R', false};
    } else if (c.fn == D2XX_FT_Read) {
      auto it = open.find(c.handle);
      if (it == open.end() || !it->second.reply) continue;
      if (!c.data.empty() || !it->second.replied) it->second.end = c.t1;
      it->second.replied = it->second.replied || !c.data.empty();
    }
  }
  for (auto& [handle, t] : open) done.push_back(t);
  std::sort(done.begin(), done.end(),
            [](const Transaction& a, const Transaction& b) { return a.call < b.call; });
  return done;
}

std::string Milliseconds(uint64_t ns) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f ms", static_cast<double>(ns) / 1e6);
  return text;
}

double MillisecondsValue(uint64_t ns) {
  return static_cast<double>(ns / 1000) / 1000.0;  // to the microsecond
}

cap::Capture ReadOrExplain(const std::string& path) {
  try {
    return cap::ReadCapture(path);
  } catch (const cap::CaptureError& e) {
    ToolError error(e.what(), kExitUsage);
    error.hint = "a capture is written by 'korvelan380 --capture FILE COMMAND' or the shim";
    throw error;
  }
}

// The wire view of the calls, and which of its lines each call became (a line of its own, or
// one more repeat of the line before).
struct Decoded {
  std::vector<WireLine> wire;
  std::vector<size_t> lineOf;
};

Decoded Decode(const std::vector<cap::DriverCall>& calls) {
  Decoded d{DescribeTrace(calls), std::vector<size_t>(calls.size())};
  for (size_t line = 0, call = 0; line < d.wire.size(); ++line) {
    for (uint32_t k = 0; k < d.wire[line].repeat && call < calls.size(); ++k) {
      d.lineOf[call++] = line;
    }
  }
  return d;
}

// A transaction's round trip and the wire line of its frame.
struct RoundTrip {
  uint64_t ns;
  size_t call;  // the FT_Write that sent the frame
  size_t line;
};

std::vector<RoundTrip> RoundTrips(const std::vector<cap::DriverCall>& calls, const Decoded& d) {
  std::vector<RoundTrip> trips;
  for (const Transaction& t : Transactions(calls)) {
    trips.push_back({t.end - calls[t.call].t0, t.call, d.lineOf[t.call]});
  }
  return trips;
}

// The slowest round trips, slowest first; equal ones in the order they came.
std::vector<RoundTrip> Slowest(std::vector<RoundTrip> trips) {
  std::stable_sort(trips.begin(), trips.end(),
                   [](const RoundTrip& a, const RoundTrip& b) { return a.ns > b.ns; });
  if (trips.size() > kSlowest) trips.resize(kSlowest);
  return trips;
}

std::string Joined(const std::string& text, const char* separator, const std::string& more) {
  return text + (text.empty() ? "" : separator) + more;
}

// The calls of each function, and the failures of each by status: as JSON and as text.
void CountCalls(const std::vector<cap::DriverCall>& calls, ordered_json& json,
                std::string& countText, std::string& failureText) {
  std::map<int, std::map<uint32_t, int>> failed;
  std::map<int, int> count;
  for (const cap::DriverCall& c : calls) {
    ++count[c.fn];
    if (c.status != 0) ++failed[c.fn][c.status];
  }
  json["by_function"] = ordered_json::object();
  for (const auto& [fn, n] : count) {
    json["by_function"][d2xx::FunctionName(fn)] = n;
    countText = Joined(countText, ", ", d2xx::FunctionName(fn) + (" " + std::to_string(n)));
  }
  json["failures"] = ordered_json::object();
  for (const auto& [fn, statuses] : failed) {
    ordered_json byStatus = ordered_json::object();
    int total = 0;
    std::string detail;
    for (const auto& [status, n] : statuses) {
      byStatus[std::to_string(status)] = n;
      total += n;
      detail = Joined(detail, ", ", "status " + std::to_string(status) + " x" + std::to_string(n));
    }
    json["failures"][d2xx::FunctionName(fn)] = {{"count", total}, {"statuses", byStatus}};
    failureText =
        Joined(failureText, "; ",
               d2xx::FunctionName(fn) + (" " + std::to_string(total)) + " (" + detail + ")");
  }
}

std::string RightAligned(const std::string& text) {
  return std::string(text.size() < 12 ? 12 - text.size() : 0, ' ') + text;
}

void ReportHeader(Report& r, const std::string& path, const cap::Capture& capture) {
  r.json["file"] = path;
  r.json["version"] = capture.header.version;
  r.json["driver"] = capture.header.driver;
  if (!capture.header.error.empty()) r.json["driver_error"] = capture.header.error;
  r.json["dropped"] = capture.dropped;
  r.Line("capture " + path + ": " + std::to_string(capture.calls.size()) + " calls, driver " +
         (capture.header.driver.empty() ? "(none loaded)" : capture.header.driver));
  if (!capture.header.error.empty()) r.Line("  the shim found no driver: " + capture.header.error);
  if (capture.dropped != 0) {
    r.Line("  the " + std::to_string(capture.dropped) +
           " oldest calls were dropped to keep to the capture's size limit");
  }
}

// The wire view with each frame's round trip on the left.
void ReportWire(Report& r, const Decoded& d, const std::vector<RoundTrip>& trips) {
  std::vector<std::string> roundTrip(d.wire.size());
  ordered_json wireJson = WireJson(d.wire);
  for (const RoundTrip& t : trips) {
    roundTrip[t.line] = Milliseconds(t.ns);
    wireJson[t.line]["round_trip_ms"] = MillisecondsValue(t.ns);
  }
  r.json["wire"] = wireJson;
  r.Line("on the wire (round trip of each frame on the left):");
  std::istringstream text(FormatWire(d.wire, ""));
  size_t line = 0;
  for (std::string l; std::getline(text, l); ++line) {
    r.Line("  " + RightAligned(line < roundTrip.size() ? roundTrip[line] : "") + "  " + l);
  }
}

void ReportSummary(Report& r, const std::vector<cap::DriverCall>& calls, const Decoded& d,
                   const std::vector<RoundTrip>& trips) {
  ordered_json summary = {{"calls", calls.size()}};
  std::string countText, failureText;
  CountCalls(calls, summary, countText, failureText);
  const std::vector<RoundTrip> slowest = Slowest(trips);
  summary["slowest"] = ordered_json::array();
  for (const RoundTrip& t : slowest) {
    const WireLine& line = d.wire[t.line];
    summary["slowest"].push_back({{"call", calls[t.call].seq},
                                  {"frame", line.frame},
                                  {"meaning", line.meaning},
                                  {"round_trip_ms", MillisecondsValue(t.ns)}});
  }
  r.json["summary"] = summary;
  r.Line("summary:");
  r.Line("  calls: " + std::to_string(calls.size()) +
         (countText.empty() ? "" : " (" + countText + ")"));
  r.Line("  failures: " + (failureText.empty() ? std::string("none") : failureText));
  r.Line("  slowest round trips:" + std::string(slowest.empty() ? " none" : ""));
  for (const RoundTrip& t : slowest) {
    const WireLine& w = d.wire[t.line];
    r.Line("  " + RightAligned(Milliseconds(t.ns)) + "  call " + std::to_string(calls[t.call].seq) +
           "  " + w.frame + "  " + w.meaning);
  }
}

}  // namespace

void TraceCommand(Report& r, const std::string& path) {
  const cap::Capture capture = ReadOrExplain(path);
  const Decoded decoded = Decode(capture.calls);
  const std::vector<RoundTrip> trips = RoundTrips(capture.calls, decoded);
  ReportHeader(r, path, capture);
  ReportWire(r, decoded, trips);
  ReportSummary(r, capture.calls, decoded, trips);
}

void RegisterTrace(CommandSet& set) {
  Command& c = set.Add("trace", "decode a capture: the wire view with round trips, and a summary",
                       {"korvelan380 --sim --capture s.jsonl demo", "korvelan380 trace s.jsonl",
                        "korvelan380 trace s.jsonl --json"});
  c.connect = false;  // the capture is all it reads
  auto path = std::make_shared<std::string>();
  c.app->add_option("FILE", *path, "the capture file")->required();
  c.run = [path](Session&, Report& r) { TraceCommand(r, *path); };
}

}  // namespace korvelan380::tool
