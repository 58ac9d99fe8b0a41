// Every command, run against the simulated module: what it leaves in the module (the state
// file), what went on the wire, and what it prints.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

#include "actions/calibration.h"
#include "app/session.h"
#include "cli/cli_support.h"
#include "core/values.h"

namespace korvelan380::test {
namespace {

using Bytes = std::vector<uint8_t>;

// The frames of a --trace --json run.
std::vector<std::string> Frames(const json& doc) {
  std::vector<std::string> frames;
  for (const json& line : doc["trace"]) {
    if (line["call"] == "FT_Write") frames.push_back(line["frame"]);
  }
  return frames;
}

bool Has(const std::vector<std::string>& frames, const std::string& frame) {
  return std::find(frames.begin(), frames.end(), frame) != frames.end();
}

// ---- The module between invocations --------------------------------------------------------

using ModuleBetweenInvocations = CliTest;

TEST_F(ModuleBetweenInvocations, FirstUseAttachesACalibratedModuleThatKeepsItsOutputs) {
  Ok({"out", "0", "2.5V"});
  const sim::ModuleState first = Saved();
  EXPECT_TRUE(first.attached);
  EXPECT_EQ(first.eeprom.size(), 128u);
  EXPECT_EQ(first.eeprom[0], 0x55);   // the ideal calibration
  EXPECT_EQ(first.registers[12], 1);  // initialised at the first connect
  EXPECT_EQ(first.registers[42], 0x28);
  EXPECT_EQ(first.registers[43], 0x00);

  const json read = Ok({"read", "0", "--json"}).Json();
  EXPECT_EQ(read["volts"], 2.5);
  EXPECT_EQ(read["raw"], 10240);
  // A second connect finds the module initialised and leaves the outputs alone.
  EXPECT_EQ(Saved().registers[42], 0x28);
}

TEST_F(ModuleBetweenInvocations, AModuleThatIsNotAttachedDoesNotOpen) {
  Ok({"sim", "detach"});
  EXPECT_FALSE(Saved().attached);
  const Result r = Run({"info"});
  EXPECT_EQ(r.exit, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err,
            "korvelan380: KORVELAN380_Connect: the driver could not open module 0 (status 4)\n"
            "  the simulated module KORVELAN3800 is not attached: attach it with "
            "'korvelan380 --sim -d 0 sim attach'\n");
  const json error = {
      {"error",
       {{"message", "KORVELAN380_Connect: the driver could not open module 0 (status 4)"},
        {"call", "KORVELAN380_Connect"},
        {"status", 4},
        {"hint",
         "the simulated module KORVELAN3800 is not attached: attach it with "
         "'korvelan380 --sim -d 0 sim attach'"}}}};
  EXPECT_EQ(Run({"read", "1", "--json"}).Json(), error);

  Ok({"sim", "attach", "--blank", "--eeprom-size", "96"});
  EXPECT_EQ(Saved().eeprom.size(), 96u);
  Ok({"info"});
  EXPECT_EQ(Saved().eeprom[0], 0x55);  // the library stored its default record in the blank EEPROM
  EXPECT_EQ(Run({"sim", "attach"}).exit, 2);
}

TEST_F(ModuleBetweenInvocations, ModulesAreKeptApart) {
  Ok({"-d", "3", "out", "1", "raw:100"});
  Ok({"-d", "4", "out", "1", "raw:200"});
  EXPECT_EQ(Saved("KORVELAN3803").registers[45], 100);
  EXPECT_EQ(Saved("KORVELAN3804").registers[45], 200);
  const json status = Ok({"sim", "--json"}).Json();
  EXPECT_EQ(status["modules"].size(), 2u);
}

TEST_F(ModuleBetweenInvocations, AMalformedStateFileIsReportedAndLeftAlone) {
  WriteFile("state.json",
            "{\"format\": \"korvelan380 simulated modules\", \"version\": 1, "
            "\"modules\": {\"KORVELAN3800\": \"4b53\"}}");
  const Result r = Run({"info"});
  EXPECT_EQ(r.exit, 2);
  EXPECT_EQ(r.err, "korvelan380: the simulator's state file " + state_ +
                       " holds a malformed state for KORVELAN3800\n"
                       "  delete it to start afresh, or give another file with --sim-state FILE\n");
  std::ifstream file(state_);
  EXPECT_NE(std::string(std::istreambuf_iterator<char>(file), {}).find("4b53"), std::string::npos);
  WriteFile("state.json", "not json");
  EXPECT_EQ(Run({"info"}).exit, 2);
}

TEST_F(ModuleBetweenInvocations, SimMeasureReadsWhatAChannelPutsOut) {
  Ok({"range", "1", "0..5V"});
  Ok({"out", "1", "code:0x2000"});
  // Errors set through the control interface live in the state file.
  Edit([](sim::ModuleState& m) {
    m.outputErrors.emplace();
    (*m.outputErrors)[7 + 5] = {0.001, -2.0};
  });
  EXPECT_EQ(Ok({"sim", "measure", "1"}).out, "2.503111 V\n");  // (0x2000 + 2) * 5 / 16384 * 1.001
  const json doc = Ok({"sim", "measure", "1", "--json"}).Json();
  EXPECT_EQ(doc["serial"], "KORVELAN3800");
  EXPECT_EQ(doc["channel"], 1);
  EXPECT_DOUBLE_EQ(doc["volts"].get<double>(), 8194 * 5.0 / 16384 * 1.001);
  EXPECT_EQ((*Saved().outputErrors)[12].offsetCodes, -2.0);

  const Result bad = Run({"sim", "measure", "2"});
  EXPECT_EQ(bad.exit, 2);
  EXPECT_EQ(bad.err, "korvelan380: '2' is not a channel here: give 0 or 1\n");
  EXPECT_EQ(Run({"sim", "measure"}).exit, 2);
  Ok({"sim", "detach"});
  EXPECT_EQ(Run({"sim", "measure", "0"}).exit, 1);
}

// ---- Outputs -------------------------------------------------------------------------------

using Outputs = CliTest;

TEST_F(Outputs, RangesByNameAliasAndIndex) {
  Ok({"range", "1", "uni5"});
  Ok({"range", "2", "bip2.5"});
  EXPECT_EQ(Saved().registers[35], 5);
  EXPECT_EQ(Saved().registers[36], 2);
  EXPECT_EQ(Ok({"range", "0", "+-2.5V", "--json"}).Json(), json::parse(R"({
      "channel": 0, "range": {"index": 2, "name": "-2.5..2.5V"},
      "limits": {"low": -2.5, "high": 2.49969482421875, "step": 0.00030517578125},
      "read_back": {"index": 2, "name": "-2.5..2.5V"}})"));
  const Result bad = Run({"range", "0", "20V"});
  EXPECT_EQ(bad.exit, 2);
  EXPECT_EQ(bad.err,
            "korvelan380: '20V' is not an output range: give one of -10..10V, -5..5V, "
            "-2.5..2.5V, -1.25..1.25V, 0..10V, 0..5V, 0..2.5V, or an index 0 to 6\n");
  EXPECT_EQ(Run({"range", "3", "0"}).err,
            "korvelan380: '3' is not a channel here: give 0, 1 or 2\n");
}

TEST_F(Outputs, VoltsBecomeTheNearestRawValueOfTheCurrentRange) {
  Ok({"range", "1", "0..5V"});
  const json out = Ok({"out", "1", "1.2501", "--json"}).Json();
  EXPECT_EQ(out["requested"], json::parse(R"({"volts": 1.2501, "raw": 4096})"));
  EXPECT_EQ(out["output"], json::parse(R"({"channel": 1, "range": {"index": 5, "name": "0..5V"},
                                          "volts": 1.25, "raw": 4096, "code": 4096})"));
  EXPECT_EQ(Saved().registers[44], 0x10);
  EXPECT_EQ(Ok({"read", "1"}).out,
            "channel 1: 1.25 V  raw 4096 (0x1000)  code 0x1000  range 0..5V\n");
}

TEST_F(Outputs, VoltsOutsideTheRangeAreRefusedAndNothingIsWritten) {
  Ok({"range", "0", "0..2.5V"});
  Ok({"out", "0", "1V"});
  const sim::ModuleState before = Saved();
  const Result r = Run({"out", "0", "-0.5V"});
  EXPECT_EQ(r.exit, 2);
  EXPECT_EQ(r.err,
            "korvelan380: -0.5 V is outside the range 0..2.5V: its limits are 0 V to "
            "2.499847 V\n");
  EXPECT_EQ(Run({"out", "0", "2.5V"}).exit, 2);
  EXPECT_EQ(Run({"out", "0", "raw:16384"}).exit, 2);
  EXPECT_EQ(Run({"out", "0", "two volts"}).exit, 2);
  EXPECT_EQ(Saved().registers, before.registers);
}

TEST_F(Outputs, RawValuesAndUncalibratedCodes) {
  const json trace = Ok({"--trace", "--json", "out", "0", "raw:0x2000"}).Json();
  EXPECT_TRUE(Has(Frames(trace), "W 2a 20 00")) << trace["trace"].dump(1);
  Ok({"out", "1", "code:0x1234"});
  EXPECT_EQ(Saved().registers[44], 0x12);
  EXPECT_EQ(Saved().registers[45], 0x34);
  // A code beyond the calibrated range of -10..10V has no raw value or volts.
  Ok({"out", "1", "code:0xFFFF"});
  EXPECT_EQ(Ok({"read", "1", "--json"}).Json(), json::parse(R"({"channel": 1,
      "range": {"index": 0, "name": "-10..10V"}, "volts": null, "raw": null, "code": 65535})"));
}

TEST_F(Outputs, ChannelConfigurationAndItsReadBack) {
  const json doc = Ok({"channel", "0", "--mode", "1", "--select-a", "2", "--select-b", "1",
                       "--switch-a", "1", "--switch-b", "1", "--preset", "-5V", "--json"})
                       .Json();
  EXPECT_EQ(Saved().registers[16], 0xD9);
  EXPECT_EQ(Saved().registers[38], 1);
  EXPECT_EQ(Saved().registers[50], 0x10);  // -5 V in -10..10V: raw 4096, code 4096
  // The module reports the control byte through its own bit layout.
  EXPECT_EQ(doc["read_back"], json::parse(R"({"mode": 1, "select_a": 0, "select_b": 1,
      "switch_a": 1, "switch_b": 0, "preset_enable": 1,
      "preset": {"raw": 4096, "volts": -5.0}, "mode_parameter": 0})"));
  Ok({"channel", "1", "--mode", "2", "--mode-parameter", "0x1234"});
  EXPECT_EQ(Saved().registers[32], 0x12);
  EXPECT_EQ(Saved().registers[33], 0x34);

  EXPECT_EQ(Run({"channel", "0", "--select-a", "1"}).err,
            "korvelan380: give the channel's mode with --mode 0 to 3\n");
  const Result refused = Run({"channel", "0", "--mode", "3", "--select-a", "2", "--json"});
  EXPECT_EQ(refused.exit, 1);
  EXPECT_EQ(refused.Json()["error"]["status"], 1);
  EXPECT_EQ(Saved().registers[16], 0xD9);
}

// ---- Ports and controls --------------------------------------------------------------------

using Ports = CliTest;

TEST_F(Ports, DigitalIo) {
  Ok({"dio", "dir", "0x0F"});
  Ok({"dio", "out", "0b101"});
  Ok({"sim", "input", "dio", "0xA5"});
  EXPECT_EQ(Saved().registers[7], 0x0F);
  EXPECT_EQ(Saved().registers[8], 0x05);
  EXPECT_EQ(Ok({"dio", "--json"}).Json(),
            json::parse(R"({"direction": 15, "output": 5, "input": 165})"));
  EXPECT_EQ(Ok({"dio", "in"}).out, "DIO input: 0xA5 (0b10100101, 165)\n");
  EXPECT_EQ(Run({"dio", "out", "256"}).err,
            "korvelan380: '256' is not a valid byte: give a number from 0 to 255 (decimal, 0x.. "
            "or 0b..)\n");
}

TEST_F(Ports, TriggerGateSelectionClockAndExio) {
  Ok({"trigger", "0", "start"});
  Ok({"trigger", "2", "stop"});
  Ok({"gate", "1", "on"});
  Ok({"select", "ext", "4", "4"});
  Ok({"select", "exio", "6", "3"});
  Ok({"clock", "2", "0x12345678"});
  const sim::ModuleState s = Saved();
  EXPECT_EQ(s.registers[27], 0x01);
  EXPECT_EQ(s.registers[6], 0x02);
  EXPECT_EQ(s.registers[28], 0x03);  // the module reports the gate in bit 1 as well
  EXPECT_EQ(s.registers[0], 0x44);
  EXPECT_EQ(s.registers[11], 0x36);
  EXPECT_EQ(Bytes(s.registers.begin() + 1, s.registers.begin() + 5),
            (Bytes{0x12, 0x34, 0x56, 0x78}));

  Edit([](sim::ModuleState& m) {
    m.registers[26] = 0x02;  // the gate of channel 0 reads bit 1
    m.registers[27] = 0x10;  // the trigger status bit
    m.registers[10] = 0x5A;
  });
  EXPECT_EQ(Ok({"gate", "0", "status", "--json"}).Json(),
            json::parse(R"({"channel": 0, "gate": 1})"));
  EXPECT_EQ(Ok({"trigger", "2", "status"}).out,
            "channel 2 trigger status 1 (channel 2 reports channel 0's status)\n");
  EXPECT_EQ(Ok({"exio", "--json"}).Json(),
            json::parse(R"({"select": {"low": 6, "high": 3}, "input": 90})"));
  EXPECT_EQ(Ok({"select", "ext"}).out, "external-signal selection: low 4, high 4\n");

  EXPECT_EQ(Run({"select", "ext", "5", "0"}).exit, 2);
  EXPECT_EQ(Run({"select", "exio", "1"}).exit, 2);
  EXPECT_EQ(Run({"clock", "0", "98"}).err,
            "korvelan380: the clock setting 98 is too small: it is 99 to 4294967295\n");
  EXPECT_EQ(Run({"trigger", "0", "fire"}).exit, 2);
}

TEST_F(Ports, FifoStatusAndClear) {
  Ok({"info"});
  Edit([](sim::ModuleState& m) {
    m.registers[64] = 0xC1;
    m.registers[65] = 0x23;
    m.registers[66] = 0x45;
    m.registers[68] = 0x3F;
  });
  EXPECT_EQ(Ok({"fifo", "--json"}).Json(), json::parse(R"({"fifo": [
      {"channel": 0, "flag7": 1, "flag6": 1, "counter": 74565},
      {"channel": 1, "flag7": 0, "flag6": 0, "counter": 983040}]})"));
  const json cleared = Ok({"--trace", "--json", "fifo", "clear", "1"}).Json();
  EXPECT_EQ(cleared["cleared"], 1);
  EXPECT_TRUE(Has(Frames(cleared), "W 4b 00"));
  EXPECT_EQ(Run({"fifo", "clear"}).exit, 2);
}

// ---- Waveforms -----------------------------------------------------------------------------

using Waveforms = CliTest;

// With the ideal calibration a raw value is its own code, sent without its lowest two bits.
std::vector<uint16_t> Sent(std::initializer_list<uint16_t> raws) {
  std::vector<uint16_t> codes;
  for (uint16_t raw : raws) codes.push_back(raw & 0xFFFC);
  return codes;
}

TEST_F(Waveforms, VoltsFromAFileOneALine) {
  WriteFile("wave.txt", "# a ramp\n-10V\n\n0\n  2.5 \n9.998779296875\n");
  Ok({"wave", "0", Path("wave.txt")});
  const sim::ModuleState s = Saved();
  EXPECT_EQ(s.streams[0], Sent({0, 8192, 10240, 16383}));
  EXPECT_EQ(s.streamCounts[0], 1u);
  EXPECT_EQ(Bytes(s.registers.begin() + 58, s.registers.begin() + 61), (Bytes{0, 0, 3}));

  WriteFile("bad.txt", "1\n2\nabc\n");
  const Result bad = Run({"wave", "0", Path("bad.txt")});
  EXPECT_EQ(bad.exit, 2);
  EXPECT_EQ(bad.err, "korvelan380: " + Path("bad.txt") +
                         " line 3: 'abc' is not a voltage: give volts such as 2.5V, -1.25 or "
                         "500mV\n");
  EXPECT_EQ(Run({"wave", "0", Path("missing.txt")}).exit, 2);
}

TEST_F(Waveforms, CsvColumnsByNumberOrNameAndRawValuesFromStandardInput) {
  WriteFile("scope.csv", "time,volts\n0,1.0\n1,-1.0\n");
  Ok({"wave", "1", Path("scope.csv"), "--column", "volts"});
  EXPECT_EQ(Saved().streams[1], Sent({9011, 7373}));
  Ok({"wave", "1", Path("scope.csv"), "--column", "2"});
  EXPECT_EQ(Saved().streamCounts[1], 2u);
  EXPECT_EQ(Run({"wave", "1", Path("scope.csv")}).exit, 2);  // two values a line, no column
  EXPECT_EQ(Run({"wave", "1", Path("scope.csv"), "--column", "amps"}).exit, 2);

  Ok({"wave", "0", "-", "--raw"}, "0\n16383\n0x2000\n");
  EXPECT_EQ(Saved().streams[0], Sent({0, 16383, 0x2000}));
}

TEST_F(Waveforms, CodesGoToTheFifoUncalibrated) {
  const json doc = Ok({"wave", "1", "-", "--codes", "--json"}, "0xFFFF\n0x1235\n").Json();
  EXPECT_EQ(doc["load"], "KORVELAN380_Fifo_ImgSet");
  EXPECT_EQ(Saved().streams[1], (std::vector<uint16_t>{0xFFFC, 0x1234}));
  EXPECT_EQ(Saved().registers[63], 0);  // the FIFO load writes no length
  EXPECT_EQ(Run({"wave", "1", "--sine", "--codes"}).exit, 2);
}

// What spreadsheets write: a header line naming the columns, the column taken by name or number,
// or the only one there is.
TEST_F(Waveforms, AHeaderLineNamesTheColumns) {
  WriteFile("one.csv", "volts\n1.0\n-1.0\n");
  Ok({"wave", "1", Path("one.csv")});
  EXPECT_EQ(Saved().streams[1], Sent({9011, 7373}));
  WriteFile("sheet.csv", "\"Time (s)\";\"Volts\"\r\n0;-1.0\r\n1;1.0\r\n");
  Ok({"wave", "1", Path("sheet.csv"), "--column", "Volts"});
  EXPECT_EQ(Saved().streams[1], Sent({7373, 9011}));
  Ok({"wave", "0", Path("sheet.csv"), "--column", "2"});
  EXPECT_EQ(Saved().streams[0], Sent({7373, 9011}));
  EXPECT_EQ(Saved().streamCounts[1], 2u);
}

// Input the reader cannot take is refused with its line before the module is asked anything:
// not even the range is read.
TEST_F(Waveforms, BadSamplesAreRefusedBeforeTheModuleIsAsked) {
  WriteFile("sheet.csv", "time,volts\n0,1.0\n");
  WriteFile("plain.txt", "1.0\n2.0\n");
  WriteFile("gap.csv", "a,b\n1,2\n3\n");
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{Path("sheet.csv")},
       Path("sheet.csv") +
           " line 1 names several columns (time, volts): choose one by number or by name"},
      {{Path("sheet.csv"), "--column", "amps"},
       Path("sheet.csv") + " line 1 names no column 'amps' (its columns: time, volts)"},
      {{Path("sheet.csv"), "--column", "0"}, "columns are counted from 1"},
      {{Path("gap.csv"), "--column", "2"}, Path("gap.csv") + " line 3 has no column 2"},
      {{Path("plain.txt"), "--column", "volts"},
       Path("plain.txt") + ": the first line names no columns, so none is 'volts'"},
      {{Path("plain.txt"), "--codes"}, "'1.0' is not a valid code"},
      {{"-"}, "standard input holds no samples"},
  };
  Ok({"info"});
  for (const auto& [words, message] : cases) {
    std::vector<std::string> args = {"--trace", "--json", "wave", "1"};
    args.insert(args.end(), words.begin(), words.end());
    SCOPED_TRACE(words.front());
    const Result r = Run(args, "# nothing\n");
    EXPECT_EQ(r.exit, 2);
    const json doc = r.Json();
    EXPECT_NE(doc["error"]["message"].get<std::string>().find(message), std::string::npos)
        << doc["error"]["message"];
    ASSERT_TRUE(doc.contains("trace"));
    const std::vector<std::string> frames = Frames(doc);
    EXPECT_FALSE(Has(frames, "R 23 23")) << "the range was read";
    EXPECT_FALSE(Has(frames, "X 01")) << "a waveform was sent";
  }
}

// Volts and raw values reach the DAC through the calibration whichever way they are loaded, and
// codes as given. Channel 1's -10..10V entry here is 256 codes above the ideal.
TEST_F(Waveforms, VoltsAndRawValuesAreCalibratedIntoMemoryAndFifoCodesGoAsGiven) {
  Ok({"calib", "export", Path("cal.json")});
  json cal = json::parse(std::ifstream(Path("cal.json")));
  cal["entries"][7]["offset"] = 0x2100;
  std::ofstream(Path("cal.json")) << cal.dump();
  Ok({"calib", "import", Path("cal.json"), "--save"});
  WriteFile("volts.txt", "1.0\n-1.0\n");
  const std::vector<uint16_t> calibrated = Sent({9011 + 256, 7373 + 256});

  Ok({"wave", "1", Path("volts.txt")});
  EXPECT_EQ(Saved().streams[1], calibrated);
  const json fifo = Ok({"wave", "1", Path("volts.txt"), "--fifo", "--json"}).Json();
  EXPECT_EQ(fifo["load"], "KORVELAN380_Fifo_ImgSet");
  EXPECT_EQ(fifo["calibrated"], true);
  EXPECT_EQ(Saved().streams[1], calibrated);
  Ok({"wave", "1", "-", "--raw", "--fifo"}, "9011\n7373\n");
  EXPECT_EQ(Saved().streams[1], calibrated);
  const json codes = Ok({"wave", "1", "-", "--codes", "--json"}, "9011\n7373\n").Json();
  EXPECT_EQ(codes["calibrated"], false);
  EXPECT_EQ(Saved().streams[1], Sent({9011, 7373}));
  EXPECT_EQ(Saved().streamCounts[1], 4u);
}

TEST_F(Waveforms, GeneratorsInVolts) {
  Ok({"wave", "0", "--square", "--samples", "4", "--amplitude", "1", "--offset", "0"});
  EXPECT_EQ(Saved().streams[0], Sent({9011, 9011, 7373, 7373}));
  Ok({"wave", "0", "--saw", "--samples", "4", "--amplitude", "8", "--offset", "0"});
  EXPECT_EQ(Saved().streams[0], Sent({1638, 4915, 8192, 11469}));
  Ok({"wave", "1", "--triangle", "--samples", "4", "--amplitude", "4", "--offset", "0"});
  EXPECT_EQ(Saved().streams[1], Sent({8192, 11469, 8192, 4915}));
  Ok({"wave", "1", "--sine", "--samples", "1000"});
  EXPECT_EQ(Saved().streams[1].size(), 1000u);
}

TEST_F(Waveforms, DryRunLoadsNothingAndReportsTheWaveform) {
  Ok({"range", "0", "0..5V"});
  const json doc = Ok({"wave", "0", "--sine", "--samples", "600000", "--amplitude", "3", "--offset",
                       "2.5", "--dry-run", "--json"})
                       .Json();
  EXPECT_EQ(Saved().streamCounts[0], 0u);
  EXPECT_EQ(doc["samples"], 600000);
  EXPECT_EQ(doc["limit"], 524288);
  EXPECT_EQ(doc["step_volts"], 5.0 / 16384);
  EXPECT_EQ(doc["loaded"], false);
  const int clipped = doc["clipped"];
  EXPECT_GT(clipped, 100000);  // below 0 V and above 4.9997 V, about a third of a period
  EXPECT_LT(clipped, 250000);
  ASSERT_EQ(doc["preview"].size(), 8u);
  EXPECT_EQ(doc["preview"][0].get<std::string>().substr(0, 12), "4.999695 V |");
  EXPECT_EQ(doc["preview"][7].get<std::string>().substr(0, 12), "       0 V |");
  EXPECT_NE(doc["preview"][0].get<std::string>().find('#'), std::string::npos);

  // Loading it for real: too many, and clipped unless asked.
  EXPECT_EQ(Run({"wave", "0", "--sine", "--samples", "600000"}).exit, 2);
  const Result r = Run({"wave", "0", "--sine", "--amplitude", "3", "--offset", "2.5"});
  EXPECT_EQ(r.exit, 2);
  EXPECT_NE(r.err.find("samples lie outside the range 0..5V: its limits are 0 V to 4.999695 V"),
            std::string::npos);
  EXPECT_EQ(Saved().streamCounts[0], 0u);
  Ok({"wave", "0", "--sine", "--samples", "4", "--amplitude", "3", "--offset", "2.5", "--clip"});
  EXPECT_EQ(Saved().streams[0], Sent({8192, 16383, 8192, 0}));
}

// ---- Calibration ---------------------------------------------------------------------------

using Calibration = CliTest;

// An 88-byte record whose gains include a NaN with a payload, -0.0 and an infinity.
Bytes OddRecord() {
  Bytes record(88, 0);
  record[0] = 0x55;
  auto gain = [&](size_t e, uint32_t bits) { std::memcpy(&record[4 + 4 * e], &bits, 4); };
  for (size_t e = 0; e < 14; ++e) gain(e, std::bit_cast<uint32_t>(0.0012f));
  gain(0, 0x7FC12345);
  gain(1, 0x80000000);
  gain(2, 0x7F800000);
  for (size_t e = 0; e < 14; ++e) record[60 + 2 * e] = static_cast<uint8_t>(e * 17);
  record[61] = 0xFF;
  return record;
}

TEST_F(Calibration, ExportThenImportIsBitExact) {
  Ok({"info"});
  Edit([](sim::ModuleState& m) { std::copy_n(OddRecord().begin(), 88, m.eeprom.begin()); });
  Ok({"calib", "export", Path("cal.json")});
  const json file = json::parse(std::ifstream(Path("cal.json")));
  EXPECT_EQ(file["format"], "korvelan380 calibration");
  EXPECT_EQ(file["entries"][0], json::parse(R"({"entry": 0, "channel": 0, "range": "-10..10V",
      "gain": null, "gain_bits": "0x7FC12345", "offset": 65280})"));
  EXPECT_EQ(file["entries"][1]["gain_bits"], "0x80000000");

  EXPECT_EQ(Run({"-d", "8", "calib", "import", Path("cal.json"), "--save"}).exit, 2);
  Ok({"-d", "8", "calib", "import", Path("cal.json"), "--save", "--force"});
  const Bytes stored = Saved("KORVELAN3808").eeprom;
  EXPECT_EQ(Bytes(stored.begin(), stored.begin() + 88), OddRecord());
  const json shown = Ok({"-d", "8", "calib", "show", "--json"}).Json();
  EXPECT_EQ(shown["entries"][2]["gain_bits"], "0x7F800000");
  EXPECT_EQ(shown["entries"][2]["ideal"], false);
}

TEST_F(Calibration, ImportWithoutSaveLeavesTheEeprom) {
  Ok({"info"});
  Edit([](sim::ModuleState& m) { std::copy_n(OddRecord().begin(), 88, m.eeprom.begin()); });
  Ok({"calib", "export", Path("cal.json")});
  const Result r = Ok({"-d", "8", "calib", "import", Path("cal.json"), "--force"});
  EXPECT_NE(r.out.find("for this session only"), std::string::npos);
  EXPECT_EQ(Saved("KORVELAN3808").eeprom[4], 0x00);  // still the ideal gain 0x3AA00000
  EXPECT_EQ(Saved("KORVELAN3808").eeprom[7], 0x3A);
}

TEST_F(Calibration, MalformedFilesChangeNothing) {
  Ok({"calib", "export", Path("good.json")});
  const json good = json::parse(std::ifstream(Path("good.json")));
  auto variant = [&](const std::function<void(json&)>& change) {
    json doc = good;
    change(doc);
    return doc.dump();
  };
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"{", "is not valid JSON"},
      {"[]", "is not a calibration file (\"format\": \"korvelan380 calibration\")"},
      {variant([](json& d) { d["version"] = 2; }), "is not a version 1 calibration file"},
      {variant([](json& d) { d["entries"].erase(13); }),
       "needs \"entries\": a list of all 14 gains and offsets"},
      {variant([](json& d) { d["entries"][13]["entry"] = 0; }), "entry 0 comes twice"},
      {variant([](json& d) { d["entries"][3]["entry"] = 14; }),
       "each entry needs \"entry\": 0 to 13"},
      {variant([](json& d) { d["entries"][4]["gain_bits"] = "0x3AA0"; }),
       "entry 4: gain_bits 0x3AA0 is not a 32-bit pattern such as \"0x3AA00000\""},
      {variant([](json& d) { d["entries"][5]["gain"] = 1.5; }),
       "entry 5: gain 1.5 and gain_bits 0x39A00000 disagree"},
      {variant([](json& d) {
         d["entries"][6].erase("gain");
         d["entries"][6].erase("gain_bits");
       }),
       "entry 6 has no gain (a number, or gain_bits)"},
      {variant([](json& d) { d["entries"][7]["offset"] = 70000; }),
       "entry 7: offset is a whole number 0 to 65535"},
      {variant([](json& d) { d["entries"][8]["offset"] = -1; }),
       "entry 8: offset is a whole number 0 to 65535"},
  };
  const Bytes before = Saved().eeprom;
  for (const auto& [content, why] : cases) {
    WriteFile("bad.json", content);
    const Result r = Run({"calib", "import", Path("bad.json"), "--save"});
    EXPECT_EQ(r.exit, 2) << why;
    EXPECT_EQ(r.err, "korvelan380: " + Path("bad.json") + ": " + why +
                         "\n  nothing was changed; 'korvelan380 calib export FILE.json' writes a "
                         "file to start from\n");
  }
  EXPECT_EQ(Saved().eeprom, before);
  EXPECT_EQ(Run({"calib", "import", Path("none.json")}).exit, 2);
  // Gains given only as numbers are taken as they are.
  WriteFile("plain.json", variant([](json& d) {
              for (json& e : d["entries"]) e.erase("gain_bits");
              d["entries"][0]["gain"] = 0.002;
            }));
  Ok({"calib", "import", Path("plain.json"), "--save"});
  EXPECT_EQ(Ok({"calib", "show", "--json"}).Json()["entries"][0]["gain_bits"], "0x3B03126F");
}

// Values no module has are refused, naming the entry, before anything changes; --force sets them.
TEST_F(Calibration, ImpossibleGainsAndOffsetsNeedForce) {
  Ok({"calib", "export", Path("good.json")});
  const json good = json::parse(std::ifstream(Path("good.json")));
  auto gain = [&](size_t e, const char* bits) {
    json doc = good;
    doc["entries"][e].erase("gain");
    doc["entries"][e]["gain_bits"] = bits;
    return doc;
  };
  json offset = good;
  offset["entries"][11]["offset"] = 0x4000;
  const std::vector<std::pair<json, std::string>> cases = {
      {gain(3, "0x7FC00000"), "entry 3 (channel 0, -1.25..1.25V): gain nan is not between"},
      {gain(4, "0x7F800000"), "entry 4 (channel 0, 0..10V): gain inf is not between"},
      {gain(5, "0x00000000"), "entry 5 (channel 0, 0..5V): gain 0 is not between"},
      {gain(6, "0xB9200000"), "entry 6 (channel 0, 0..2.5V): gain -0.000152587891 is not"},
      // 3 times the ideal 20 V / 16384 of channel 1's -10..10V
      {gain(7, "0x3B700000"), "entry 7 (channel 1, -10..10V): gain 0.00366210938 is not between"},
      {offset, "entry 11 (channel 1, 0..10V): offset 16384 is not a code 0 to 16383 (0x3FFF)"},
  };
  const Bytes before = Saved().eeprom;
  for (const auto& [doc, why] : cases) {
    WriteFile("bad.json", doc.dump());
    const Result r = Run({"calib", "import", Path("bad.json"), "--save"});
    EXPECT_EQ(r.exit, 2) << why;
    EXPECT_EQ(r.err.rfind("korvelan380: " + Path("bad.json") + ": " + why, 0), 0u) << r.err;
    EXPECT_NE(r.err.find("nothing was changed; --force"), std::string::npos) << r.err;
  }
  EXPECT_EQ(Saved().eeprom, before);
  for (const auto& [doc, why] : cases) {
    WriteFile("forced.json", doc.dump());
    Ok({"calib", "import", Path("forced.json"), "--save", "--force"});
  }
  EXPECT_EQ(Saved().eeprom[60 + 2 * 11], 0x00);  // the last, offset 0x4000, stored
  EXPECT_EQ(Saved().eeprom[61 + 2 * 11], 0x40);
}

// The limits themselves are taken: twice and half the ideal gain, the highest code as offset.
TEST_F(Calibration, GainsAtTheFactorOf2AndTheLastCodeAreTaken) {
  Ok({"calib", "export", Path("cal.json")});
  json doc = json::parse(std::ifstream(Path("cal.json")));
  doc["entries"][0].erase("gain");
  doc["entries"][0]["gain_bits"] = "0x3B200000";  // 2 * 20 / 16384
  doc["entries"][13].erase("gain");
  doc["entries"][13]["gain_bits"] = "0x38A00000";  // 0.5 * 2.5 / 16384
  doc["entries"][13]["offset"] = 0x3FFF;
  WriteFile("cal.json", doc.dump());
  Ok({"calib", "import", Path("cal.json"), "--save"});
  const json shown = Ok({"calib", "show", "--json"}).Json();
  EXPECT_EQ(shown["entries"][0]["gain_bits"], "0x3B200000");
  EXPECT_EQ(shown["entries"][13]["offset"], 0x3FFF);
}

// The panel imports through the same action: refused there too unless forced.
TEST_F(Calibration, TheSharedImportChecksUnlessForced) {
  Ok({"info"});
  tool::Options options;
  options.sim = true;
  options.simState = state_;
  tool::Session session(options);
  session.Connect();
  tool::Calibration bad = tool::ReadCalibration(session);
  bad.gains.gain[9] = -bad.gains.gain[9];
  try {
    tool::ImportCalibration(session, {bad, true});
    ADD_FAILURE() << "a negative gain was taken";
  } catch (const tool::ToolError& e) {
    EXPECT_EQ(e.exit, tool::kExitUsage);
    EXPECT_EQ(std::string(e.what()).rfind("entry 9 (channel 1, -2.5..2.5V): gain -", 0), 0u)
        << e.what();
  }
  EXPECT_GT(tool::ReadCalibration(session).gains.gain[9], 0.0f);
  EXPECT_LT(tool::ImportCalibration(session, {bad, false, true}).gains.gain[9], 0.0f);
}

// ---- Two-point calibration -----------------------------------------------------------------

class Adjust : public CliTest {
 protected:
  // Several codes off in every range, either way, as converters come; a unipolar range's zero
  // above code 0, where a calibration can reach it.
  void GiveOutputErrors() {
    Ok({"info"});
    Edit([](sim::ModuleState& m) {
      m.outputErrors.emplace();
      for (size_t e = 0; e < 14; ++e) {
        const bool bipolar = e % 7 < 4;
        const double offset = bipolar && e % 2 == 0 ? -5.3 : 3.6 + 0.2 * static_cast<double>(e);
        (*m.outputErrors)[e] = {e % 3 == 0 ? 0.0035 : -0.0025, offset};
      }
    });
  }
  // What a voltmeter reads at `raw` on the channel and range, less what an ideal module puts
  // out there, in the range's LSB; each step an invocation of its own.
  double ErrorLsb(int channel, int range, uint16_t raw) {
    const tool::Range& r = tool::kRanges[range];
    Ok({"range", std::to_string(channel), std::to_string(range)});
    Ok({"out", std::to_string(channel), "raw:" + std::to_string(raw)});
    const double volts =
        Ok({"sim", "measure", std::to_string(channel), "--json"}).Json()["volts"].get<double>();
    return (volts - (r.bottom + raw * r.Step())) / r.Step();
  }
  // The largest error at the three points of every pair.
  double WorstErrorLsb() {
    double worst = 0;
    for (int channel = 0; channel < 2; ++channel) {
      for (int range = 0; range < 7; ++range) {
        for (uint16_t raw : {1638, 14746, 8192}) {
          worst = std::max(worst, std::fabs(ErrorLsb(channel, range, raw)));
        }
      }
    }
    return worst;
  }
  Bytes Record() {
    const Bytes eeprom = Saved().eeprom;
    return Bytes(eeprom.begin(), eeprom.begin() + 88);
  }
};

// The module as it comes, with the errors its serial number gives it.
TEST_F(Adjust, SimulatedMeterBringsEveryPairWithinOneLsbAndTheStoredRecordKeepsIt) {
  Ok({"info"});
  EXPECT_GT(WorstErrorLsb(), 2.0);
  const json run = Ok({"calib", "adjust", "--meter", "sim", "--save", "--json"}).Json();
  EXPECT_EQ(run["saved"], true);
  ASSERT_EQ(run["adjusted"].size(), 14u);
  for (const json& pair : run["adjusted"]) {
    for (const json& point : pair["points"]) {
      EXPECT_LT(std::fabs(point["error_lsb"].get<double>()), 1.0) << pair.dump();
    }
  }
  // Every invocation below connects anew and loads the record from the EEPROM.
  EXPECT_LT(WorstErrorLsb(), 1.0);
  EXPECT_EQ(Ok({"info", "--json"}).Json()["calibration"]["never_calibrated"], false);

  // The history has the run; importing its record gives the calibration back.
  const json history = Ok({"calib", "history", "--json"}).Json();
  ASSERT_EQ(history["records"].size(), 1u);
  EXPECT_EQ(history["records"][0]["serial"], "KORVELAN3800");
  EXPECT_EQ(history["records"][0]["pairs"], 14);
  EXPECT_EQ(history["records"][0]["file"], run["history"]);
  EXPECT_EQ(Ok({"-d", "8", "calib", "history", "--json"}).Json()["records"].size(), 0u);
  const Bytes adjusted = Record();
  Ok({"calib", "adjust", "--channel", "1", "--range", "0..5V", "--meter", "sim", "--save"});
  Edit([](sim::ModuleState& m) { m.eeprom[4] ^= 1; });  // and a gain changed by hand
  EXPECT_NE(Record(), adjusted);
  Ok({"calib", "import", run["history"].get<std::string>(), "--save"});
  EXPECT_EQ(Record(), adjusted);
  EXPECT_EQ(Ok({"calib", "history", "--json"}).Json()["records"].size(), 2u);
}

TEST_F(Adjust, InfoAndDoctorNameAModuleNeverCalibrated) {
  Ok({"info"});
  Edit([](sim::ModuleState& m) { std::fill_n(m.eeprom.begin() + 1, 87, 0); });  // the blank record
  const Result info = Ok({"info"});
  EXPECT_NE(info.out.find("never calibrated: 'korvelan380 -d 0 calib adjust'"), std::string::npos);
  EXPECT_EQ(Ok({"info", "--json"}).Json()["calibration"]["never_calibrated"], true);
  EXPECT_NE(Ok({"doctor"}).out.find("[note]     calibration: never calibrated"), std::string::npos);
  // One gain of its own is a calibration.
  Edit([](sim::ModuleState& m) { m.eeprom[7] = 0x3A; });
  EXPECT_EQ(Ok({"info", "--json"}).Json()["calibration"]["never_calibrated"], false);
  EXPECT_NE(Ok({"doctor"}).out.find("[ok]       calibration:"), std::string::npos);
}

TEST_F(Adjust, WithoutSaveTheOldRecordIsBackBitForBit) {
  GiveOutputErrors();
  Edit([](sim::ModuleState& m) { std::copy_n(OddRecord().begin(), 88, m.eeprom.begin()); });
  const json before = Ok({"calib", "show", "--json"}).Json();
  const Result r = Ok({"calib", "adjust", "--channel", "1", "--meter", "sim"});
  EXPECT_NE(r.out.find("channel 1, range 6 (0..2.5V): gain 0.00120000006 -> "), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("not stored"), std::string::npos);
  EXPECT_EQ(Record(), OddRecord());
  EXPECT_EQ(Ok({"calib", "show", "--json"}).Json(), before);
  EXPECT_EQ(Ok({"calib", "history", "--json"}).Json()["records"].size(), 0u);
}

TEST_F(Adjust, TypedReadingsThatAreNoReadingAreAskedForAgain) {
  Ok({"info"});
  const Bytes record = Record();
  // Point 1: not a number, then outside the range; point 2 below point 1; then good ones.
  const Result r = Ok({"calib", "adjust", "--channel", "0", "--range", "0"},
                      "abc\n12V\n-8.0005\n-9\n8.0005\n0V\n");
  EXPECT_NE(r.out.find("channel 0, range 0 (-10..10V), point 1 of 3: output set to about -8.000 "
                       "V; measured volts? not a reading: 'abc'"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("not taken: the reading is outside the range's limits"), std::string::npos);
  EXPECT_NE(r.out.find("not taken: the second reading is below the first"), std::string::npos);
  EXPECT_NE(r.out.find("point 3 of 3: output set to about 0.000 V"), std::string::npos);
  EXPECT_EQ(Record(), record);  // not saved

  // The input ends before the last reading: exit 2, nothing changed.
  const Result cut = Run({"calib", "adjust", "--range", "0", "--save"}, "-8.0005\n8.0005\n");
  EXPECT_EQ(cut.exit, 2);
  EXPECT_NE(cut.err.find("the input ended"), std::string::npos);
  EXPECT_EQ(Record(), record);
}

TEST_F(Adjust, AMeterCommandGetsThePointAndAnyFailureStopsTheRunWithTheOldRecord) {
  Ok({"info"});
  const Bytes record = Record();
  const std::string log = Path("meter.log");
  // A meter that reads what an ideal module puts out, and notes what it was told.
  const std::string ideal =
      "echo $KORVELAN380_CHANNEL $KORVELAN380_RANGE $KORVELAN380_POINT "
      "$KORVELAN380_EXPECTED_VOLTS >> " +
      log + "; echo \" $KORVELAN380_EXPECTED_VOLTS \"";
  Ok({"calib", "adjust", "--channel", "1", "--range", "0..5V", "--meter", ideal, "--save"});
  std::ifstream told(log);
  std::string line;
  std::vector<std::string> lines;
  while (std::getline(told, line)) lines.push_back(line);
  EXPECT_EQ(lines,
            (std::vector<std::string>{"1 5 0 0.499878", "1 5 1 4.500122", "1 5 2 2.500000"}));
  const Bytes ideallyCalibrated = Record();
  EXPECT_EQ(ideallyCalibrated, record);  // an ideal module's fit is the ideal entry

  GiveOutputErrors();
  struct Case {
    std::string meter, message;
  };
  for (const Case& c :
       {Case{"exit 3", "failed (exit status 3)"}, Case{"echo garbage", "printed \"garbage\""},
        Case{"echo 50", "was not taken: the reading is outside"},
        Case{"echo 1.0", "was not taken: the two readings are the same"}}) {
    const Result r = Run({"calib", "adjust", "--meter", c.meter, "--save"});
    EXPECT_EQ(r.exit, 2) << c.meter;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("the calibration was left as it was before"), std::string::npos);
    EXPECT_EQ(Record(), record) << c.meter;
  }
  // The simulated meter needs the simulated module's control, --json a meter that is no person.
  EXPECT_EQ(Run({"calib", "adjust", "--json"}).exit, 2);
}

// ---- Whole-module commands -----------------------------------------------------------------

using WholeModule = CliTest;

TEST_F(WholeModule, InfoOfAFreshModule) {
  Ok({"sim", "input", "exio", "7"});
  const json info = Ok({"info", "--json"}).Json();
  const json channel = json::parse(R"({"range": {"index": 0, "name": "-10..10V"},
      "output": {"volts": -10.0, "raw": 0, "code": 0},
      "configuration": {"mode": 0, "select_a": 0, "select_b": 0, "switch_a": 0, "switch_b": 0,
                        "preset_enable": 0, "preset": {"raw": 0, "volts": -10.0},
                        "mode_parameter": 0},
      "trigger": 0, "gate": 0})");
  json expected = json::parse(R"json({"device": "0", "serial": "KORVELAN3800", "simulated": true,
      "gate_channel_2": 0, "dio": {"direction": 0, "output": 0, "input": 0},
      "exio": {"select": {"low": 0, "high": 0}, "input": 7},
      "external_select": {"low": 0, "high": 0},
      "fifo": [{"channel": 0, "flag7": 0, "flag6": 0, "counter": 0},
               {"channel": 1, "flag7": 0, "flag6": 0, "counter": 0}],
      "calibration": {"summary": "ideal: every raw value is its own code", "ideal_entries": 14,
                      "entries": 14, "never_calibrated": true},
      "latency": {"ms": 2, "detail": "2 ms, set at connect (the tool's default)"}})json");
  expected["channels"] = json::array();
  for (int ch = 0; ch < 2; ++ch) {
    json c = channel;
    c["channel"] = ch;
    expected["channels"].push_back(c);
  }
  EXPECT_EQ(info, expected);
}

TEST_F(WholeModule, DemoTellsWhatWentOnTheWire) {
  const Result text = Ok({"demo"});
  EXPECT_NE(text.out.find("FT_OpenEx           KORVELAN3800  open the module by serial number"),
            std::string::npos);
  EXPECT_NE(text.out.find("set register 16 (control of channel 0) to 0xD9"), std::string::npos);
  EXPECT_NE(text.out.find("waveform stream to channel 1"), std::string::npos);
  const json doc = Ok({"demo", "--json"}).Json();
  ASSERT_EQ(doc["steps"].size(), 8u);
  EXPECT_EQ(doc["steps"][4]["result"]["samples"], 256);
  EXPECT_EQ(Saved().streams[1].size(), 256u);
  EXPECT_EQ(Saved().registers[8], 0xAA);
}

TEST_F(WholeModule, DoctorOnTheSimulatedModule) {
  const json doc = Ok({"doctor", "--json"}).Json();
  EXPECT_EQ(doc["problems"], 0);
  const json& checks = doc["checks"];
  ASSERT_GE(checks.size(), 3u);
  EXPECT_EQ(checks[checks.size() - 3], json::parse(R"({"check": "connect", "result": "ok",
                                                     "detail": "module 0 opens and answers"})"));
  // What the commands set after their connect.
  EXPECT_EQ(checks[checks.size() - 2], json::parse(R"json({"check": "latency timer",
      "result": "ok", "detail": "2 ms, set at connect (the tool's default)"})json"));
  // A module attached on first use has the ideal calibration: never calibrated, a note.
  EXPECT_EQ(checks.back()["result"], "note");
  EXPECT_NE(checks.back()["detail"].get<std::string>().find("'korvelan380 -d 0 calib adjust'"),
            std::string::npos);
  Ok({"sim", "detach"});
  const Result r = Run({"doctor"});
  EXPECT_EQ(r.exit, 1);
  EXPECT_NE(r.out.find("[problem]  connect: the driver could not open module 0 (status 4)"),
            std::string::npos);
}

TEST_F(WholeModule, EveryCommandHasHelpWithExamples) {
  for (std::vector<std::string> command : {std::vector<std::string>{},
                                           {"info"},
                                           {"range"},
                                           {"out"},
                                           {"read"},
                                           {"channel"},
                                           {"dio"},
                                           {"wave"},
                                           {"fifo"},
                                           {"trigger"},
                                           {"gate"},
                                           {"select"},
                                           {"clock"},
                                           {"exio"},
                                           {"calib"},
                                           {"calib", "show"},
                                           {"calib", "export"},
                                           {"calib", "import"},
                                           {"doctor"},
                                           {"demo"},
                                           {"sim"}}) {
    command.push_back("--help");
    const Result r = Run(command);
    EXPECT_EQ(r.exit, 0) << command[0];
    EXPECT_NE(r.out.find("Examples:"), std::string::npos) << command[0];
  }
  EXPECT_EQ(Run({"frobnicate"}).exit, 2);
  EXPECT_EQ(Run({}).exit, 2);
  EXPECT_EQ(Run({"-d", "123456789", "info"}).exit, 2);
}

TEST(StatusMessages, SayWhatEachCodeMeans) {
  EXPECT_EQ(tool::StatusError("KORVELAN380_Trigger", 2, "7").what(),
            std::string("KORVELAN380_Trigger: module 7 is not connected (status 2)"));
  EXPECT_EQ(tool::StatusMeaning(1, "7"), "an argument is outside its accepted values");
  EXPECT_EQ(tool::StatusMeaning(4, "7"), "the driver could not open module 7");
  EXPECT_EQ(tool::StatusMeaning(5, "7"), "a transfer with module 7 failed");
  EXPECT_EQ(tool::StatusMeaning(6, "7"), "module 7 is already connected");
}

}  // namespace
}  // namespace korvelan380::test
