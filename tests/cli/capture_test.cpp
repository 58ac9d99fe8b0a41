// Capture and replay, each run as a program of its own: which libftd2xx.so (FTD2XX.dll) the
// library binds is decided once per process. Built for Linux and for Windows, where the programs
// run through cmd.exe.
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "capture_file.h"
#include "d2xx.h"
#include "support/program.h"
#include "support/temp_folder.h"

namespace {

namespace fs = std::filesystem;
namespace cap = korvelan380::capture;
using korvelan380::test::ProgramOptions;
using korvelan380::test::ReadText;
using korvelan380::test::WriteText;
using Output = korvelan380::test::ProgramOutput;
using nlohmann::json;

// A path of the build machine as this program sees it: under Wine the build's / is drive Z:.
fs::path Native(const std::string& path) {
#ifdef _WIN32
  if (!path.empty() && path[0] == '/') return fs::path("Z:" + path).make_preferred();
#endif
  return path;
}

class Capture : public korvelan380::test::TempFolderTest {
 protected:
  // Runs `korvelan380 ARGS` in `cwd` (the test's folder by default) with the variables `env`
  // ("NAME=VALUE") set, the simulator's state in the test's folder, so that every run of a test
  // shares one state file.
  Output Exec(const std::string& args, std::vector<std::string> env = {}, fs::path cwd = {}) {
#ifdef _WIN32
    // The simulated module by name: the tool's own fallback is a path of the build machine.
    env.insert(env.begin(), {"LOCALAPPDATA=" + dir_.string(),
                             "KORVELAN380_SIM_LIBRARY=" +
                                 (Native(KORVELAN380_SIM_DIR) / "FTD2XX.dll").string()});
#else
    env.insert(env.begin(), "XDG_STATE_HOME=" + dir_.string());
#endif
    return korvelan380::test::RunProgram(tool_.string() + " " + args,
                                         ProgramOptions{env, cwd.empty() ? dir_ : cwd});
  }

  // The capture's wire view, without the round trips the trace adds.
  json CapturedWire(const std::string& file) {
    const Output o = Exec("trace --json " + file);
    EXPECT_EQ(o.exit, 0) << o.err;
    json wire = json::parse(o.out)["wire"];
    for (json& line : wire) line.erase("round_trip_ms");
    return wire;
  }

  fs::path tool_ = Native(KORVELAN380_TOOL_PATH);
};

TEST_F(Capture, TheShimChangesNothingAndRecordsEveryCall) {
  const Output plain = Exec("--sim --sim-state plain.json --trace --json info");
  ASSERT_EQ(plain.exit, 0) << plain.err;
  const Output recorded =
      Exec("--sim --sim-state recorded.json --capture s.jsonl --trace --json info");
  ASSERT_EQ(recorded.exit, 0) << recorded.err;
  // The same calls reached the simulated module, and the same results came back.
  EXPECT_EQ(recorded.out, plain.out);
  // And the capture holds those calls, call for call.
  EXPECT_EQ(CapturedWire("s.jsonl"), json::parse(plain.out)["trace"]);

  const cap::Capture c = cap::ReadCapture((dir_ / "s.jsonl").string());
  ASSERT_FALSE(c.calls.empty());
  EXPECT_EQ(c.calls.front().fn, D2XX_FT_OpenEx);
  EXPECT_EQ(c.calls.front().serial, "KORVELAN3800");
  EXPECT_EQ(c.calls.front().handle, 1u);
  EXPECT_EQ(c.calls.back().fn, D2XX_FT_Close);
  for (size_t i = 0; i < c.calls.size(); ++i) {
    EXPECT_EQ(c.calls[i].seq, i + 1);
    EXPECT_LE(c.calls[i].t0, c.calls[i].t1);
    if (i > 0) {
      EXPECT_LE(c.calls[i - 1].t1, c.calls[i].t0);
    }
  }
}

TEST_F(Capture, ReplayPrintsWhatTheRecordedRunPrinted) {
  const Output first = Exec("--sim --capture s.jsonl demo");
  ASSERT_EQ(first.exit, 0) << first.err;
  // The module now remembers the first run: run live, the demo would differ (no initialisation).
  const Output replayed = Exec("--replay s.jsonl demo");
  ASSERT_EQ(replayed.exit, 0) << replayed.err;
  EXPECT_EQ(replayed.out, first.out);

  const Output json1 = Exec("--sim --capture r.jsonl --json read 1");
  ASSERT_EQ(json1.exit, 0) << json1.err;
  const Output json2 = Exec("--replay r.jsonl --json read 1");
  EXPECT_EQ(json2.exit, 0) << json2.err;
  EXPECT_EQ(json2.out, json1.out);
}

TEST_F(Capture, ReplayReportsTheFirstDeparture) {
  ASSERT_EQ(Exec("--sim --capture s.jsonl read 0").exit, 0);
  // Another command: the first frame that differs is the departure.
  Output o = Exec("--replay s.jsonl read 1");
  EXPECT_EQ(o.exit, 1);
  EXPECT_NE(o.err.find("the replay departed from the capture: call "), std::string::npos) << o.err;
  EXPECT_NE(o.err.find("(other bytes, from byte "), std::string::npos) << o.err;
  EXPECT_NE(o.err.find("expected FT_Write(handle 1"), std::string::npos) << o.err;

  // Another module: the open already departs.
  o = Exec("--replay s.jsonl -d 1 read 0");
  EXPECT_EQ(o.exit, 1);
  EXPECT_NE(o.err.find("call 1 departs from the capture (another serial number): expected "
                       "FT_OpenEx(serial \"KORVELAN3800\", flags 1), came "
                       "FT_OpenEx(serial \"KORVELAN3801\", flags 1)"),
            std::string::npos)
      << o.err;

  // A changed reply: the last reply record is no longer an 'R' record, so the library throws the
  // reply away and asks the driver what is waiting, where the capture closes the module.
  std::string text = ReadText(dir_ / "s.jsonl");
  const size_t reply = text.rfind("\"fn\":\"FT_Read\"");
  ASSERT_NE(reply, std::string::npos);
  const size_t data = text.find("\"data\":\"", reply) + 8;
  ASSERT_EQ(text.substr(data, 4), "0252");
  text.replace(data + 2, 2, "58");
  WriteText(dir_ / "changed.jsonl", text);
  o = Exec("--replay changed.jsonl read 0");
  EXPECT_EQ(o.exit, 1);
  EXPECT_NE(o.err.find("the replay departed from the capture"), std::string::npos) << o.err;
  EXPECT_NE(o.err.find("expected FT_Close(handle 1), came FT_GetQueueStatus(handle 1)"),
            std::string::npos)
      << o.err;

  // A program that stops early leaves recorded calls unmade.
  text = ReadText(dir_ / "s.jsonl");
  const size_t last = text.rfind("{\"seq\"");
  WriteText(dir_ / "longer.jsonl", text + text.substr(last));
  o = Exec("--replay longer.jsonl read 0");
  EXPECT_EQ(o.exit, 1);
  EXPECT_NE(o.err.find("the program stopped after"), std::string::npos) << o.err;
}

TEST_F(Capture, BadCapturesAreRefusedWithExitStatus2) {
  ASSERT_EQ(Exec("--sim --capture s.jsonl read 0").exit, 0);
  const std::string good = ReadText(dir_ / "s.jsonl");
  const size_t secondLine = good.find('\n') + 1;
  std::string future = good;
  future.replace(future.find("\"version\":1"), 11, "\"version\":2");
  const struct {
    const char* name;
    std::string text;
    const char* says;
  } cases[] = {
      {"empty", "", "the file is empty"},
      {"truncated", good.substr(0, good.size() - 9), "is cut short"},
      {"corrupt",
       good.substr(0, secondLine) + "{\"seq\":1,\"fn\":\"FT_Read\"\n" + good.substr(secondLine),
       "line 2 is not a JSON object"},
      {"unknown-call", good.substr(0, secondLine) + "{\"fn\":\"FT_SetBitMode\"}\n",
       "line 2 is not a call record"},
      {"not-a-capture", "{\"hello\":1}\n", "not a korvelan380 capture"},
      {"future", future, "format version 2; this korvelan380 reads version 1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string file = std::string(c.name) + ".jsonl";
    WriteText(dir_ / file, c.text);
    for (const std::string& command : {"trace " + file, "--replay " + file + " read 0"}) {
      const Output o = Exec(command);
      EXPECT_EQ(o.exit, 2) << command;
      EXPECT_NE(o.err.find(c.says), std::string::npos) << command << ": " << o.err;
    }
  }
}

TEST_F(Capture, TheSizeLimitDropsTheOldestCallsAndSaysSo) {
  ASSERT_EQ(Exec("--sim --capture s.jsonl --capture-limit 6000 demo").exit, 0);
  EXPECT_LE(fs::file_size(dir_ / "s.jsonl"), 6000u);
  const cap::Capture c = cap::ReadCapture((dir_ / "s.jsonl").string());
  EXPECT_GT(c.dropped, 0u);
  EXPECT_EQ(c.calls.front().seq, c.dropped + 1);  // the newest calls, none left out between
  EXPECT_EQ(c.calls.back().fn, D2XX_FT_Close);
  EXPECT_NE(
      Exec("trace s.jsonl").out.find(std::to_string(c.dropped) + " oldest calls were dropped"),
      std::string::npos);
  const Output o = Exec("--replay s.jsonl demo");
  EXPECT_EQ(o.exit, 2);
  EXPECT_NE(o.err.find("a replay starts from the first call"), std::string::npos) << o.err;
}

// A capture by the shim that found no driver: it says so, and the open it recorded failed.
void ExpectNoDriverFound(const std::string& path) {
  const cap::Capture c = cap::ReadCapture(path);
  EXPECT_EQ(c.header.driver, "");
  EXPECT_NE(c.header.error.find("no driver to forward to"), std::string::npos);
  ASSERT_FALSE(c.calls.empty());
  EXPECT_EQ(c.calls.front().fn, D2XX_FT_OpenEx);
  EXPECT_NE(c.calls.front().status, 0u);
}

#ifndef _WIN32
TEST_F(Capture, WithoutADriverTheShimSaysSoAndNeverLoadsItself) {
  // Any program picks the shim up from its folder; here, no vendor driver is installed.
  const std::string shimDir = fs::path(KORVELAN380_CAPTURE_SHIM_PATH).parent_path().string();
  const Output o =
      Exec("info", {"LD_LIBRARY_PATH=" + shimDir, "KORVELAN380_CAPTURE_FILE=any.jsonl"});
  EXPECT_EQ(o.exit, 1);
  ExpectNoDriverFound((dir_ / "any.jsonl").string());

  const Output self =
      Exec("info", {"LD_LIBRARY_PATH=" + shimDir, "KORVELAN380_CAPTURE_FILE=self.jsonl",
                    "KORVELAN380_CAPTURE_DRIVER=" KORVELAN380_CAPTURE_SHIM_PATH});
  EXPECT_EQ(self.exit, 1);
  EXPECT_NE(cap::ReadCapture((dir_ / "self.jsonl").string()).header.error.find("this shim itself"),
            std::string::npos);
}
#else
TEST_F(Capture, TheShimBesideAProgramRecordsItAndNeverLoadsItself) {
  // Windows looks in a program's own folder first: a copy of the tool and the library with the
  // shim beside them. No vendor driver is installed here.
  const fs::path app = dir_ / "app";
  fs::create_directories(app);
  for (const char* file : {"korvelan380.exe", "korvelan380.dll"}) {
    fs::copy_file(tool_.parent_path() / file, app / file);
  }
  fs::copy_file(Native(KORVELAN380_CAPTURE_SHIM_PATH), app / "FTD2XX.dll");
  tool_ = app / "korvelan380.exe";

  const Output o = Exec("info", {"KORVELAN380_CAPTURE_FILE=any.jsonl"});
  EXPECT_EQ(o.exit, 1);
  ExpectNoDriverFound((dir_ / "any.jsonl").string());

  const Output self = Exec("info", {"KORVELAN380_CAPTURE_FILE=self.jsonl",
                                    "KORVELAN380_CAPTURE_DRIVER=" + (app / "FTD2XX.dll").string()});
  EXPECT_EQ(self.exit, 1);
  EXPECT_NE(cap::ReadCapture((dir_ / "self.jsonl").string()).header.error.find("this shim itself"),
            std::string::npos);

  // Named, the simulated module serves: the program's calls reach it through the shim.
  const std::string sim = (Native(KORVELAN380_SIM_DIR) / "FTD2XX.dll").string();
  Exec("info", {"KORVELAN380_CAPTURE_FILE=sim.jsonl", "KORVELAN380_CAPTURE_DRIVER=" + sim});
  const cap::Capture named = cap::ReadCapture((dir_ / "sim.jsonl").string());
  EXPECT_EQ(named.header.driver, sim);
  EXPECT_EQ(named.header.error, "");
  ASSERT_FALSE(named.calls.empty());
  EXPECT_EQ(named.calls.front().serial, "KORVELAN3800");
}
#endif

TEST_F(Capture, TraceMatchesTheGoldenDecode) {
  const fs::path data = Native(KORVELAN380_TEST_DATA) / "capture";
  const Output o = Exec("trace session.jsonl", {}, data);
  ASSERT_EQ(o.exit, 0) << o.err;
  EXPECT_EQ(o.out, ReadText(data / "session.trace.txt"));
}

TEST_F(Capture, TraceAsDataHasTheRoundTripsAndTheSummary) {
  const fs::path data = Native(KORVELAN380_TEST_DATA) / "capture";
  const Output o = Exec("trace --json session.jsonl", {}, data);
  ASSERT_EQ(o.exit, 0) << o.err;
  const json doc = json::parse(o.out);
  EXPECT_EQ(doc["version"], 1);
  EXPECT_EQ(doc["dropped"], 0);
  // A read's round trip runs from its frame going out to its reply coming in.
  const json& wire = doc["wire"];
  ASSERT_EQ(wire.size(), 18u);
  EXPECT_EQ(wire[15]["frame"], "R 09 09");
  EXPECT_EQ(wire[15]["round_trip_ms"], 19.797);
  EXPECT_FALSE(wire[16].contains("round_trip_ms"));  // the reply itself
  const json& summary = doc["summary"];
  EXPECT_EQ(summary["calls"], 18);
  EXPECT_EQ(summary["by_function"]["FT_Write"], 5);
  EXPECT_EQ(summary["failures"],
            json::parse(R"({"FT_GetQueueStatus": {"count": 1, "statuses": {"4": 1}}})"));
  ASSERT_EQ(summary["slowest"].size(), 5u);
  EXPECT_EQ(summary["slowest"][0]["call"], 16);
  for (size_t i = 1; i < 5; ++i) {
    EXPECT_GE(summary["slowest"][i - 1]["round_trip_ms"], summary["slowest"][i]["round_trip_ms"]);
  }
}

TEST_F(Capture, DoctorTimesReadsOfTheInitialisedFlag) {
  const Output o = Exec("--sim --json doctor --timing");
  const json doc = json::parse(o.out);
  // Whether the round trips count as slow is the machine's to say (a loaded one under Wine may
  // pass 4 ms); the exit status must follow that verdict, and no read may fail.
  EXPECT_EQ(o.exit, doc["slow"] == true ? 1 : 0) << o.err << o.out;
  const json& own = doc["chip_setting"];
  EXPECT_EQ(own["reads"], 100);
  EXPECT_EQ(own["failed"], 0);
  EXPECT_LE(own["median_ms"].get<double>(), own["p99_ms"].get<double>());
}

// The file format round trip: every field, and serial numbers with any bytes in them.
TEST(CaptureFormat, WhatIsWrittenReadsBackTheSame) {
  cap::Header header;
  header.driver = "/opt/d2xx/libftd2xx.so";
  std::string text = cap::FormatHeader(header);
  cap::DriverCall open;
  open.seq = 1;
  open.fn = D2XX_FT_OpenEx;
  open.handle = 1;
  open.serial = std::string("K\"\\\x01\xff\n", 6);
  open.arg = 1;
  open.t0 = 5;
  open.t1 = 18446744073709551615u;
  open.thread = 42;
  cap::DriverCall status = open;
  status.seq = 2;
  status.fn = D2XX_FT_GetStatus;
  status.serial.clear();
  status.rx = 3;
  status.tx = 64;
  status.event = 7;
  status.status = 4;
  cap::DriverCall read = status;
  read.seq = 3;
  read.fn = D2XX_FT_Read;
  read.arg = 8;
  read.data = {0x02, 'R', 0x00, 0x03};
  read.rx = read.tx = read.event = 0;
  text += cap::FormatCall(open) + cap::FormatCall(status) + cap::FormatCall(read);
  const cap::Capture c = cap::ParseCapture(text, "t");
  EXPECT_EQ(c.header.driver, header.driver);
  ASSERT_EQ(c.calls.size(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    const cap::DriverCall& want = i == 0 ? open : i == 1 ? status : read;
    EXPECT_EQ(cap::FormatCall(c.calls[i]), cap::FormatCall(want));
  }
  EXPECT_EQ(c.calls[0].serial, open.serial);
  EXPECT_EQ(c.calls[0].t1, open.t1);
  EXPECT_EQ(c.calls[1].tx, 64u);
  EXPECT_EQ(c.calls[2].data, read.data);
  // A reply longer than what was asked for cannot be replayed into the caller's buffer.
  read.arg = 2;
  EXPECT_THROW(cap::ParseCapture(cap::FormatHeader(header) + cap::FormatCall(read), "t"),
               cap::CaptureError);
}

}  // namespace
