// Load: 8 clients at once, 500 requests each, half writes and half reads, on two simulated
// modules (a panel each). No request may fail, and every register must end as its client's last
// write says.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <barrier>
#include <chrono>
#include <cstdio>
#include <thread>

#include "panel_support.h"

namespace korvelan380::test {
namespace {

constexpr int kClients = 8;
constexpr int kRequests = 500;

// Each of a module's four clients owns one register, so that its last write is what must stay.
struct Target {
  const char* endpoint;
  const char* field;
  int channel;  // -1: none
  unsigned modulus;
};
constexpr Target kTargets[4] = {{"output", "code", 0, 65536},
                                {"output", "code", 1, 65536},
                                {"dio", "output", -1, 256},
                                {"dio", "direction", -1, 256}};
constexpr const char* kReads[] = {"output", "dio", "trigger", "fifo", "select", "channel"};

TEST(PanelLoad, EightClientsOnTwoModulesLoseNoWrite) {
  const auto dir = TestDir("load");
  Panel panels[2] = {Panel((dir / "a.json").string(), "1"), Panel((dir / "b.json").string(), "2")};
  std::atomic<int> failures{0};
  std::vector<unsigned> lastWritten(kClients);
  std::vector<std::vector<double>> latencies(kClients);
  std::barrier start(kClients);

  auto client = [&](int id) {
    const Panel& panel = panels[id / 4];
    const Target& target = kTargets[id % 4];
    httplib::Client http = panel.Client();
    http.set_keep_alive(true);
    start.arrive_and_wait();
    for (int i = 0; i < kRequests; ++i) {
      const auto begin = std::chrono::steady_clock::now();
      const bool write = i % 2 == 0;
      const unsigned value =
          (static_cast<unsigned>(id) * 7919u + static_cast<unsigned>(i) * 104729u) % target.modulus;
      json body = {{target.field, value}};
      if (target.channel >= 0) body["channel"] = target.channel;
      const httplib::Result result =
          write ? http.Post(std::string("/api/") + target.endpoint, body.dump(), "application/json")
                : http.Get(std::string("/api/") + kReads[(i / 2 + id) % std::size(kReads)]);
      if (write) lastWritten[id] = value;
      latencies[id].push_back(
          std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - begin)
              .count());
      if (!result || result->status != 200) {
        ++failures;
        ADD_FAILURE() << "client " << id << " request " << i << ": "
                      << (result ? std::to_string(result->status) + " " + result->body
                                 : httplib::to_string(result.error()));
      }
    }
  };
  const auto begin = std::chrono::steady_clock::now();
  std::vector<std::thread> threads;
  for (int id = 0; id < kClients; ++id) threads.emplace_back(client, id);
  for (std::thread& t : threads) t.join();
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
  EXPECT_EQ(failures, 0);

  for (int m = 0; m < 2; ++m) {
    const Reply output = panels[m].Get("output");
    const Reply dio = panels[m].Get("dio");
    ASSERT_EQ(output.status, 200);
    EXPECT_EQ(output.body["channels"][0]["code"], lastWritten[m * 4 + 0]) << "module " << m;
    EXPECT_EQ(output.body["channels"][1]["code"], lastWritten[m * 4 + 1]) << "module " << m;
    EXPECT_EQ(dio.body["output"], lastWritten[m * 4 + 2]) << "module " << m;
    EXPECT_EQ(dio.body["direction"], lastWritten[m * 4 + 3]) << "module " << m;
  }

  std::vector<double> all;
  for (const auto& l : latencies) all.insert(all.end(), l.begin(), l.end());
  std::sort(all.begin(), all.end());
  const auto at = [&](double q) { return all[static_cast<size_t>(q * (all.size() - 1))]; };
  std::printf(
      "load: %d clients x %d requests on 2 modules: %zu requests in %.2f s, %.0f requests/s; "
      "latency ms median %.2f, 95%% %.2f, 99%% %.2f, max %.2f; failures %d\n",
      kClients, kRequests, all.size(), seconds, all.size() / seconds, at(0.5), at(0.95), at(0.99),
      all.back(), failures.load());
  for (Panel& p : panels) EXPECT_EQ(p.Stop(SIGTERM), 0);
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace korvelan380::test
