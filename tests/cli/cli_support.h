// Running the tool's commands in this process, against the simulated module, each test with a
// folder and a state file of its own (support/temp_folder.h).
#ifndef KORVELAN380_TESTS_CLI_SUPPORT_H
#define KORVELAN380_TESTS_CLI_SUPPORT_H

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "app/tool.h"
#include "korvelan380_sim.hpp"
#include "support/program.h"
#include "support/temp_folder.h"

namespace korvelan380::test {

namespace sim = korvelan380::sim;
using nlohmann::json;

// What a command gave, as a program's run gives it (support/program.h).
struct Result : ProgramOutput {
  json Json() const { return json::parse(out); }
};

class CliTest : public TempFolderTest {
 protected:
  void SetUp() override {
    TempFolderTest::SetUp();
    state_ = Path("state.json");
  }

  // korvelan380 --sim --sim-state STATE ARGS..., with `input` as standard input.
  Result Run(std::vector<std::string> args, const std::string& input = "") {
    args.insert(args.begin(), {"--sim", "--sim-state", state_});
    std::ostringstream out;
    std::ostringstream err;
    std::istringstream in(input);
    Result r;
    r.exit = tool::Run(args, out, err, in);
    r.out = out.str();
    r.err = err.str();
    return r;
  }
  // Runs and expects success.
  Result Ok(std::vector<std::string> args, const std::string& input = "") {
    Result r = Run(std::move(args), input);
    EXPECT_EQ(r.exit, 0) << r.err;
    return r;
  }

  // The module as the state file holds it.
  sim::ModuleState Saved(const std::string& serial = "KORVELAN3800") {
    std::ifstream file(state_);
    const json doc = json::parse(file);
    const std::string hex = doc["modules"][serial].get<std::string>();
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i < hex.size(); i += 2) {
      bytes.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    }
    auto state = sim::DecodeState(bytes);
    EXPECT_TRUE(state.has_value());
    return state.value_or(sim::ModuleState{});
  }
  // Changes the module in the state file, as if something else had happened to it.
  void Edit(const std::function<void(sim::ModuleState&)>& change,
            const std::string& serial = "KORVELAN3800") {
    sim::ModuleState state = Saved(serial);
    change(state);
    std::ifstream in(state_);
    json doc = json::parse(in);
    static const char* digits = "0123456789abcdef";
    std::string hex;
    for (uint8_t b : sim::EncodeState(state)) {
      hex += digits[b >> 4];
      hex += digits[b & 15];
    }
    doc["modules"][serial] = hex;
    std::ofstream(state_) << doc.dump();
  }
  std::string state_;
};

}  // namespace korvelan380::test

#endif  // KORVELAN380_TESTS_CLI_SUPPORT_H
