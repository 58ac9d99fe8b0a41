// The tool as a program: what reaches its standard output, and what it finds on its own.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>

namespace {

using nlohmann::json;

struct Output {
  int exit = -1;
  std::string out;
  std::string err;
};

class Program : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::path(::testing::TempDir()) /
           ("korvelan380_program_" +
            std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  // Runs `env ENV korvelan380 ARGS` through the shell, XDG_STATE_HOME in the test's folder.
  Output Exec(const std::string& args, const std::string& env = "") {
    const std::string errFile = (dir_ / "stderr").string();
    const std::string command = "env XDG_STATE_HOME=" + dir_.string() + " " + env + " " +
                                KORVELAN380_TOOL_PATH + " " + args + " 2>" + errFile;
    Output o;
    FILE* pipe = popen(command.c_str(), "r");
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) o.out.append(buffer, n);
    const int status = pclose(pipe);
    o.exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::ifstream err(errFile);
    o.err.assign(std::istreambuf_iterator<char>(err), {});
    return o;
  }

  std::filesystem::path dir_;
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
