// Soak under threads: four threads making random calls on three simulated modules while
// another thread disconnects and reconnects one of them, then the unload hook. Every status
// must be one the library documents for the call, and afterwards every multi-register value
// on each module must be one that a single call wrote (calls on one module never interleave).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "device/unload.h"
#include "korvelan380.h"
#include "korvelan380_sim.hpp"

namespace korvelan380::test {
namespace {

namespace sim = korvelan380::sim;

constexpr int kModules = 3;
constexpr int kWorkers = 4;
constexpr int kCallsPerWorker = 25'000;
const char* const kIds[kModules] = {"s0", "s1", "s2"};

// The values calls wrote into one module's multi-register settings.
struct Written {
  std::mutex mutex;
  std::set<uint32_t> clocks{0};   // registers 22-25: channel 1's clock setting
  std::set<uint32_t> outputs{0};  // registers 44-45: channel 1's output code
  void Add(std::set<uint32_t>& into, uint32_t value) {
    std::lock_guard<std::mutex> lock(mutex);
    into.insert(value);
  }
};

bool Allowed(StatusCode status) {
  // Not connected while the other thread has it disconnected, or a transfer cut off by it.
  return status == KORVELAN380_OK || status == KORVELAN380_NOT_CONNECTED ||
         status == KORVELAN380_TRANSFER_FAILED;
}

TEST(Soak, RandomCallsOnThreeModulesWithReconnectsAndAnUnloadAtTheEnd) {
  sim::Reset();
  sim::SetTracing(false);
  for (const char* id : kIds) {
    const std::string serial = sim::SerialOf(id);
    sim::Attach(serial);
    sim::SetIdealCalibration(serial);
    sim::SetRegister(serial, 12, 1);
    ASSERT_EQ(KORVELAN380_Connect(id), KORVELAN380_OK);
  }
  Written written[kModules];
  std::atomic<int> unexpected{0};
  std::atomic<long> calls{0};
  std::atomic<bool> stop{false};

  auto worker = [&](unsigned seed) {
    std::mt19937 random(seed);
    const std::vector<uint16_t> samples(64, 0x1234);
    for (int i = 0; i < kCallsPerWorker; ++i) {
      const int m = static_cast<int>(random() % kModules);
      const char* id = kIds[m];
      const uint32_t value = random();
      uint8_t b0, b1, flag7[2], flag6[2];
      uint16_t word;
      uint32_t counter[2];
      StatusCode status = KORVELAN380_OK;
      switch (random() % 12) {
        case 0:
          written[m].Add(written[m].clocks, value | 0x100);
          status = KORVELAN380_Clock_Gen(id, 1, value | 0x100);
          break;
        case 1:
          written[m].Add(written[m].outputs, value & 0xFFFF);
          status = KORVELAN380_DacValSet_NoCalibed(id, 1, static_cast<uint16_t>(value));
          break;
        case 2:
          // The identity calibration: a raw value is written as its own code in every range.
          written[m].Add(written[m].outputs, value & 0x3FFF);
          status = KORVELAN380_DacValSet(id, 1, static_cast<uint16_t>(value & 0x3FFF));
          break;
        case 3:
          status = KORVELAN380_DacValSet_R(id, 1, &word);
          break;
        case 4:
          status = KORVELAN380_RangeSet(id, 1, static_cast<uint8_t>(value % 7));
          break;
        case 5:
          status = KORVELAN380_Dio_Out(id, static_cast<uint8_t>(value));
          break;
        case 6:
          status = KORVELAN380_Dio_Out_R(id, &b0);
          break;
        case 7:
          status = KORVELAN380_Fifo_Status(id, flag7, flag6, counter);
          break;
        case 8:
          status = KORVELAN380_Exs_Sel_R(id, &b0, &b1);
          break;
        case 9:
          status = KORVELAN380_WavImgSet(id, 0, samples.data(), 64);
          break;
        case 10:
          status = KORVELANGetCalibedVal(id, 1, static_cast<uint8_t>(value % 7), 100, &word);
          break;
        default:
          status = KORVELAN380_GateSet(id, static_cast<uint8_t>(value % 3), value & 1);
          break;
      }
      if (!Allowed(status)) ++unexpected;
      ++calls;
    }
  };

  // Module s2 goes away and comes back over and over while the calls go on.
  std::thread reconnector([&] {
    while (!stop) {
      const StatusCode off = KORVELAN380_DisConnect("s2");
      const StatusCode on = KORVELAN380_Connect("s2");
      if (off != KORVELAN380_OK || on != KORVELAN380_OK) ++unexpected;
      std::this_thread::yield();
    }
  });
  std::vector<std::thread> workers;
  for (int w = 0; w < kWorkers; ++w) workers.emplace_back(worker, 380u + w);
  for (std::thread& t : workers) t.join();
  stop = true;
  reconnector.join();

  UnloadHook();
  for (const char* id : kIds) EXPECT_FALSE(sim::IsOpen(sim::SerialOf(id))) << id;

  EXPECT_EQ(unexpected.load(), 0);
  EXPECT_GE(calls.load(), 100'000);
  for (int m = 0; m < kModules; ++m) {
    const std::array<uint8_t, 256> regs = sim::Registers(sim::SerialOf(kIds[m]));
    const uint32_t clock =
        uint32_t{regs[22]} << 24 | uint32_t{regs[23]} << 16 | uint32_t{regs[24]} << 8 | regs[25];
    const uint32_t output = uint32_t{regs[44]} << 8 | regs[45];
    EXPECT_EQ(written[m].clocks.count(clock), 1u) << kIds[m] << " clock " << clock;
    EXPECT_EQ(written[m].outputs.count(output), 1u) << kIds[m] << " output " << output;
  }
  std::printf("soak: %ld calls from %d threads on %d modules, one of them reconnected\n",
              calls.load(), kWorkers, kModules);
  sim::Reset();
}

// The unload hook runs while the process ends or the library is let go, with calls perhaps still
// going on other threads: they end with a status, never on freed memory, and the table works
// afterwards.
TEST(Soak, CallsRacingTheUnloadHookEndWithAStatus) {
  sim::Reset();
  sim::SetTracing(false);
  for (const char* id : {"u1", "u2"}) {
    ASSERT_TRUE(sim::Attach(sim::SerialOf(id)));
    ASSERT_EQ(KORVELAN380_Connect(id), KORVELAN380_OK);
  }
  std::atomic<bool> unloaded{false};
  std::atomic<int> unexpected{0};
  auto caller = [&](const char* id) {
    // Goes on for a while after the hook, so that calls meet an emptied table too.
    for (int after = 0; after < 200;) {
      uint16_t raw = 0;
      const StatusCode a = KORVELAN380_DacValSet(id, 0, 0x1000);
      const StatusCode b = KORVELAN380_DacValSet_R(id, 0, &raw);
      for (StatusCode status : {a, b}) {
        if (status != KORVELAN380_OK && status != KORVELAN380_NOT_CONNECTED &&
            status != KORVELAN380_TRANSFER_FAILED) {
          ++unexpected;
        }
      }
      if (unloaded) ++after;
    }
  };
  std::thread first(caller, "u1"), second(caller, "u2");
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  UnloadHook();
  unloaded = true;
  first.join();
  second.join();
  EXPECT_EQ(unexpected.load(), 0);
  uint16_t raw = 0;
  EXPECT_EQ(KORVELAN380_DacValSet_R("u1", 0, &raw), KORVELAN380_NOT_CONNECTED);
  EXPECT_FALSE(sim::IsOpen(sim::SerialOf("u1")));
  EXPECT_EQ(KORVELAN380_Connect("u1"), KORVELAN380_OK);
  EXPECT_EQ(KORVELAN380_DisConnect("u1"), KORVELAN380_OK);
  sim::Reset();
}

}  // namespace
}  // namespace korvelan380::test
