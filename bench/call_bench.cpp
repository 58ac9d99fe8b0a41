// What the library adds to each call: exports against the same driver calls made directly,
// calls on two modules from two threads against one, look-ups in a large table against a
// small one, and a connect against the driver calls it needs.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bench/ratios.h"
#include "device/device_table.h"
#include "korvelan380.h"
#include "platform/d2xx.h"

extern "C" {
FT_STATUS FT_OpenEx(void* arg, DWORD flags, FT_HANDLE* handle);
FT_STATUS FT_Close(FT_HANDLE handle);
FT_STATUS FT_Read(FT_HANDLE handle, void* buffer, DWORD toRead, DWORD* bytesRead);
FT_STATUS FT_Write(FT_HANDLE handle, void* buffer, DWORD toWrite, DWORD* written);
FT_STATUS FT_Purge(FT_HANDLE handle, DWORD mask);
FT_STATUS FT_GetQueueStatus(FT_HANDLE handle, DWORD* rxBytes);
FT_STATUS FT_EE_UASize(FT_HANDLE handle, DWORD* size);
FT_STATUS FT_EE_UARead(FT_HANDLE handle, unsigned char* data, DWORD length, DWORD* bytesRead);
}

namespace korvelan380::bench {
namespace {

// A module connected for one benchmark.
class Connected {
 public:
  explicit Connected(std::string id) : id_(std::move(id)) {
    ok_ = KORVELAN380_Connect(id_.c_str()) == KORVELAN380_OK;
  }
  ~Connected() { KORVELAN380_DisConnect(id_.c_str()); }
  bool ok() const { return ok_; }
  const char* id() const { return id_.c_str(); }

 private:
  std::string id_;
  bool ok_;
};

// A handle opened on the driver directly, and the frames a caller would compose by hand.
class Direct {
 public:
  Direct() {
    char serial[] = "KORVELAN380direct";
    FT_OpenEx(serial, 1, &handle_);
  }
  ~Direct() { FT_Close(handle_); }
  FT_HANDLE handle() const { return handle_; }

 private:
  FT_HANDLE handle_ = nullptr;
};

uint8_t readRange[] = {0x02, 'R', '2', '2', '2', '2', 0x03};
uint8_t writeValue[] = {0x02, 'W', '2', 'a', '3', '0', '0', '0', 0x03};
uint8_t readDioOut[] = {0x02, 'R', '0', '8', '0', '8', 0x03};
uint8_t readFifo[] = {0x02, 'R', '4', '0', '4', 'f', 0x03};

// ---- Per-call overhead ----------------------------------------------------------------------

void BM_DacValSet_Library(benchmark::State& state) {
  Connected module("dac");
  uint16_t raw = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(KORVELAN380_DacValSet(module.id(), 0, raw));
    raw = static_cast<uint16_t>((raw + 1) & 0x3FFF);
  }
}
BENCHMARK(BM_DacValSet_Library);

void BM_DacValSet_Direct(benchmark::State& state) {
  Direct direct;
  uint8_t reply[4];
  DWORD n;
  for (auto _ : state) {
    FT_Write(direct.handle(), readRange, sizeof readRange, &n);
    FT_Read(direct.handle(), reply, 4, &n);
    FT_Write(direct.handle(), writeValue, sizeof writeValue, &n);
    benchmark::DoNotOptimize(reply);
  }
}
BENCHMARK(BM_DacValSet_Direct);

void BM_DioOutR_Library(benchmark::State& state) {
  Connected module("dio");
  uint8_t value;
  for (auto _ : state) benchmark::DoNotOptimize(KORVELAN380_Dio_Out_R(module.id(), &value));
}
BENCHMARK(BM_DioOutR_Library);

void BM_DioOutR_Direct(benchmark::State& state) {
  Direct direct;
  uint8_t reply[4];
  DWORD n, rx;
  for (auto _ : state) {
    FT_GetQueueStatus(direct.handle(), &rx);
    if (rx > 0) FT_Purge(direct.handle(), 1);
    FT_Write(direct.handle(), readDioOut, sizeof readDioOut, &n);
    FT_Read(direct.handle(), reply, 4, &n);
    benchmark::DoNotOptimize(reply);
  }
}
BENCHMARK(BM_DioOutR_Direct);

void BM_FifoStatus_Library(benchmark::State& state) {
  Connected module("fifo");
  uint8_t flag7[2], flag6[2];
  uint32_t counter[2];
  for (auto _ : state) {
    benchmark::DoNotOptimize(KORVELAN380_Fifo_Status(module.id(), flag7, flag6, counter));
  }
}
BENCHMARK(BM_FifoStatus_Library);

void BM_FifoStatus_Direct(benchmark::State& state) {
  Direct direct;
  uint8_t reply[64];
  DWORD n;
  for (auto _ : state) {
    FT_Write(direct.handle(), readFifo, sizeof readFifo, &n);
    FT_Read(direct.handle(), reply, 64, &n);
    benchmark::DoNotOptimize(reply);
  }
}
BENCHMARK(BM_FifoStatus_Direct);

// ---- Scaling across modules -----------------------------------------------------------------

void BM_DacValSet_PerModule(benchmark::State& state) {
  // Each thread drives a module of its own.
  static Connected* modules[2];
  if (state.thread_index() == 0) {
    modules[0] = new Connected("scale0");
    modules[1] = new Connected("scale1");
  }
  // Google Benchmark starts the timed loop of all threads together, after this set-up.
  for (auto _ : state) {
    benchmark::DoNotOptimize(KORVELAN380_DacValSet(modules[state.thread_index()]->id(), 1, 0x1234));
  }
  state.SetItemsProcessed(state.iterations());
  if (state.thread_index() == 0) {
    delete modules[0];
    delete modules[1];
  }
}
BENCHMARK(BM_DacValSet_PerModule)->Threads(1)->Threads(2)->UseRealTime();

// ---- Table size -----------------------------------------------------------------------------

void BM_EntryCheck(benchmark::State& state) {
  const int modules = static_cast<int>(state.range(0));
  std::vector<std::string> ids;
  for (int i = 0; i < modules; ++i) {
    char id[12];
    std::snprintf(id, sizeof id, "t%d", i);
    ids.emplace_back(id);
  }
  for (const std::string& id : ids) KORVELAN380_Connect(id.c_str());
  size_t next = 0;
  for (auto _ : state) {
    PinnedEntry pinned = PinEntry(ids[next].c_str(), true);
    benchmark::DoNotOptimize(pinned.entry);
    next = next + 1 == ids.size() ? 0 : next + 1;
  }
  for (const std::string& id : ids) KORVELAN380_DisConnect(id.c_str());
}
BENCHMARK(BM_EntryCheck)->Arg(1)->Arg(1000);

// ---- Connect --------------------------------------------------------------------------------

void BM_Connect_Library(benchmark::State& state) {
  for (auto _ : state) {
    KORVELAN380_Connect("conn");
    KORVELAN380_DisConnect("conn");
  }
}
BENCHMARK(BM_Connect_Library);

// The driver calls of a connect that finds a stored record and the outputs initialised, and of
// the disconnect.
void BM_Connect_Direct(benchmark::State& state) {
  char serial[] = "KORVELAN380conn";
  uint8_t readFlag[] = {0x02, 'R', '0', 'c', '0', 'c', 0x03};
  unsigned char record[88];
  uint8_t reply[4];
  for (auto _ : state) {
    FT_HANDLE handle;
    DWORD n;
    FT_OpenEx(serial, 1, &handle);
    FT_Purge(handle, 3);
    FT_EE_UASize(handle, &n);
    FT_EE_UARead(handle, record, 88, &n);
    FT_Write(handle, readFlag, sizeof readFlag, &n);
    FT_Read(handle, reply, 4, &n);
    FT_Close(handle);
    benchmark::DoNotOptimize(record);
  }
}
BENCHMARK(BM_Connect_Direct);

const RegisterRatio kDacValSet({"per call: KORVELAN380_DacValSet / direct driver calls",
                                "BM_DacValSet_Library", "BM_DacValSet_Direct", 2.5, true});
const RegisterRatio kDioOutR({"per call: KORVELAN380_Dio_Out_R / direct driver calls",
                              "BM_DioOutR_Library", "BM_DioOutR_Direct", 2.5, true});
const RegisterRatio kFifoStatus({"per call: KORVELAN380_Fifo_Status / direct driver calls",
                                 "BM_FifoStatus_Library", "BM_FifoStatus_Direct", 2.5, true});
const RegisterRatio kScaling({"scaling: calls/s, 2 threads on 2 modules / 1 on 1",
                              "BM_DacValSet_PerModule/real_time/threads:1",
                              "BM_DacValSet_PerModule/real_time/threads:2", 1.8, false});
const RegisterRatio kTable({"table size: entry check, 1000 modules / 1 module",
                            "BM_EntryCheck/1000", "BM_EntryCheck/1", 1.5, true});
const RegisterRatio kConnect({"connect + disconnect / the bare driver calls", "BM_Connect_Library",
                              "BM_Connect_Direct", 1.5, true});

}  // namespace
}  // namespace korvelan380::bench
