// sim: the simulated module itself: attach, detach, reset, what its inputs see, what its outputs
// put out, and its state.
#include <CLI/CLI.hpp>
#include <memory>

#include "app/commands.h"
#include "core/values.h"

namespace korvelan380::tool {
namespace {
constexpr uint32_t kEepromSize = 128;  // a module's first use, as in any other command

// A module the state file does not know is attached first, as any other command does.
void RequireAttached(Simulator& sim, const std::string& serial) {
  if (!sim.Knows(serial)) sim.AttachFresh(serial, kEepromSize, true);
  if (!sim.IsAttached(serial)) {
    throw ToolError("the simulated module " + serial + " is not attached", kExitFailed);
  }
}

void SimCommand(Session& s, Report& r, const std::string& what, const std::string& arg1,
                const std::string& arg2, uint32_t eepromSize, bool blank) {
  Simulator& sim = *s.sim();
  const std::string serial = s.Serial();
  if (what == "attach" || what == "reset") {
    if (what == "attach" && sim.IsAttached(serial)) {
      ToolError error("the simulated module " + serial + " is already attached", kExitUsage);
      error.hint = "'korvelan380 sim reset' gives a fresh one";
      throw error;
    }
    sim.AttachFresh(serial, eepromSize, !blank);
    r.json = {{"serial", serial},
              {"attached", true},
              {"eeprom_size", eepromSize},
              {"calibration", blank ? "blank EEPROM" : "ideal"}};
    r.Line("simulated module " + serial + (what == "reset" ? " reset: " : " attached: ") +
           "registers 0, " + std::to_string(eepromSize) + "-byte EEPROM " +
           (blank ? "blank" : "with the ideal calibration"));
  } else if (what == "detach") {
    sim.Detach(serial);
    r.json = {{"serial", serial}, {"attached", false}};
    r.Line("simulated module " + serial + " detached: connecting it fails until it is attached");
  } else if (what == "input") {
    const bool dio = arg1 == "dio";
    if (!dio && arg1 != "exio") throw UsageError("sim input dio BYTE or sim input exio BYTE");
    const auto value = ParseByte(arg2);
    if (!value) throw UsageError(value.error);
    RequireAttached(sim, serial);
    sim.SetRegister(serial, dio ? 9 : 10, *value);
    r.json = {{"serial", serial}, {"input", arg1}, {"value", *value}};
    r.Line(std::string(dio ? "DIO" : "EXIO") + " inputs of " + serial + " now read " +
           Hex(*value, 2));
  } else if (what == "measure") {
    const uint8_t channel = ParseChannel(arg1, 1);
    RequireAttached(sim, serial);
    const double volts = sim.Measure(serial, channel);
    r.json = {{"serial", serial}, {"channel", channel}, {"volts", volts}};
    r.Line(FormatVolts(volts));
  } else {
    r.json["library"] = sim.LibraryPath();
    r.json["state_file"] = sim.StatePath();
    r.json["modules"] = ordered_json::array();
    r.Line("simulator library: " + sim.LibraryPath());
    r.Line("state file: " + sim.StatePath());
    for (const std::string& known : sim.KnownSerials()) {
      const bool attached = sim.IsAttached(known);
      r.json["modules"].push_back({{"serial", known}, {"attached", attached}});
      r.Line("  " + known + (attached ? " attached" : " detached"));
    }
  }
}

}  // namespace

void RegisterSim(CommandSet& set) {
  auto a = std::make_shared<Args>();
  auto eepromSize = std::make_shared<uint32_t>(kEepromSize);
  auto blank = std::make_shared<bool>(false);
  Command& c = set.Add("sim", "the simulated module: status, attach, detach, reset, input, measure",
                       {"korvelan380 sim status", "korvelan380 -d 3 sim attach --eeprom-size 256",
                        "korvelan380 sim detach", "korvelan380 sim reset --blank",
                        "korvelan380 sim input dio 0xA5     (what the DIO inputs see)",
                        "korvelan380 sim measure 0          (the volts channel 0 puts out)",
                        "The sim commands always use the simulated module; --sim is implied."});
  c.connect = false;
  c.sim = true;
  c.attachFirstUse = false;
  c.app
      ->add_option("ACTION", a->what,
                   "status (the default), attach, detach, reset, input or measure")
      ->check(CLI::IsMember({"status", "attach", "detach", "reset", "input", "measure"}));
  c.app->add_option("PORT", a->low, "with input: dio or exio; with measure: the channel, 0 or 1");
  c.app->add_option("BYTE", a->value, "with input: the byte the inputs see");
  c.app->add_option("--eeprom-size", *eepromSize, "attach, reset: EEPROM user area bytes (128)");
  c.app->add_flag("--blank", *blank,
                  "attach, reset: a blank EEPROM instead of the ideal calibration");
  c.run = [a, eepromSize, blank](Session& s, Report& r) {
    SimCommand(s, r, a->what, a->low, a->value, *eepromSize, *blank);
  };
}

}  // namespace korvelan380::tool
