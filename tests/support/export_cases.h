// One representative, successful call of every export on module "7" of the simulated module,
// with what each failure of it must give. Shared by the fault sweep and the soak.
#ifndef KORVELAN380_TESTS_EXPORT_CASES_H
#define KORVELAN380_TESTS_EXPORT_CASES_H

#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "korvelan380.h"
#include "korvelan380_sim.hpp"

namespace korvelan380::test {

namespace sim = korvelan380::sim;

// Output buffers a call writes into; filled with a marker before each call, so that a failed
// call can be checked to have written nothing.
struct Outputs {
  uint8_t bytes[8];
  uint16_t words[2];
  uint32_t counters[2];
  DacChannelSettings settings;
  CalibrationOffsets offsets;
  CalibrationGains gains;
  KORVELAN380_CALIB_ADJUST adjust;

  void Mark() { std::memset(this, 0xEE, sizeof *this); }
  bool Untouched() const {
    Outputs marked;
    marked.Mark();
    return std::memcmp(this, &marked, sizeof *this) == 0;
  }
};

struct ExportCase {
  std::string name;
  std::function<StatusCode(Outputs&)> call;
  // Reads a reply from the module (a case that does not has no reply to withhold or cut short).
  bool readsReply = false;
  // The status of a failed driver call where it is not 5.
  std::map<sim::Fn, StatusCode> unreported = {};
  // A failed call writes none of its outputs (false where a call fills them one by one).
  bool outputsAllOrNothing = true;
  // Discards waiting received bytes before its first read.
  bool flushesFirst = false;
  // Connect and disconnect need the module in another state first.
  bool isConnect = false;
  bool isDisconnect = false;
};

inline const char* kCaseId = "7";

// The cases, on module "7" or on the identifier given (which must outlive them).
inline std::vector<ExportCase> ExportCases(const char* id = kCaseId) {
  static const std::vector<uint16_t> samples(100, 0x1234);
  using F = sim::Fn;
  std::vector<ExportCase> cases = {
      {.name = "Connect",
       .call = [=](Outputs&) { return KORVELAN380_Connect(id); },
       .readsReply = true,
       // the open fails with 4; the purge, the timeouts (reads are then polled) and the
       // calibration load are not reported
       .unreported = {{F::OpenEx, 4},
                      {F::Purge, 0},
                      {F::SetTimeouts, 0},
                      {F::EeUaSize, 0},
                      {F::EeUaRead, 0},
                      {F::EeUaWrite, 0}},
       .isConnect = true},
      {.name = "DisConnect",
       .call = [=](Outputs&) { return KORVELAN380_DisConnect(id); },
       .unreported = {{F::Close, 0}},
       .isDisconnect = true},
      {.name = "Calib_Val_Set",
       .call =
           [=](Outputs&) {
             CalibrationOffsets offsets{};
             CalibrationGains gains{};
             gains.gain[0] = 0.5f;  // differs from the stored record, so it is stored
             return KORVELAN380_Calib_Val_Set(id, &offsets, &gains, 1);
           }},
      {.name = "Calib_Val_Get",
       .call = [=](Outputs& o) { return KORVELAN380_Calib_Val_Get(id, &o.offsets, &o.gains); }},
      {.name = "KORVELANGetCalibedVal",
       .call = [=](Outputs& o) { return KORVELANGetCalibedVal(id, 0, 3, 0x1000, &o.words[0]); }},
      {.name = "KORVELANGetRawValFromCalibed",
       .call =
           [=](Outputs& o) { return KORVELANGetRawValFromCalibed(id, 1, 5, 0x1000, &o.words[0]); }},
      {.name = "Dio_Dir",
       .call = [=](Outputs&) { return KORVELAN380_Dio_Dir(id, 0x5A); },
       .unreported = {{F::GetStatus, 0}}},
      {.name = "Dio_Dir_R",
       .call = [=](Outputs& o) { return KORVELAN380_Dio_Dir_R(id, &o.bytes[0]); },
       .readsReply = true,
       .flushesFirst = true},
      {.name = "Dio_Out",
       .call = [=](Outputs&) { return KORVELAN380_Dio_Out(id, 0xA5); },
       .unreported = {{F::GetStatus, 0}}},
      {.name = "Dio_Out_R",
       .call = [=](Outputs& o) { return KORVELAN380_Dio_Out_R(id, &o.bytes[0]); },
       .readsReply = true,
       .flushesFirst = true},
      {.name = "Dio_In",
       .call = [=](Outputs& o) { return KORVELAN380_Dio_In(id, &o.bytes[0]); },
       .readsReply = true,
       .unreported = {{F::GetStatus, 0}},
       .flushesFirst = true},
      {.name = "Exs_Sel", .call = [=](Outputs&) { return KORVELAN380_Exs_Sel(id, 1, 2); }},
      {.name = "Exs_Sel_R",
       .call = [=](Outputs& o) { return KORVELAN380_Exs_Sel_R(id, &o.bytes[0], &o.bytes[1]); },
       .readsReply = true,
       .flushesFirst = true},
      {.name = "Clock_Gen", .call = [=](Outputs&) { return KORVELAN380_Clock_Gen(id, 1, 123456); }},
      {.name = "EXIO_Sel", .call = [=](Outputs&) { return KORVELAN380_EXIO_Sel(id, 6, 0); }},
      {.name = "EXIO_Sel_R",
       .call = [=](Outputs& o) { return KORVELAN380_EXIO_Sel_R(id, &o.bytes[0], &o.bytes[1]); },
       .readsReply = true,
       .flushesFirst = true},
      {.name = "EXIO_In",
       .call = [=](Outputs& o) { return KORVELAN380_EXIO_In(id, &o.bytes[0]); },
       .readsReply = true},
      {.name = "DacChSet",
       .call =
           [=](Outputs&) {
             DacChannelSettings s{};
             s.mode = 2;
             s.selectA = 1;
             s.presetEnable = 1;
             s.presetValue = 0x1234;
             s.modeParameter = 0xBEEF;
             return KORVELAN380_DacChSet(id, 1, &s);
           },
       .readsReply = true},
      {.name = "DacChSet_R",
       .call = [=](Outputs& o) { return KORVELAN380_DacChSet_R(id, 0, &o.settings); },
       .readsReply = true,
       .outputsAllOrNothing = false},
      {.name = "RangeSet", .call = [=](Outputs&) { return KORVELAN380_RangeSet(id, 2, 6); }},
      {.name = "RangeSet_R",
       .call = [=](Outputs& o) { return KORVELAN380_RangeSet_R(id, 1, &o.bytes[0]); },
       .readsReply = true},
      {.name = "DacValSet",
       .call = [=](Outputs&) { return KORVELAN380_DacValSet(id, 0, 0x2ABC); },
       .readsReply = true},
      {.name = "DacValSet_R",
       .call = [=](Outputs& o) { return KORVELAN380_DacValSet_R(id, 0, &o.words[0]); },
       .readsReply = true},
      {.name = "DacValSet_NoCalibed",
       .call = [=](Outputs&) { return KORVELAN380_DacValSet_NoCalibed(id, 1, 0xFFFF); }},
      {.name = "DacValSet_NoCalibed_R",
       .call = [=](Outputs& o) { return KORVELAN380_DacValSet_NoCalibed_R(id, 1, &o.words[0]); },
       .readsReply = true},
      {.name = "WavImgSet",
       .call = [=](Outputs&) { return KORVELAN380_WavImgSet(id, 0, samples.data(), 100); },
       .readsReply = true},
      {.name = "Fifo_ImgSet",
       .call = [=](Outputs&) { return KORVELAN380_Fifo_ImgSet(id, 1, samples.data(), 100); }},
      {.name = "Fifo_Clr", .call = [=](Outputs&) { return KORVELAN380_Fifo_Clr(id, 1); }},
      {.name = "Fifo_Status",
       .call =
           [=](Outputs& o) {
             return KORVELAN380_Fifo_Status(id, &o.bytes[0], &o.bytes[2], o.counters);
           },
       .readsReply = true},
      {.name = "Trigger", .call = [=](Outputs&) { return KORVELAN380_Trigger(id, 0, 1); }},
      {.name = "Trigger_Stat",
       .call = [=](Outputs& o) { return KORVELAN380_Trigger_Stat(id, 2, &o.bytes[0]); },
       .readsReply = true},
      {.name = "GateSet", .call = [=](Outputs&) { return KORVELAN380_GateSet(id, 1, 1); }},
      {.name = "GateSet_R",
       .call = [=](Outputs& o) { return KORVELAN380_GateSet_R(id, 0, &o.bytes[0]); },
       .readsReply = true},
      {.name = "LatencySet", .call = [=](Outputs&) { return KORVELAN380_LatencySet(id, 1); }},
      {.name = "CalibAdjustBegin",
       .call = [=](Outputs& o) { return KORVELAN380_CalibAdjustBegin(id, 1, 4, &o.adjust); }},
      {.name = "CalibAdjustReading",
       .call =
           [=](Outputs&) {
             // Point 0 of channel 0's 0..10 V range awaits its reading; point 1 goes out.
             KORVELAN380_CALIB_ADJUST adjust{};
             adjust.rangeIndex = 4;
             adjust.sentCodes[1] = 14746;
             return KORVELAN380_CalibAdjustReading(id, &adjust, 1.0);
           }},
  };
  return cases;
}

// A simulated module "7" in a state where every case succeeds: calibrated, initialised, its
// ranges and output codes valid; connected unless asked not to be.
inline void PrepareModule(bool connect) {
  const std::string serial = sim::SerialOf(kCaseId);
  KORVELAN380_DisConnect(kCaseId);
  sim::Reset();
  sim::Attach(serial);
  sim::SetIdealCalibration(serial);
  sim::SetRegister(serial, 12, 1);
  sim::SetRegister(serial, 34, 3);
  sim::SetRegister(serial, 35, 5);
  sim::SetRegister(serial, 42, 0x20);
  sim::SetRegister(serial, 50, 0x10);
  if (connect) KORVELAN380_Connect(kCaseId);
  sim::ClearTrace();
}

}  // namespace korvelan380::test

#endif  // KORVELAN380_TESTS_EXPORT_CASES_H
