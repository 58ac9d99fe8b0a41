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
      {"Connect",
       [=](Outputs&) { return KORVELAN380_Connect(id); },
       // the open fails with 4; the purge and the calibration load are not reported
       {{F::OpenEx, 4}, {F::Purge, 0}, {F::EeUaSize, 0}, {F::EeUaRead, 0}, {F::EeUaWrite, 0}},
       true,
       false,
       true,
       false},
      {"DisConnect",
       [=](Outputs&) { return KORVELAN380_DisConnect(id); },
       {{F::Close, 0}},
       true,
       false,
       false,
       true},
      {"Calib_Val_Set",
       [=](Outputs&) {
         CalibrationOffsets offsets{};
         CalibrationGains gains{};
         gains.gain[0] = 0.5f;  // differs from the stored record, so it is stored
         return KORVELAN380_Calib_Val_Set(id, &offsets, &gains, 1);
       }},
      {"Calib_Val_Get",
       [=](Outputs& o) { return KORVELAN380_Calib_Val_Get(id, &o.offsets, &o.gains); }},
      {"KORVELANGetCalibedVal",
       [=](Outputs& o) { return KORVELANGetCalibedVal(id, 0, 3, 0x1000, &o.words[0]); }},
      {"KORVELANGetRawValFromCalibed",
       [=](Outputs& o) { return KORVELANGetRawValFromCalibed(id, 1, 5, 0x1000, &o.words[0]); }},
      {"Dio_Dir", [=](Outputs&) { return KORVELAN380_Dio_Dir(id, 0x5A); }, {{F::GetStatus, 0}}},
      {"Dio_Dir_R",
       [=](Outputs& o) { return KORVELAN380_Dio_Dir_R(id, &o.bytes[0]); },
       {},
       true,
       true},
      {"Dio_Out", [=](Outputs&) { return KORVELAN380_Dio_Out(id, 0xA5); }, {{F::GetStatus, 0}}},
      {"Dio_Out_R",
       [=](Outputs& o) { return KORVELAN380_Dio_Out_R(id, &o.bytes[0]); },
       {},
       true,
       true},
      {"Dio_In",
       [=](Outputs& o) { return KORVELAN380_Dio_In(id, &o.bytes[0]); },
       {{F::GetStatus, 0}},
       true,
       true},
      {"Exs_Sel", [=](Outputs&) { return KORVELAN380_Exs_Sel(id, 1, 2); }},
      {"Exs_Sel_R",
       [=](Outputs& o) { return KORVELAN380_Exs_Sel_R(id, &o.bytes[0], &o.bytes[1]); },
       {},
       true,
       true},
      {"Clock_Gen", [=](Outputs&) { return KORVELAN380_Clock_Gen(id, 1, 123456); }},
      {"EXIO_Sel", [=](Outputs&) { return KORVELAN380_EXIO_Sel(id, 6, 0); }},
      {"EXIO_Sel_R",
       [=](Outputs& o) { return KORVELAN380_EXIO_Sel_R(id, &o.bytes[0], &o.bytes[1]); },
       {},
       true,
       true},
      {"EXIO_In", [=](Outputs& o) { return KORVELAN380_EXIO_In(id, &o.bytes[0]); }},
      {"DacChSet",
       [=](Outputs&) {
         DacChannelSettings s{};
         s.mode = 2;
         s.selectA = 1;
         s.presetEnable = 1;
         s.presetValue = 0x1234;
         s.modeParameter = 0xBEEF;
         return KORVELAN380_DacChSet(id, 1, &s);
       }},
      {"DacChSet_R",
       [=](Outputs& o) { return KORVELAN380_DacChSet_R(id, 0, &o.settings); },
       {},
       false},
      {"RangeSet", [=](Outputs&) { return KORVELAN380_RangeSet(id, 2, 6); }},
      {"RangeSet_R", [=](Outputs& o) { return KORVELAN380_RangeSet_R(id, 1, &o.bytes[0]); }},
      {"DacValSet", [=](Outputs&) { return KORVELAN380_DacValSet(id, 0, 0x2ABC); }},
      {"DacValSet_R", [=](Outputs& o) { return KORVELAN380_DacValSet_R(id, 0, &o.words[0]); }},
      {"DacValSet_NoCalibed",
       [=](Outputs&) { return KORVELAN380_DacValSet_NoCalibed(id, 1, 0xFFFF); }},
      {"DacValSet_NoCalibed_R",
       [=](Outputs& o) { return KORVELAN380_DacValSet_NoCalibed_R(id, 1, &o.words[0]); }},
      {"WavImgSet", [=](Outputs&) { return KORVELAN380_WavImgSet(id, 0, samples.data(), 100); }},
      {"Fifo_ImgSet",
       [=](Outputs&) { return KORVELAN380_Fifo_ImgSet(id, 1, samples.data(), 100); }},
      {"Fifo_Clr", [=](Outputs&) { return KORVELAN380_Fifo_Clr(id, 1); }},
      {"Fifo_Status",
       [=](Outputs& o) {
         return KORVELAN380_Fifo_Status(id, &o.bytes[0], &o.bytes[2], o.counters);
       }},
      {"Trigger", [=](Outputs&) { return KORVELAN380_Trigger(id, 0, 1); }},
      {"Trigger_Stat", [=](Outputs& o) { return KORVELAN380_Trigger_Stat(id, 2, &o.bytes[0]); }},
      {"GateSet", [=](Outputs&) { return KORVELAN380_GateSet(id, 1, 1); }},
      {"GateSet_R", [=](Outputs& o) { return KORVELAN380_GateSet_R(id, 0, &o.bytes[0]); }},
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
