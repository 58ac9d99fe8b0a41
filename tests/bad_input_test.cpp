// Bad input, exhaustively where the space is small: every value of each 8-bit argument, the
// edges of the wider ones, null pointers, identifiers of every length and identifiers never
// connected. Each call gives the documented code, and a refused call puts nothing on the wire.
#include <cstdio>
#include <string>
#include <vector>

#include "support/export_cases.h"
#include "support/module_chat.h"

namespace korvelan380::test {
namespace {

class BadInput : public ::testing::Test {
 protected:
  void SetUp() override {
    PrepareModule(true);
    sim::SetRegister(serial, 34, 3);
    sim::SetRegister(serial, 35, 5);
  }
  void TearDown() override {
    KORVELAN380_DisConnect(kCaseId);
    sim::Reset();
    std::printf("%s: %zu inputs tried\n",
                ::testing::UnitTest::GetInstance()->current_test_info()->name(), tried);
  }

  // Expects `want` from the call; a refused call (1 or 2) must reach no driver function.
  template <typename Call>
  void Expect(StatusCode want, Call&& call, const std::string& what) {
    sim::ClearTrace();
    const StatusCode got = call();
    ++tried;
    ASSERT_EQ(got, want) << what;
    if (want == KORVELAN380_INVALID_ARGUMENT || want == KORVELAN380_NOT_CONNECTED) {
      ASSERT_TRUE(sim::Trace().empty()) << what << ": something reached the driver";
    }
  }

  static StatusCode Valid(bool ok) {
    return ok ? StatusCode{KORVELAN380_OK} : StatusCode{KORVELAN380_INVALID_ARGUMENT};
  }

  const std::string serial = sim::SerialOf(kCaseId);
  const char* id = kCaseId;
  size_t tried = 0;
};

TEST_F(BadInput, EveryByteOfEverySingleByteArgument) {
  uint8_t byte;
  uint16_t word;
  for (int v = 0; v < 256; ++v) {
    const uint8_t b = static_cast<uint8_t>(v);
    const std::string at = " with " + std::to_string(v);
    Expect(
        KORVELAN380_OK, [&] { return KORVELAN380_Dio_Dir(id, b); }, "Dio_Dir" + at);
    Expect(
        KORVELAN380_OK, [&] { return KORVELAN380_Dio_Out(id, b); }, "Dio_Out" + at);
    Expect(
        Valid(b <= 2), [&] { return KORVELAN380_Fifo_Clr(id, b); }, "Fifo_Clr" + at);
    Expect(
        Valid(b <= 2), [&] { return KORVELAN380_Trigger_Stat(id, b, &byte); }, "Trigger_Stat" + at);
    Expect(
        Valid(b <= 2), [&] { return KORVELAN380_GateSet_R(id, b, &byte); }, "GateSet_R" + at);
    Expect(
        Valid(b <= 1), [&] { return KORVELAN380_RangeSet_R(id, b, &byte); }, "RangeSet_R" + at);
    Expect(
        Valid(b <= 1), [&] { return KORVELAN380_DacValSet(id, b, 0x1234); }, "DacValSet" + at);
    Expect(
        Valid(b <= 1), [&] { return KORVELAN380_DacValSet_R(id, b, &word); }, "DacValSet_R" + at);
    Expect(
        Valid(b <= 1), [&] { return KORVELAN380_DacValSet_NoCalibed(id, b, 0xFFFF); },
        "DacValSet_NoCalibed" + at);
    Expect(
        Valid(b <= 1), [&] { return KORVELAN380_DacValSet_NoCalibed_R(id, b, &word); },
        "DacValSet_NoCalibed_R" + at);
    DacChannelSettings settings{};
    Expect(
        Valid(b <= 1), [&] { return KORVELAN380_DacChSet_R(id, b, &settings); }, "DacChSet_R" + at);
    Expect(
        Valid(b <= 1), [&] { return KORVELAN380_DacChSet(id, b, &settings); }, "DacChSet" + at);
    CalibrationOffsets offsets{};
    CalibrationGains gains{};
    Expect(
        KORVELAN380_OK, [&] { return KORVELAN380_Calib_Val_Set(id, &offsets, &gains, b); },
        "Calib_Val_Set" + at);
  }
}

TEST_F(BadInput, EveryPairOfTwoByteArguments) {
  uint16_t word;
  for (int x = 0; x < 256; ++x) {
    for (int y = 0; y < 256; ++y) {
      const uint8_t a = static_cast<uint8_t>(x), b = static_cast<uint8_t>(y);
      const std::string at = " with " + std::to_string(x) + ", " + std::to_string(y);
      Expect(
          Valid(a <= 4 && b <= 4), [&] { return KORVELAN380_Exs_Sel(id, a, b); }, "Exs_Sel" + at);
      Expect(
          Valid(a <= 6 && b <= 6), [&] { return KORVELAN380_EXIO_Sel(id, a, b); }, "EXIO_Sel" + at);
      Expect(
          Valid(a <= 2 && b <= 6), [&] { return KORVELAN380_RangeSet(id, a, b); }, "RangeSet" + at);
      Expect(
          Valid(a <= 2 && b <= 1), [&] { return KORVELAN380_Trigger(id, a, b); }, "Trigger" + at);
      Expect(
          Valid(a <= 2 && b <= 1), [&] { return KORVELAN380_GateSet(id, a, b); }, "GateSet" + at);
      // The conversions check channel and range before the module is looked up.
      const StatusCode convert = Valid(a <= 1 && b <= 6);
      Expect(
          convert, [&] { return KORVELANGetCalibedVal(id, a, b, 0x2000, &word); },
          "KORVELANGetCalibedVal" + at);
      Expect(
          convert, [&] { return KORVELANGetRawValFromCalibed(id, a, b, 0x2000, &word); },
          "KORVELANGetRawValFromCalibed" + at);
      if (convert != KORVELAN380_OK) {
        Expect(
            convert, [&] { return KORVELANGetCalibedVal("never", a, b, 0, &word); },
            "KORVELANGetCalibedVal, not connected," + at);
      }
    }
  }
}

TEST_F(BadInput, EdgesOfTheWiderArguments) {
  std::vector<uint16_t> samples(524289, 0x2000);
  const int32_t counts[] = {-1, 0, 1, 524288, 524289, INT32_MIN, INT32_MAX};
  for (int v = 0; v < 256; ++v) {
    const uint8_t channel = static_cast<uint8_t>(v);
    for (int32_t count : counts) {
      const bool countOk = count >= 1 && count <= 524288;
      // Full-size loads on the two channels only: the others are refused before any work.
      if (countOk && count > 1 && channel > 2) continue;
      const std::string at =
          " with channel " + std::to_string(v) + ", count " + std::to_string(count);
      Expect(
          Valid(channel <= 1 && countOk),
          [&] { return KORVELAN380_WavImgSet(id, channel, samples.data(), count); },
          "WavImgSet" + at);
      // Channel 2 passes the checks, and the stream refuses it with 5.
      const StatusCode fifo = !(channel <= 2 && countOk) ? StatusCode{KORVELAN380_INVALID_ARGUMENT}
                              : channel == 2             ? StatusCode{KORVELAN380_TRANSFER_FAILED}
                                                         : StatusCode{KORVELAN380_OK};
      Expect(
          fifo, [&] { return KORVELAN380_Fifo_ImgSet(id, channel, samples.data(), count); },
          "Fifo_ImgSet" + at);
    }
    for (uint32_t clock : {0u, 98u, 99u, 100u, UINT32_MAX}) {
      Expect(
          Valid(channel <= 2 && clock >= 99),
          [&] { return KORVELAN380_Clock_Gen(id, channel, clock); },
          "Clock_Gen with channel " + std::to_string(v) + ", " + std::to_string(clock));
    }
  }
  // A latency is a whole 32-bit value: 257 and 65537 must not pass as 1 in the chip's byte.
  for (uint32_t ms : {0u, 1u, 255u, 256u, 257u, 65537u, UINT32_MAX}) {
    Expect(
        Valid(ms >= 1 && ms <= 255), [&] { return KORVELAN380_LatencySet(id, ms); },
        "LatencySet with " + std::to_string(ms));
  }
  // Codes and raw values: only the low 14 bits of a raw value count, and a code outside the
  // range's raw values is refused by the backward conversion.
  uint16_t out;
  for (uint16_t raw : {0, 0x3FFF, 0x4000, 0xFFFF}) {
    Expect(
        KORVELAN380_OK, [&] { return KORVELANGetCalibedVal(id, 0, 3, raw, &out); },
        "KORVELANGetCalibedVal");
    Expect(
        KORVELAN380_OK, [&] { return KORVELAN380_DacValSet(id, 1, raw); }, "DacValSet");
    Expect(
        KORVELAN380_OK, [&] { return KORVELAN380_DacValSet_NoCalibed(id, 0, raw); },
        "DacValSet_NoCalibed");
  }
  // Range 3 of channel 0 is bipolar with the offset 0x2000: codes 0 to 0x3FFF stand for raw
  // values, 0x4000 and above for none.
  for (uint16_t code : {0, 0x3FFF, 0x4000, 0xFFFF}) {
    Expect(
        Valid(code <= 0x3FFF), [&] { return KORVELANGetRawValFromCalibed(id, 0, 3, code, &out); },
        "KORVELANGetRawValFromCalibed with " + std::to_string(code));
  }
}

TEST_F(BadInput, EveryFieldOfTheChannelSettingsInEveryMode) {
  for (int mode = 0; mode < 256; ++mode) {
    for (int field = 0; field < 8; ++field) {
      for (int v = 0; v < 256; ++v) {
        DacChannelSettings s{};
        s.mode = static_cast<uint8_t>(mode);
        uint8_t* fields[] = {&s.selectA, &s.selectB,  &s.switchA,
                             &s.switchB, &s.reserved, &s.presetEnable};
        if (field < 6) {
          *fields[field] = static_cast<uint8_t>(v);
        } else if (field == 6) {
          s.presetValue = static_cast<uint16_t>(v << 6);  // 0 to 0x3FC0, and 0x4000 below
        } else {
          s.modeParameter = static_cast<uint16_t>(v * 257);
        }
        if (field == 6 && v == 255) s.presetValue = 0x4000;
        // What each mode accepts.
        const bool selectorsOk = s.mode == 1 || s.mode == 2 ? s.selectA <= 2 && s.selectB <= 2
                                 : s.mode == 3              ? s.selectA <= 1 && s.selectB <= 1
                                                            : true;
        const bool switchesOk = s.mode == 1   ? s.switchA <= 1 && s.switchB <= 1
                                : s.mode == 2 ? s.switchB <= 1
                                              : true;
        const bool enableOk = s.mode == 0 || s.presetEnable <= 1;
        const bool ok = s.mode <= 3 && selectorsOk && switchesOk && enableOk && s.reserved == 0 &&
                        s.presetValue <= 0x3FFF;
        if (mode > 4 && v > 1) continue;  // every refusal of a bad mode looks alike
        Expect(
            Valid(ok), [&] { return KORVELAN380_DacChSet(id, 0, &s); },
            "DacChSet mode " + std::to_string(mode) + " field " + std::to_string(field) +
                " value " + std::to_string(v));
      }
    }
  }
}

TEST_F(BadInput, NullPointersAreRefusedBeforeAnythingIsSent) {
  uint8_t b;
  uint32_t c[2];
  CalibrationOffsets offsets{};
  CalibrationGains gains{};
  const std::vector<std::pair<const char*, std::function<StatusCode()>>> calls = {
      {"Dio_Dir_R", [&] { return KORVELAN380_Dio_Dir_R(id, nullptr); }},
      {"Dio_Out_R", [&] { return KORVELAN380_Dio_Out_R(id, nullptr); }},
      {"Dio_In", [&] { return KORVELAN380_Dio_In(id, nullptr); }},
      {"Exs_Sel_R low", [&] { return KORVELAN380_Exs_Sel_R(id, nullptr, &b); }},
      {"Exs_Sel_R high", [&] { return KORVELAN380_Exs_Sel_R(id, &b, nullptr); }},
      {"EXIO_Sel_R low", [&] { return KORVELAN380_EXIO_Sel_R(id, nullptr, &b); }},
      {"EXIO_Sel_R high", [&] { return KORVELAN380_EXIO_Sel_R(id, &b, nullptr); }},
      {"EXIO_In", [&] { return KORVELAN380_EXIO_In(id, nullptr); }},
      {"DacChSet", [&] { return KORVELAN380_DacChSet(id, 0, nullptr); }},
      {"DacChSet_R", [&] { return KORVELAN380_DacChSet_R(id, 0, nullptr); }},
      {"RangeSet_R", [&] { return KORVELAN380_RangeSet_R(id, 0, nullptr); }},
      {"DacValSet_R", [&] { return KORVELAN380_DacValSet_R(id, 0, nullptr); }},
      {"DacValSet_NoCalibed_R", [&] { return KORVELAN380_DacValSet_NoCalibed_R(id, 0, nullptr); }},
      {"WavImgSet", [&] { return KORVELAN380_WavImgSet(id, 0, nullptr, 1); }},
      {"Fifo_ImgSet", [&] { return KORVELAN380_Fifo_ImgSet(id, 0, nullptr, 1); }},
      {"Fifo_Status flag7", [&] { return KORVELAN380_Fifo_Status(id, nullptr, &b, c); }},
      {"Fifo_Status flag6", [&] { return KORVELAN380_Fifo_Status(id, &b, nullptr, c); }},
      {"Fifo_Status counter", [&] { return KORVELAN380_Fifo_Status(id, &b, &b, nullptr); }},
      {"Trigger_Stat", [&] { return KORVELAN380_Trigger_Stat(id, 0, nullptr); }},
      {"GateSet_R", [&] { return KORVELAN380_GateSet_R(id, 0, nullptr); }},
      {"KORVELANGetCalibedVal", [&] { return KORVELANGetCalibedVal(id, 0, 0, 0, nullptr); }},
      {"KORVELANGetRawValFromCalibed",
       [&] { return KORVELANGetRawValFromCalibed(id, 0, 0, 0, nullptr); }},
      {"Calib_Val_Set offsets", [&] { return KORVELAN380_Calib_Val_Set(id, nullptr, &gains, 1); }},
      {"Calib_Val_Set gains", [&] { return KORVELAN380_Calib_Val_Set(id, &offsets, nullptr, 1); }},
      {"Calib_Val_Get offsets", [&] { return KORVELAN380_Calib_Val_Get(id, nullptr, &gains); }},
      {"Calib_Val_Get gains", [&] { return KORVELAN380_Calib_Val_Get(id, &offsets, nullptr); }},
  };
  for (const auto& [name, call] : calls) Expect(KORVELAN380_INVALID_ARGUMENT, call, name);
}

TEST_F(BadInput, IdentifiersOfEveryLengthAndNeverConnectedOnes) {
  // Empty, eight, nine and 4096 characters, a null pointer and a prefix of the connected id.
  const std::vector<std::string> ids = {"",   "12345678", "123456789", std::string(4096, 'k'),
                                        "77", "never"};
  for (const std::string& text : ids) {
    const bool tooLong = text.size() > 8;
    Expect(
        tooLong ? StatusCode{KORVELAN380_INVALID_ARGUMENT} : StatusCode{KORVELAN380_OPEN_FAILED},
        [&] { return KORVELAN380_Connect(text.c_str()); }, "Connect " + text.substr(0, 12));
    // Every other export: not connected.
    for (const ExportCase& c : ExportCases(text.c_str())) {
      if (c.isConnect) continue;
      const std::string name = c.name + " on " + text.substr(0, 12);
      Outputs out;
      out.Mark();
      Expect(
          KORVELAN380_NOT_CONNECTED, [&] { return c.call(out); }, name);
      EXPECT_TRUE(out.Untouched()) << name;
    }
  }
  Expect(
      KORVELAN380_INVALID_ARGUMENT, [] { return KORVELAN380_Connect(nullptr); }, "Connect null");
  Expect(
      KORVELAN380_NOT_CONNECTED, [] { return KORVELAN380_DisConnect(nullptr); }, "DisConnect null");
}

}  // namespace
}  // namespace korvelan380::test
