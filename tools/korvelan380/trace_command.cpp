// trace FILE: a capture decoded into the wire view --trace prints, with each transaction's round
// trip, and a summary of the calls, the failures and the slowest round trips.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <sstream>

#include "capture_file.h"
#include "commands.h"
#include "wire.h"

namespace korvelan380::tool {
namespace {

namespace cap = korvelan380::capture;

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

std::vector<Transaction> Transactions(const std::vector<cap::CallRecord>& calls) {
  std::vector<Transaction> done;
  std::map<uint32_t, Transaction> open;  // by handle
  auto close = [&](uint32_t handle) {
    auto it = open.find(handle);
    if (it == open.end()) return;
    done.push_back(it->second);
    open.erase(it);
  };
  for (size_t i = 0; i < calls.size(); ++i) {
    const cap::CallRecord& c = calls[i];
    if (c.fn == cap::kWrite || c.fn == cap::kClose) close(c.handle);
    if (c.fn == cap::kWrite && c.data.size() >= 2 && c.data[0] == kStx) {
      open[c.handle] = Transaction{i, c.t1, c.data[1] == 'R', false};
    } else if (c.fn == cap::kRead) {
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

}  // namespace

void TraceCommand(Report& r, const std::string& path) {
  cap::Capture capture;
  try {
    capture = cap::ReadCapture(path);
  } catch (const cap::CaptureError& e) {
    ToolError error(e.what(), kExitUsage);
    error.hint = "a capture is written by 'korvelan380 --capture FILE COMMAND' or the shim";
    throw error;
  }
  const auto& calls = capture.calls;

  std::vector<TraceEntry> entries;
  entries.reserve(calls.size());
  for (const cap::CallRecord& c : calls) {
    TraceEntry e{c.fn, cap::FnName(c.fn), c.arg, c.status, c.data};
    if (c.fn == cap::kOpenEx) e.data.assign(c.serial.begin(), c.serial.end());
    entries.push_back(std::move(e));
  }
  const std::vector<WireLine> wire = DescribeTrace(entries);
  // Each call became a line of its own or one more repeat of the line before.
  std::vector<size_t> lineOf(calls.size());
  for (size_t line = 0, call = 0; line < wire.size(); ++line) {
    for (uint32_t k = 0; k < wire[line].repeat && call < calls.size(); ++k) lineOf[call++] = line;
  }
  const std::vector<Transaction> transactions = Transactions(calls);
  std::vector<std::string> roundTrip(wire.size());
  std::vector<std::pair<uint64_t, size_t>> slowest;  // round trip, transaction
  ordered_json wireJson = WireJson(wire);
  for (size_t t = 0; t < transactions.size(); ++t) {
    const cap::CallRecord& write = calls[transactions[t].call];
    const uint64_t ns = transactions[t].end - write.t0;
    const size_t line = lineOf[transactions[t].call];
    roundTrip[line] = Milliseconds(ns);
    wireJson[line]["round_trip_ms"] = MillisecondsValue(ns);
    slowest.emplace_back(ns, t);
  }
  std::stable_sort(slowest.begin(), slowest.end(),
                   [](const auto& a, const auto& b) { return a.first > b.first; });
  if (slowest.size() > kSlowest) slowest.resize(kSlowest);

  ordered_json byFunction = ordered_json::object();
  ordered_json failures = ordered_json::object();
  std::map<int, std::map<uint32_t, int>> failed;
  std::map<int, int> count;
  for (const cap::CallRecord& c : calls) {
    ++count[c.fn];
    if (c.status != 0) ++failed[c.fn][c.status];
  }
  std::string countText;
  for (const auto& [fn, n] : count) {
    byFunction[cap::FnName(fn)] = n;
    countText +=
        std::string(countText.empty() ? "" : ", ") + cap::FnName(fn) + " " + std::to_string(n);
  }
  std::string failureText;
  for (const auto& [fn, statuses] : failed) {
    ordered_json byStatus = ordered_json::object();
    int total = 0;
    std::string detail;
    for (const auto& [status, n] : statuses) {
      byStatus[std::to_string(status)] = n;
      total += n;
      detail += std::string(detail.empty() ? "" : ", ") + "status " + std::to_string(status) +
                " x" + std::to_string(n);
    }
    failures[cap::FnName(fn)] = {{"count", total}, {"statuses", byStatus}};
    failureText += std::string(failureText.empty() ? "" : "; ") + cap::FnName(fn) + " " +
                   std::to_string(total) + " (" + detail + ")";
  }

  r.json["file"] = path;
  r.json["version"] = capture.header.version;
  r.json["driver"] = capture.header.driver;
  if (!capture.header.error.empty()) r.json["driver_error"] = capture.header.error;
  r.json["dropped"] = capture.dropped;
  r.json["wire"] = wireJson;
  ordered_json slow = ordered_json::array();
  for (const auto& [ns, t] : slowest) {
    const WireLine& line = wire[lineOf[transactions[t].call]];
    slow.push_back({{"call", calls[transactions[t].call].seq},
                    {"frame", line.frame},
                    {"meaning", line.meaning},
                    {"round_trip_ms", MillisecondsValue(ns)}});
  }
  r.json["summary"] = {{"calls", calls.size()},
                       {"by_function", byFunction},
                       {"failures", failures},
                       {"slowest", slow}};

  r.Line("capture " + path + ": " + std::to_string(calls.size()) + " calls, driver " +
         (capture.header.driver.empty() ? "(none loaded)" : capture.header.driver));
  if (!capture.header.error.empty()) r.Line("  the shim found no driver: " + capture.header.error);
  if (capture.dropped != 0) {
    r.Line("  the " + std::to_string(capture.dropped) +
           " oldest calls were dropped to keep to the capture's size limit");
  }
  r.Line("on the wire (round trip of each frame on the left):");
  std::istringstream text(FormatWire(wire, ""));
  size_t line = 0;
  for (std::string l; std::getline(text, l); ++line) {
    const std::string& rt = line < roundTrip.size() ? roundTrip[line] : "";
    r.Line("  " + std::string(rt.size() < 12 ? 12 - rt.size() : 0, ' ') + rt + "  " + l);
  }
  r.Line("summary:");
  r.Line("  calls: " + std::to_string(calls.size()) +
         (countText.empty() ? "" : " (" + countText + ")"));
  r.Line("  failures: " + (failureText.empty() ? std::string("none") : failureText));
  r.Line("  slowest round trips:" + std::string(slow.empty() ? " none" : ""));
  for (const auto& [ns, t] : slowest) {
    const WireLine& w = wire[lineOf[transactions[t].call]];
    const std::string ms = Milliseconds(ns);
    r.Line("  " + std::string(ms.size() < 12 ? 12 - ms.size() : 0, ' ') + ms + "  call " +
           std::to_string(calls[transactions[t].call].seq) + "  " + w.frame + "  " + w.meaning);
  }
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
