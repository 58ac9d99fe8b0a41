// The tool as a program: what reaches its standard output, and what it finds on its own.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "support/program.h"
#include "support/temp_folder.h"

namespace {

using Output = korvelan380::test::ProgramOutput;
using nlohmann::json;

class Program : public korvelan380::test::TempFolderTest {
 protected:
  // Runs `env ENV korvelan380 ARGS`, XDG_STATE_HOME in the test's folder.
  Output Exec(const std::string& args, const std::string& env = "") {
    std::vector<std::string> vars = {"XDG_STATE_HOME=" + dir_.string()};
    if (!env.empty()) vars.push_back(env);
    return korvelan380::test::RunProgram(std::string(KORVELAN380_TOOL_PATH) + " " + args, {vars});
  }
};

TEST_F(Program, KeepsTheLibrarysOwnPrintOutOfItsOutput) {
  ASSERT_EQ(Exec("--sim select exio 2 5").exit, 0);
  // KORVELAN380_EXIO_Sel_R prints "82" itself; the document must still be the whole output.
  const Output o = Exec("--sim --json select exio");
  ASSERT_EQ(o.exit, 0) << o.err;
  EXPECT_EQ(json::parse(o.out), json::parse(R"({"selection": "exio", "low": 2, "high": 5})"));
  EXPECT_EQ(Exec("--sim exio").out,
            "EXIO selection: low 2, high 5\nEXIO input: 0x00 (0b00000000, 0)\n");
  EXPECT_EQ(json::parse(Exec("--sim info --json").out)["exio"]["select"]["high"], 5);
}

TEST_F(Program, OneInvocationLeavesTheModuleForTheNext) {
  ASSERT_EQ(Exec("--sim out 0 2.5V").exit, 0);
  EXPECT_TRUE(std::filesystem::exists(dir_ / "korvelan380" / "sim-state.json"));
  EXPECT_EQ(Exec("--sim read 0").out,
            "channel 0: 2.5 V  raw 10240 (0x2800)  code 0x2800  range -10..10V\n");
}

TEST_F(Program, WithoutSimTheInstalledDriverIsUsed) {
  // No libftd2xx.so on this machine's search path: the simulator is not bound behind --sim's back.
  const Output o = Exec("-d 7 info", "LD_LIBRARY_PATH=" + dir_.string());
  EXPECT_EQ(o.exit, 1);
  EXPECT_EQ(o.out, "");
  EXPECT_EQ(o.err.substr(0, o.err.find('\n')),
            "korvelan380: KORVELAN380_Connect: the driver could not open module 7 (status 4)");
  EXPECT_EQ(Exec("--trace info").exit, 2);
}

TEST_F(Program, ReportsTheProjectsVersion) {
  const Output o = Exec("--version");
  EXPECT_EQ(o.exit, 0);
  EXPECT_EQ(o.out, "korvelan380 " KORVELAN380_VERSION "\n");
}

TEST_F(Program, TheSimulatorLibraryCanBeNamed) {
  const Output o = Exec("--sim info", "KORVELAN380_SIM_LIBRARY=/nowhere/libftd2xx.so");
  EXPECT_EQ(o.exit, 1);
  EXPECT_EQ(o.err,
            "korvelan380: the simulated module's library libftd2xx.so was not found; tried:\n"
            "  /nowhere/libftd2xx.so (not there)\n"
            "  build the project, or name the library with KORVELAN380_SIM_LIBRARY=PATH\n");
  const Output doctor = Exec("--sim doctor");
  EXPECT_EQ(doctor.exit, 0) << doctor.out;
}

}  // namespace
