// Without a USB bus FTDI's driver crashes opening a module: the tool must say so, not crash.
// Any libftd2xx.so that is not our simulated module stands in for FTDI's here.
#include <gtest/gtest.h>
#include <unistd.h>

#include <nlohmann/json.hpp>
#include <string>

#include "support/program.h"

namespace {

using Output = korvelan380::test::ProgramOutput;

// Runs the tool with its standard error in its standard output.
Output Tool(const std::string& args, const std::string& driverDir) {
  return korvelan380::test::RunProgram(
      std::string(KORVELAN380_TOOL_PATH) + " " + args,
      {{"XDG_STATE_HOME=" + ::testing::TempDir(), "LD_LIBRARY_PATH=" + driverDir}, {}, true});
}

class NoUsbBus : public ::testing::Test {
 protected:
  void SetUp() override {
    if (access("/dev/bus/usb", F_OK) == 0) GTEST_SKIP() << "this machine has a USB bus";
  }
};

TEST_F(NoUsbBus, CommandsStopBeforeTheDriverOpens) {
  for (const char* command : {"-d 7 info", "-d 7 out 0 1V", "-d 7 dio in"}) {
    const Output o = Tool(command, KORVELAN380_OTHER_DRIVER_DIR);
    EXPECT_EQ(o.exit, 1) << command << "\n" << o.out;
    EXPECT_NE(o.out.find("korvelan380: module 7: no USB bus is visible here (/dev/bus/usb does "
                         "not exist): a container or virtual machine without USB passthrough?"),
              std::string::npos)
        << o.out;
  }
}

TEST_F(NoUsbBus, DoctorReportsTheBusAndItsRemedy) {
  const Output o = Tool("-d 7 doctor --json", KORVELAN380_OTHER_DRIVER_DIR);
  EXPECT_EQ(o.exit, 1) << o.out;
  const auto doc = nlohmann::json::parse(o.out);
  bool bus = false, connect = false;
  for (const auto& check : doc["checks"]) {
    if (check["check"] == "USB bus") {
      bus = true;
      EXPECT_EQ(check["result"], "problem");
      EXPECT_NE(check["detail"].get<std::string>().find("USB passthrough"), std::string::npos);
      EXPECT_NE(check["detail"].get<std::string>().find("--device /dev/bus/usb"),
                std::string::npos);
    }
    if (check["check"] == "connect") {
      connect = true;
      EXPECT_EQ(check["result"], "problem");
    }
  }
  EXPECT_TRUE(bus && connect) << o.out;
}

TEST_F(NoUsbBus, OurSimulatedModuleAndAMissingDriverAreNotTakenForIt) {
  // The simulated module needs no bus, found by the loader or asked for with --sim.
  EXPECT_EQ(Tool("-d 7 doctor", KORVELAN380_SIM_DIR).out.find("USB bus"), std::string::npos);
  EXPECT_EQ(Tool("--sim-state " + ::testing::TempDir() + "/usb-bus-state --sim -d 7 info",
                 KORVELAN380_OTHER_DRIVER_DIR)
                .exit,
            0);
  // No driver at all: the library's own status.
  const Output o = Tool("-d 7 info", "/nonexistent");
  EXPECT_EQ(o.exit, 1);
  EXPECT_NE(o.out.find("the driver could not open module 7 (status 4)"), std::string::npos)
      << o.out;
}

}  // namespace
