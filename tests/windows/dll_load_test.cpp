// korvelan380.dll as a Windows application meets it: loaded with LoadLibrary, every export
// resolved with GetProcAddress by its exact name, a session through the resolved functions,
// and FreeLibrary closing the modules still open. The simulated FTD2XX.dll is linked in, so the
// DLL binds it when it is loaded.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "korvelan380.h"
#include "korvelan380_sim.hpp"

namespace sim = korvelan380::sim;

namespace {

// The exports return the 32-bit unsigned long of the Windows ABI (the decorated name's "K").
static_assert(std::is_same_v<StatusCode, unsigned long> && sizeof(StatusCode) == 4);

// The C exports, from the list the Linux export check uses too.
const char* const kCExports[] = {
#include "c_exports.inc"
};
constexpr const char* kDecoratedNoCalibedR = "?KORVELAN380_DacValSet_NoCalibed_R@@YAKPEBDEPEAG@Z";

using ConnectFn = StatusCode (*)(const char*);
using RangeSetFn = StatusCode (*)(const char*, uint8_t, uint8_t);
using DacValSetFn = StatusCode (*)(const char*, uint8_t, uint16_t);
using DacValSetRFn = StatusCode (*)(const char*, uint8_t, uint16_t*);
using GetCalibedValFn = StatusCode (*)(const char*, uint8_t, uint8_t, uint16_t, uint16_t*);

// korvelan380.dll loaded for the life of the object; each test loads it afresh.
class Dll {
 public:
  Dll() : module_(LoadLibraryW(L"korvelan380.dll")) {}
  ~Dll() { Free(); }
  Dll(const Dll&) = delete;
  Dll& operator=(const Dll&) = delete;

  bool Loaded() const { return module_ != nullptr; }
  FARPROC Find(const char* name) const { return GetProcAddress(module_, name); }
  template <typename Function>
  Function Get(const char* name) const {
    // Through void (*)(): the one function pointer type every other one may be cast from.
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(Find(name)));
  }
  void Free() {
    if (module_ != nullptr) FreeLibrary(module_);
    module_ = nullptr;
  }

 private:
  HMODULE module_;
};

bool DllIsLoaded() {
  return GetModuleHandleW(L"korvelan380.dll") != nullptr;
}

size_t Closes(const std::string& serial) {
  size_t closes = 0;
  for (const sim::Call& call : sim::Trace(serial)) closes += call.fn == sim::Fn::Close;
  return closes;
}

class LoadedByHand : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::Reset();
    ASSERT_FALSE(DllIsLoaded()) << "the test program must not be linked with korvelan380.dll";
  }
  void TearDown() override { sim::Reset(); }
};

TEST_F(LoadedByHand, EveryExportResolvesByItsExactName) {
  Dll dll;
  ASSERT_TRUE(dll.Loaded()) << "LoadLibrary failed: " << GetLastError();
  ASSERT_EQ(std::size(kCExports), 35u);  // 32 core exports and the three extensions
  for (const char* name : kCExports) EXPECT_NE(dll.Find(name), nullptr) << name;
  EXPECT_NE(dll.Find(kDecoratedNoCalibedR), nullptr);
  // The C++ export is there under its decorated name only.
  EXPECT_EQ(dll.Find("KORVELAN380_DacValSet_NoCalibed_R"), nullptr);
  EXPECT_EQ(dll.Find("_Z33KORVELAN380_DacValSet_NoCalibed_RPKchPt"), nullptr);
}

TEST_F(LoadedByHand, ACalibratedWriteReadsBackThroughTheDecoratedExport) {
  const std::string serial = sim::SerialOf("7");
  ASSERT_TRUE(sim::Attach(serial));
  sim::SetIdealCalibration(serial);
  Dll dll;
  ASSERT_TRUE(dll.Loaded());
  auto connect = dll.Get<ConnectFn>("KORVELAN380_Connect");
  auto disconnect = dll.Get<ConnectFn>("KORVELAN380_DisConnect");
  auto rangeSet = dll.Get<RangeSetFn>("KORVELAN380_RangeSet");
  auto dacValSet = dll.Get<DacValSetFn>("KORVELAN380_DacValSet");
  auto getCalibedVal = dll.Get<GetCalibedValFn>("KORVELANGetCalibedVal");
  auto noCalibedR = dll.Get<DacValSetRFn>(kDecoratedNoCalibedR);
  ASSERT_TRUE(connect && disconnect && rangeSet && dacValSet && getCalibedVal && noCalibedR);

  ASSERT_EQ(connect("7"), KORVELAN380_OK);
  ASSERT_EQ(rangeSet("7", 1, 0), KORVELAN380_OK);  // -10..10 V
  uint16_t expected = 0;
  ASSERT_EQ(getCalibedVal("7", 1, 0, 0x2ABC, &expected), KORVELAN380_OK);
  EXPECT_EQ(expected, 0x2ABC);  // the ideal calibration is the identity
  ASSERT_EQ(dacValSet("7", 1, 0x2ABC), KORVELAN380_OK);
  EXPECT_EQ(sim::Register(serial, 44), 0x2A);
  EXPECT_EQ(sim::Register(serial, 45), 0xBC);

  uint16_t code = 0;
  EXPECT_EQ(noCalibedR("7", 1, &code), KORVELAN380_OK);
  EXPECT_EQ(code, expected);
  // Its status codes come back whole through the Windows ABI.
  EXPECT_EQ(noCalibedR("7", 2, &code), KORVELAN380_INVALID_ARGUMENT);
  EXPECT_EQ(noCalibedR("8", 0, &code), KORVELAN380_NOT_CONNECTED);
  EXPECT_EQ(disconnect("7"), KORVELAN380_OK);
  EXPECT_EQ(Closes(serial), 1u);
}

TEST_F(LoadedByHand, FreeLibraryClosesEveryModuleStillOpenOnce) {
  const char* const ids[] = {"1", "2", "3"};
  for (const char* id : ids) ASSERT_TRUE(sim::Attach(sim::SerialOf(id)));
  {
    Dll dll;
    ASSERT_TRUE(dll.Loaded());
    auto connect = dll.Get<ConnectFn>("KORVELAN380_Connect");
    for (const char* id : ids) ASSERT_EQ(connect(id), KORVELAN380_OK) << id;
    EXPECT_EQ(connect("1"), KORVELAN380_ALREADY_CONNECTED);
    dll.Free();
    ASSERT_FALSE(DllIsLoaded());
  }
  for (const char* id : ids) {
    EXPECT_FALSE(sim::IsOpen(sim::SerialOf(id))) << id;
    EXPECT_EQ(Closes(sim::SerialOf(id)), 1u) << id;
  }

  // Loaded again, the table is empty: every module connects afresh.
  Dll dll;
  ASSERT_TRUE(dll.Loaded());
  auto connect = dll.Get<ConnectFn>("KORVELAN380_Connect");
  for (const char* id : ids) EXPECT_EQ(connect(id), KORVELAN380_OK) << id;
  dll.Free();
  for (const char* id : ids) EXPECT_EQ(Closes(sim::SerialOf(id)), 2u) << id;
}

TEST_F(LoadedByHand, ThreadsStartingAndEndingLeaveModulesOpen) {
  const std::string serial = sim::SerialOf("7");
  ASSERT_TRUE(sim::Attach(serial));
  Dll dll;
  ASSERT_TRUE(dll.Loaded());
  auto connect = dll.Get<ConnectFn>("KORVELAN380_Connect");
  auto dacValSet = dll.Get<DacValSetFn>("KORVELAN380_DacValSet");
  ASSERT_EQ(connect("7"), KORVELAN380_OK);

  // Each thread brings the DLL a thread attach and a thread detach; neither may close anything.
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i) {
    threads.emplace_back([&] { EXPECT_EQ(dacValSet("7", 0, 0x1000), KORVELAN380_OK); });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_TRUE(sim::IsOpen(serial));
  EXPECT_EQ(Closes(serial), 0u);
  EXPECT_EQ(dacValSet("7", 0, 0x2000), KORVELAN380_OK);
}

// The ordinals of the vendor's FTD2XX.dll. korvelan380.dll imports by ordinal alone, so with the
// suites above passing against the simulator, this also pins the DLL's own ordinal for each name.
TEST(SimulatedDriver, OffersTheTwelveFunctionsAtTheirOrdinals) {
  HMODULE driver = GetModuleHandleW(L"FTD2XX.dll");
  ASSERT_NE(driver, nullptr);
  const struct {
    const char* name;
    WORD ordinal;
  } functions[] = {{"FT_OpenEx", 27},     {"FT_Close", 2},        {"FT_Read", 3},
                   {"FT_Write", 4},       {"FT_Purge", 16},       {"FT_GetQueueStatus", 18},
                   {"FT_GetStatus", 21},  {"FT_EE_UASize", 40},   {"FT_EE_UARead", 39},
                   {"FT_EE_UAWrite", 41}, {"FT_SetTimeouts", 17}, {"FT_SetLatencyTimer", 29}};
  for (const auto& function : functions) {
    FARPROC byName = GetProcAddress(driver, function.name);
    EXPECT_NE(byName, nullptr) << function.name;
    EXPECT_EQ(GetProcAddress(driver, MAKEINTRESOURCEA(function.ordinal)), byName)
        << function.name << " at " << function.ordinal;
  }
}

}  // namespace
