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

// Runs the tool with its standard error in its standard output, the library choosing its driver
// as KORVELAN380_DRIVER says ("": libftd2xx.so, else the open driver).
Output Tool(const std::string& args, const std::string& driverDir,
            const std::string& request = "") {
  return korvelan380::test::RunProgram(
      std::string(KORVELAN380_TOOL_PATH) + " " + args,
      {{"XDG_STATE_HOME=" + ::testing::TempDir(), "LD_LIBRARY_PATH=" + driverDir,
        "KORVELAN380_DRIVER=" + request},
       {},
       true});
}

bool OpenBackendBuilt() {
  return access(KORVELAN380_OPEN_DRIVER, F_OK) == 0;
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

TEST_F(NoUsbBus, TheOpenBackendIsNotTakenForIt) {
  // Its libusb finds no device rather than crash, even with FTDI's driver there to be had.
  const Output o = Tool("-d 7 info", KORVELAN380_OTHER_DRIVER_DIR, "open");
  EXPECT_EQ(o.exit, 1);
  EXPECT_NE(o.out.find("the driver could not open module 7 (status 4)"), std::string::npos)
      << o.out;
  EXPECT_EQ(Tool("-d 7 doctor", KORVELAN380_OTHER_DRIVER_DIR, "open").out.find("USB bus"),
            std::string::npos);
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

Doctor RunDoctor(const std::string& args, const std::string& driverDir,
                 const std::string& request = "") {
  const Output o = Tool("-d 7 " + args + " --json", driverDir, request);
  const auto doc = nlohmann::json::parse(o.out, nullptr, false);
  EXPECT_FALSE(doc.is_discarded()) << o.out;
  return {o.exit, doc.is_discarded() ? nlohmann::json() : doc.value("checks", nlohmann::json())};
}

TEST(DoctorOnOtherDrivers, NamesTheDriverInUseAndWhy) {
  const std::string other = std::string(KORVELAN380_OTHER_DRIVER_DIR) + "/libftd2xx.so";
  const Doctor found = RunDoctor("doctor", KORVELAN380_OTHER_DRIVER_DIR);
  EXPECT_EQ(found.Detail("driver", "ok"),
            "FTDI's D2XX driver from " + other +
                " (found first: the library tries libftd2xx.so before its open driver)");
  EXPECT_EQ(found.Detail("driver functions", "ok"), "all ten the library needs are there");
  EXPECT_EQ(found.Detail("ftdi_sio", "ok"), "the kernel driver ftdi_sio is not loaded");

  const Doctor named = RunDoctor("doctor", "/nonexistent", other);
  EXPECT_EQ(named.Detail("driver", "ok"),
            "the driver from " + other + " (the path KORVELAN380_DRIVER names)");
  if (!OpenBackendBuilt()) return;
  const Doctor open = RunDoctor("doctor", KORVELAN380_OTHER_DRIVER_DIR, "open");
  EXPECT_EQ(open.Detail("driver", "ok"), std::string("the open driver (libftdi1) from ") +
                                             KORVELAN380_OPEN_DRIVER +
                                             " (KORVELAN380_DRIVER=open)");
  // ftdi_sio keeps FTDI's driver from a device, not libftdi, which detaches it.
  EXPECT_EQ(open.Detail("ftdi_sio", ""), "");
  EXPECT_EQ(open.Detail("driver library", ""), "");  // asked for: nothing was passed over
}

TEST(DoctorOnOtherDrivers, SaysWhyTheDriversPassedOverDoNotServe) {
  const Doctor partial = RunDoctor("doctor", KORVELAN380_PARTIAL_DRIVER_DIR, "vendor");
  EXPECT_EQ(partial.exit, 1);
  EXPECT_EQ(partial.Detail("driver", "problem"),
            "the library has no driver (KORVELAN380_DRIVER=vendor)");
  EXPECT_EQ(partial.Detail("driver functions", "problem"), "missing: FT_EE_UAWrite");
  EXPECT_EQ(partial.Detail("open driver", ""), "");  // not one the library may take

  const Doctor none = RunDoctor("doctor", "/nonexistent", "vendor");
  EXPECT_EQ(none.exit, 1);
  EXPECT_EQ(none.Detail("driver library", "problem").rfind("libftd2xx.so does not load: ", 0), 0u);
  EXPECT_EQ(none.Detail("driver functions", ""), "");  // nothing to look into

  if (!OpenBackendBuilt()) {
    EXPECT_NE(
        RunDoctor("doctor", "/nonexistent").Detail("open driver", "problem").find("libftdi1-2"),
        std::string::npos);
    return;
  }
  // Without a usable libftd2xx.so the library takes its open driver, and says what it passed over.
  const Doctor fallback = RunDoctor("doctor", KORVELAN380_PARTIAL_DRIVER_DIR);
  EXPECT_EQ(fallback.Detail("driver", "ok"),
            std::string("the open driver (libftdi1) from ") + KORVELAN380_OPEN_DRIVER +
                " (no usable libftd2xx.so was found, so the library took its open driver)");
  EXPECT_EQ(fallback.Detail("driver library", "note"),
            std::string(KORVELAN380_PARTIAL_DRIVER_DIR) +
                "/libftd2xx.so loads but lacks FT_EE_UAWrite, so the library passed it over");
  EXPECT_EQ(RunDoctor("doctor", "/nonexistent").Detail("driver library", ""), "");
}

// The open driver over an emulated FT232H: its libusb (one without udev) lists the emulator's
// device nodes, as Debian's lists a real bus's.
TEST(DoctorOnTheOpenBackend, FindsTheModuleOnTheEmulatedChip) {
  const std::string libusb = std::string(KORVELAN380_NOUDEV_LIBUSB_DIR) + "/libusb-1.0.so.0";
  if (!OpenBackendBuilt()) GTEST_SKIP() << "the open driver is not built (no libftdi1-dev)";
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the emulator cannot be preloaded before the address sanitizer's runtime";
#endif
  if (access(libusb.c_str(), F_OK) != 0) {
    GTEST_SKIP() << "no " << libusb << " (ctest -R open_driver_libusb builds it)";
  }
  const std::vector<std::string> env = {"XDG_STATE_HOME=" + ::testing::TempDir(),
                                        "LD_PRELOAD=" KORVELAN380_EMULATOR,
                                        "LD_LIBRARY_PATH=" KORVELAN380_NOUDEV_LIBUSB_DIR,
                                        "KORVELAN380_EMULATED_CHIPS=7", "KORVELAN380_DRIVER="};
  const Output o = korvelan380::test::RunProgram(
      std::string(KORVELAN380_TOOL_PATH) + " -d 7 doctor --json", {env});
  EXPECT_EQ(o.exit, 0) << o.out << o.err;
  const auto doc = nlohmann::json::parse(o.out, nullptr, false);
  const Doctor doctor{o.exit, doc.is_discarded() ? nlohmann::json() : doc["checks"]};
  EXPECT_EQ(doctor.Detail("driver", "ok"),
            std::string("the open driver (libftdi1) from ") + KORVELAN380_OPEN_DRIVER +
                " (no usable libftd2xx.so was found, so the library took its open driver)");
  EXPECT_EQ(doctor.Detail("USB device", "ok"),
            "/dev/bus/usb/001/002 (0403:6014) is an FTDI device (sysfs does not show its serial "
            "number), this user may open it");
  EXPECT_EQ(doctor.Detail("connect", "ok"), "module 7 opens and answers");
  EXPECT_EQ(doctor.Detail("latency timer", "ok"), "2 ms, set at connect (the tool's default)");
  // The round trips through the driver the library took.
  const Output timing = korvelan380::test::RunProgram(
      std::string(KORVELAN380_TOOL_PATH) + " -d 7 doctor --timing --latency keep", {env});
  EXPECT_NE(timing.out.find("median"), std::string::npos) << timing.out << timing.err;
  EXPECT_EQ(timing.err.find("could not open"), std::string::npos) << timing.err;
}

TEST(DoctorOnOtherDrivers, TimingNeedsADriverTheLibraryTakes) {
  for (const char* dir : {KORVELAN380_PARTIAL_DRIVER_DIR, "/nonexistent"}) {
    const Output o = Tool("-d 7 doctor --timing", dir, "vendor");
    EXPECT_EQ(o.exit, 1) << dir;
    EXPECT_NE(o.out.find("the library has no driver"), std::string::npos) << o.out;
  }
  // The one the library takes, not the loader's libftd2xx.so: here the simulated module, named
  // by its path, which has no module 7 attached.
  const Output named = Tool("-d 7 doctor --timing", KORVELAN380_OTHER_DRIVER_DIR,
                            std::string(KORVELAN380_SIM_DIR) + "/libftd2xx.so");
  EXPECT_NE(named.out.find("the driver could not open KORVELAN3807"), std::string::npos)
      << named.out;
}

}  // namespace
