// One invocation from parse to exit status: what --trace shows of a command that ends well or
// fails, the commands the help offers, and the latency timer set at connect.
#include <algorithm>
#include <cstdlib>

#include "cli/cli_support.h"
#include "d2xx.h"

namespace korvelan380::test {
namespace {

std::vector<std::string> Calls(const json& doc) {
  std::vector<std::string> calls;
  for (const json& line : doc["trace"]) calls.push_back(line["call"]);
  return calls;
}

using Invocation = CliTest;

TEST_F(Invocation, TheTraceOfACommandThatEndsWellIncludesTheDisconnect) {
  const json doc = Ok({"--trace", "--json", "read", "0"}).Json();
  EXPECT_EQ(doc["channel"], 0);
  const std::vector<std::string> calls = Calls(doc);
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls.front(), "FT_OpenEx");
  EXPECT_EQ(calls.back(), "FT_Close");

  const Result text = Ok({"--trace", "read", "0"});
  const size_t wire = text.out.find("on the wire:\n");
  ASSERT_NE(wire, std::string::npos);
  EXPECT_EQ(text.out.rfind("channel 0: ", wire), 0u);  // the report comes first
  EXPECT_NE(text.out.find("FT_Close", wire), std::string::npos);
}

TEST_F(Invocation, AFailedCommandShowsItsErrorAndTheCallsUpToTheFailure) {
  // The sine reaches past the range's limits: refused after the range is read.
  const std::vector<std::string> args = {"--trace", "wave", "0", "--sine", "--amplitude", "20"};
  const Result text = Run(args);
  EXPECT_EQ(text.exit, 2);
  EXPECT_EQ(text.err.rfind("korvelan380: ", 0), 0u);
  EXPECT_NE(text.err.find(" samples lie outside the range -10..10V"), std::string::npos);
  EXPECT_NE(text.err.find("\n  --clip holds them at the limits"), std::string::npos);
  EXPECT_EQ(text.out.rfind("on the wire:\n", 0), 0u);  // no report, only the calls
  EXPECT_EQ(text.out.find("FT_Close"), std::string::npos);

  std::vector<std::string> withJson = args;
  withJson.insert(withJson.begin(), "--json");
  const Result r = Run(withJson);
  EXPECT_EQ(r.exit, 2);
  const json doc = r.Json();
  EXPECT_EQ(doc["error"]["hint"], "--clip holds them at the limits; --dry-run shows the waveform");
  EXPECT_FALSE(doc.contains("channel"));
  const std::vector<std::string> calls = Calls(doc);
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls.front(), "FT_OpenEx");
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "FT_Close"), 0);
}

TEST_F(Invocation, ATraceIsThereWheneverTheSessionWas) {
  // A command that makes no driver call has an empty trace, in JSON and none in text.
  EXPECT_EQ(Ok({"--trace", "--json", "sim", "status"}).Json()["trace"], json::array());
  EXPECT_EQ(Ok({"--trace", "sim", "status"}).out.find("on the wire:"), std::string::npos);
  // A failed connect is traced; an invocation refused before the session has no trace.
  Ok({"sim", "detach"});
  const Result failed = Run({"--trace", "--json", "info"});
  EXPECT_EQ(failed.exit, 1);
  EXPECT_EQ(Calls(failed.Json()).front(), "FT_OpenEx");
  const Result refused = Run({"--trace", "--json", "-d", "123456789", "info"});
  EXPECT_EQ(refused.exit, 2);
  EXPECT_FALSE(refused.Json().contains("trace"));
}

TEST_F(Invocation, TheHelpListsEveryCommandInItsOrder) {
  const Result help = Run({"--help"});
  EXPECT_EQ(help.exit, 0);
  size_t at = 0;
  for (const char* command :
       {"info", "range", "out", "read", "channel", "dio", "wave", "fifo", "trigger", "gate",
        "select", "clock", "exio", "calib", "panel", "doctor", "trace", "demo", "sim"}) {
    const size_t found = help.out.find(std::string("\n  ") + command + " ", at);
    EXPECT_NE(found, std::string::npos) << command;
    if (found != std::string::npos) at = found;
  }
}

TEST_F(Invocation, TheSimulatedModulesTimingIsSetForTheCommand) {
  auto reads = [](const Result& r) {
    const std::vector<std::string> calls = Calls(r.Json());
    return std::count(calls.begin(), calls.end(), "FT_Read");
  };
  // A reply that takes 20 ms: the library set the driver's read timeout at connect, so each of
  // the three register reads gets its whole reply in one driver read. The chip's latency is
  // kept: the tool's own setting would replace the 20 ms.
  EXPECT_EQ(
      reads(Ok({"--trace", "--json", "--latency", "keep", "--sim-latency", "20", "read", "0"})), 3);
}

TEST_F(Invocation, TheSimulatedModulesTimingNeedsSimAndASaneValue) {
  std::ostringstream out, err;
  std::istringstream in;
  EXPECT_EQ(tool::Run({"--sim-latency", "5", "read", "0"}, out, err, in), 2);
  EXPECT_NE(err.str().find("add --sim"), std::string::npos) << err.str();
  EXPECT_EQ(Run({"--sim-latency", "-1", "read", "0"}).exit, 2);
  EXPECT_EQ(Run({"--sim-read-timeout", "100", "read", "0"}).exit, 2);  // the library's to set
}

// ---- The latency timer ----------------------------------------------------------------------

// The settings FT_SetLatencyTimer was given in the last invocation, in order.
std::vector<uint32_t> LatencyTimerCalls() {
  std::vector<uint32_t> settings;
  for (const sim::Call& call : sim::Trace()) {
    if (std::string(d2xx::FunctionName(static_cast<int>(call.fn))) == "FT_SetLatencyTimer") {
      settings.push_back(call.arg);
    }
  }
  return settings;
}

class Latency : public CliTest {
 protected:
  void TearDown() override {
    unsetenv("KORVELAN380_LATENCY_MS");
    CliTest::TearDown();
  }
};

TEST_F(Latency, TheDefaultSetsTwoMillisecondsAtConnectAndAnOptionItsOwn) {
  const json doc = Ok({"--json", "info"}).Json();
  EXPECT_EQ(doc["latency"]["ms"], 2);
  EXPECT_EQ(doc["latency"]["detail"], "2 ms, set at connect (the tool's default)");
  EXPECT_EQ(LatencyTimerCalls(), std::vector<uint32_t>{2});

  EXPECT_EQ(Ok({"--latency", "40", "--json", "info"}).Json()["latency"]["ms"], 40);
  EXPECT_EQ(LatencyTimerCalls(), std::vector<uint32_t>{40});
}

TEST_F(Latency, KeepMakesNoCall) {
  const json doc = Ok({"--latency", "keep", "--json", "info"}).Json();
  EXPECT_EQ(doc["latency"]["ms"], nullptr);
  EXPECT_EQ(doc["latency"]["detail"], "the chip's own, kept (--latency keep)");
  EXPECT_TRUE(LatencyTimerCalls().empty());
  const std::string text = Ok({"--latency", "keep", "info"}).out;
  EXPECT_NE(text.find("\nlatency timer: the chip's own, kept (--latency keep)\n"),
            std::string::npos);
}

TEST_F(Latency, ABadValueIsAUsageError) {
  for (const char* bad : {"0", "256", "fast", ""}) {
    const Result r = Run({"--latency", bad, "info"});
    EXPECT_EQ(r.exit, 2) << bad;
    EXPECT_NE(r.err.find("--latency: '" + std::string(bad) +
                         "' is not a latency: give milliseconds from 1 to 255, or keep"),
              std::string::npos)
        << r.err;
  }
}

TEST_F(Latency, TheEnvironmentsSettingOutranksTheDefaultButNotTheOption) {
  setenv("KORVELAN380_LATENCY_MS", "7", 1);
  const json doc = Ok({"--json", "info"}).Json();
  EXPECT_EQ(doc["latency"]["ms"], nullptr);
  EXPECT_EQ(doc["latency"]["detail"], "KORVELAN380_LATENCY_MS=7, set by the library at connect");
  EXPECT_EQ(LatencyTimerCalls(), std::vector<uint32_t>{7});  // the library's, at connect

  Ok({"--latency", "3", "info"});
  EXPECT_EQ(LatencyTimerCalls(), (std::vector<uint32_t>{7, 3}));
}

// A chip that holds each reply 16 ms back, as FTDI's do out of the box.
TEST_F(Latency, DoctorTimesTheChipsOwnSettingAndTwoMilliseconds) {
  const Result r = Run({"--sim-latency", "16", "--json", "doctor", "--timing"});
  EXPECT_EQ(r.exit, 0) << r.err << r.out;  // short at the setting the commands use
  const json doc = r.Json();
  EXPECT_GT(doc["chip_setting"]["median_ms"].get<double>(), 15.0);
  EXPECT_EQ(doc["chip_setting"]["slow"], true);
  EXPECT_EQ(doc["latency_ms"], 2);
  ASSERT_TRUE(doc.contains("at_latency")) << doc.dump(1);
  EXPECT_LT(doc["at_latency"]["median_ms"].get<double>(), 4.0);
  EXPECT_EQ(doc["at_latency"]["failed"], 0);
  EXPECT_EQ(doc["slow"], false);
  EXPECT_EQ(LatencyTimerCalls(), std::vector<uint32_t>{2});
  // The knobs there are, and not a driver call no application can make on the library's handle.
  const std::string advice = doc["advice"].dump();
  for (const char* knob :
       {"--latency", "latency_ms", "KORVELAN380_LatencySet", "KORVELAN380_LATENCY_MS"}) {
    EXPECT_NE(advice.find(knob), std::string::npos) << knob;
  }
  EXPECT_EQ(advice.find("FT_SetLatencyTimer("), std::string::npos);
}

TEST_F(Latency, DoctorWithKeepTimesTheChipsOwnAloneAndFindsItSlow) {
  const Result r =
      Run({"--sim-latency", "16", "--latency", "keep", "--json", "doctor", "--timing"});
  EXPECT_EQ(r.exit, 1);
  const json doc = r.Json();
  EXPECT_EQ(doc["chip_setting"]["reads"], 100);
  EXPECT_EQ(doc["latency_ms"], nullptr);
  EXPECT_FALSE(doc.contains("at_latency"));
  EXPECT_EQ(doc["slow"], true);
  EXPECT_TRUE(LatencyTimerCalls().empty());
  EXPECT_NE(doc["advice"].dump().find("--latency MS"), std::string::npos);
}

}  // namespace
}  // namespace korvelan380::test
