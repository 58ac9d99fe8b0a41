// The per-call paths allocate nothing, and a full waveform load allocates its stream body and
// the 16384-code table and no more. Every operator new of the process is counted here.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <vector>

#include "korvelan380.h"
#include "korvelan380_sim.hpp"

// The replacements below pair malloc with free on purpose; the warning cannot see that.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

namespace {

std::atomic<size_t> allocations{0};
std::atomic<size_t> allocatedBytes{0};

}  // namespace

void* operator new(size_t size) {
  allocations.fetch_add(1, std::memory_order_relaxed);
  allocatedBytes.fetch_add(size, std::memory_order_relaxed);
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void* operator new[](size_t size) {
  return ::operator new(size);
}
void* operator new(size_t size, const std::nothrow_t&) noexcept {
  allocations.fetch_add(1, std::memory_order_relaxed);
  allocatedBytes.fetch_add(size, std::memory_order_relaxed);
  return std::malloc(size ? size : 1);
}
void* operator new[](size_t size, const std::nothrow_t& tag) noexcept {
  return ::operator new(size, tag);
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete[](void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, size_t) noexcept {
  std::free(p);
}
void operator delete[](void* p, size_t) noexcept {
  std::free(p);
}

namespace korvelan380::test {
namespace {

namespace sim = korvelan380::sim;

class Allocations : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::Reset();
    sim::Attach(sim::SerialOf("7"));
    sim::SetIdealCalibration(sim::SerialOf("7"));
    sim::SetTracing(false);
    ASSERT_EQ(KORVELAN380_Connect("7"), KORVELAN380_OK);
  }
  void TearDown() override {
    KORVELAN380_DisConnect("7");
    sim::Reset();
  }
};

// Runs every per-call export once; returns how many allocations that took.
size_t AllocationsOfOneRound() {
  uint8_t byte, low, high, flag7[2], flag6[2];
  uint16_t word;
  uint32_t counter[2];
  DacChannelSettings settings{};
  settings.mode = 1;
  settings.presetEnable = 1;
  CalibrationOffsets offsets;
  CalibrationGains gains;
  const size_t before = allocations.load();
  KORVELAN380_DacValSet("7", 0, 0x1234);
  KORVELAN380_DacValSet_R("7", 0, &word);
  KORVELAN380_DacValSet_NoCalibed("7", 1, 0x4321);
  KORVELAN380_DacValSet_NoCalibed_R("7", 1, &word);
  KORVELAN380_Dio_Out("7", 0x55);
  KORVELAN380_Dio_Out_R("7", &byte);
  KORVELAN380_Dio_In("7", &byte);
  KORVELAN380_Fifo_Status("7", flag7, flag6, counter);
  KORVELAN380_Fifo_Clr("7", 0);
  KORVELAN380_RangeSet("7", 0, 3);
  KORVELAN380_RangeSet_R("7", 0, &byte);
  KORVELAN380_DacChSet("7", 0, &settings);
  KORVELAN380_DacChSet_R("7", 0, &settings);
  KORVELAN380_Trigger("7", 0, 1);
  KORVELAN380_Trigger_Stat("7", 0, &byte);
  KORVELAN380_GateSet("7", 0, 1);
  KORVELAN380_GateSet_R("7", 0, &byte);
  KORVELAN380_Exs_Sel("7", 1, 2);
  KORVELAN380_Exs_Sel_R("7", &low, &high);
  KORVELAN380_Clock_Gen("7", 0, 1000);
  KORVELAN380_EXIO_In("7", &byte);
  KORVELANGetCalibedVal("7", 0, 3, 100, &word);
  KORVELANGetRawValFromCalibed("7", 0, 3, 100, &word);
  KORVELAN380_Calib_Val_Get("7", &offsets, &gains);
  KORVELAN380_Calib_Val_Set("7", &offsets, &gains, 0);
  KORVELAN380_DacValSet("nobody", 0, 0);
  return allocations.load() - before;
}

TEST_F(Allocations, PerCallPathsAllocateNothing) {
  AllocationsOfOneRound();  // the simulated module sizes its queues on first use
  EXPECT_EQ(AllocationsOfOneRound(), 0u);
}

TEST_F(Allocations, FullWaveformLoadTakesTheBodyAndTheCodeTableOnly) {
  std::vector<uint16_t> samples(524288, 0x1234);
  // The simulated module sizes its two stream buffers on the first loads.
  KORVELAN380_WavImgSet("7", 0, samples.data(), 524288);
  KORVELAN380_WavImgSet("7", 0, samples.data(), 524288);
  const size_t before = allocations.load(), bytesBefore = allocatedBytes.load();
  ASSERT_EQ(KORVELAN380_WavImgSet("7", 0, samples.data(), 524288), KORVELAN380_OK);
  EXPECT_EQ(allocations.load() - before, 2u);
  EXPECT_EQ(allocatedBytes.load() - bytesBefore, 4u * 524288 + 2u * 16384);
}

}  // namespace
}  // namespace korvelan380::test
