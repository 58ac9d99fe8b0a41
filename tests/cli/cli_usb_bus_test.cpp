// The tool on drivers other than the simulated module. Without a USB bus FTDI's driver crashes
// opening a module: the tool must say so, not crash. Any libftd2xx.so that is not our simulated
// module stands in for FTDI's here; the partial one lacks FT_EE_UAWrite.
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
  // A driver the library refuses, a function missing: the library's own status again.
  const Output partial = Tool("-d 7 info", KORVELAN380_PARTIAL_DRIVER_DIR);
  EXPECT_NE(partial.out.find("the driver could not open module 7 (status 4)"), std::string::npos)
      << partial.out;
}

// The doctor's driver checks, each check by name from its report ("" when it made none).
struct Doctor {
  int exit = -1;
  nlohmann::json checks;
  std::string Detail(const std::string& name, const std::string& result) const {
    for (const auto& check : checks) {
      if (check["check"] == name) {
        EXPECT_EQ(check["result"], result) << name << ": " << check["detail"];
        return check["detail"];
      }
    }
    return "";
  }
};

Doctor RunDoctor(const std::string& args, const std::string& driverDir) {
  const Output o = Tool("-d 7 " + args + " --json", driverDir);
  const auto doc = nlohmann::json::parse(o.out, nullptr, false);
  EXPECT_FALSE(doc.is_discarded()) << o.out;
  return {o.exit, doc.is_discarded() ? nlohmann::json() : doc.value("checks", nlohmann::json())};
}

TEST(DoctorOnOtherDrivers, NamesWhereTheDriverIsAndWhatItLacks) {
  const Doctor complete = RunDoctor("doctor", KORVELAN380_OTHER_DRIVER_DIR);
  EXPECT_EQ(
      complete.Detail("driver library", "ok"),
      std::string("libftd2xx.so loads from ") + KORVELAN380_OTHER_DRIVER_DIR + "/libftd2xx.so");
  EXPECT_EQ(complete.Detail("driver functions", "ok"), "all ten the library needs are there");

  const Doctor partial = RunDoctor("doctor", KORVELAN380_PARTIAL_DRIVER_DIR);
  EXPECT_EQ(partial.exit, 1);
  EXPECT_EQ(partial.Detail("driver functions", "problem"), "missing: FT_EE_UAWrite");

  const Doctor none = RunDoctor("doctor", "/nonexistent");
  EXPECT_EQ(none.exit, 1);
  EXPECT_EQ(none.Detail("driver library", "problem").rfind("libftd2xx.so does not load: ", 0), 0u);
  EXPECT_EQ(none.Detail("driver functions", ""), "");  // nothing to look into
}

TEST(DoctorOnOtherDrivers, TimingNeedsTheWholeDriver) {
  for (const auto& [dir, says] :
       {std::pair{KORVELAN380_PARTIAL_DRIVER_DIR, "libftd2xx.so lacks driver functions"},
        std::pair{"/nonexistent", "libftd2xx.so does not load: "}}) {
    const Output o = Tool("-d 7 doctor --timing", dir);
    EXPECT_EQ(o.exit, 1) << dir;
    EXPECT_NE(o.out.find(says), std::string::npos) << o.out;
  }
}

}  // namespace
