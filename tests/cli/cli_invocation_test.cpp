// One invocation from parse to exit status: what --trace shows of a command that ends well or
// fails, and the commands the help offers.
#include <algorithm>

#include "cli/cli_support.h"

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
  // A reply that takes 20 ms, with FT_Read waiting up to 100 ms for it: each of the three
  // register reads gets its whole reply in one driver read.
  EXPECT_EQ(reads(Ok({"--trace", "--json", "--sim-latency", "20", "--sim-read-timeout", "100",
                      "read", "0"})),
            3);
  // The library sets the driver's read timeout at connect: FT_Read waits by itself.
  EXPECT_EQ(reads(Ok({"--trace", "--json", "--sim-latency", "20", "read", "0"})), 3);
}

TEST_F(Invocation, TheSimulatedModulesTimingNeedsSimAndASaneValue) {
  std::ostringstream out, err;
  std::istringstream in;
  EXPECT_EQ(tool::Run({"--sim-latency", "5", "read", "0"}, out, err, in), 2);
  EXPECT_NE(err.str().find("add --sim"), std::string::npos) << err.str();
  EXPECT_EQ(Run({"--sim-latency", "-1", "read", "0"}).exit, 2);
  EXPECT_EQ(Run({"--sim-read-timeout", "x", "read", "0"}).exit, 2);
}

}  // namespace
}  // namespace korvelan380::test
