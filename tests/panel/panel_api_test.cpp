// The panel's JSON API over real HTTP: each endpoint against the simulated module, every kind of
// bad request refused before anything reaches the module, and the token, Host and Origin checks.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <memory>

#include "panel_support.h"

namespace korvelan380::test {
namespace {

class PanelApiTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new std::filesystem::path(TestDir("api"));
    panel_ = new Panel((*dir_ / "state.json").string(), "0");
  }
  static void TearDownTestSuite() {
    delete panel_;
    std::filesystem::remove_all(*dir_);
    delete dir_;
  }
  static const Panel& P() { return *panel_; }

  // The new wire lines that write a register ("W .." frames).
  static size_t WritesSince(const json& before) {
    const json after = P().Wire();
    size_t writes = 0;
    for (size_t i = before.size(); i < after.size(); ++i) {
      writes += after[i]["frame"].get<std::string>().rfind("W ", 0) == 0;
    }
    return writes;
  }

  static std::filesystem::path* dir_;
  static Panel* panel_;
};
std::filesystem::path* PanelApiTest::dir_ = nullptr;
Panel* PanelApiTest::panel_ = nullptr;

TEST_F(PanelApiTest, InfoSaysTheModuleIsSimulated) {
  const Reply info = P().Get("info");
  ASSERT_EQ(info.status, 200);
  EXPECT_EQ(info.body["simulated"], true);
  EXPECT_EQ(info.body["serial"], "KORVELAN3800");
  EXPECT_EQ(info.body["ranges"].size(), 7u);
  EXPECT_EQ(info.body["ranges"][5]["name"], "0..5V");
  EXPECT_EQ(info.body["latency"]["ms"], 2);  // the tool's default, set at connect
}

TEST_F(PanelApiTest, OutputsSetAndReadBackInVoltsRawAndCode) {
  ASSERT_EQ(P().Post("range", json{{"channel", 0}, {"range", "uni5"}}).status, 200);
  Reply r = P().Post("output", json{{"channel", 0}, {"volts", 2.5}});
  ASSERT_EQ(r.status, 200) << r.body;
  EXPECT_EQ(r.body["output"]["range"]["name"], "0..5V");
  EXPECT_DOUBLE_EQ(r.body["output"]["volts"].get<double>(), 2.5);
  EXPECT_EQ(r.body["output"]["raw"], 8192);

  ASSERT_EQ(P().Post("range", json{{"channel", 1}, {"range", 0}}).status, 200);
  r = P().Post("output", json{{"channel", 1}, {"raw", 0}});
  EXPECT_DOUBLE_EQ(r.body["output"]["volts"].get<double>(), -10.0);
  r = P().Post("output", json{{"channel", 1}, {"code", 0x1234}});
  EXPECT_EQ(r.body["output"]["code"], 0x1234);

  const Reply both = P().Get("output");
  ASSERT_EQ(both.body["channels"].size(), 2u);
  EXPECT_EQ(both.body["channels"][0]["raw"], 8192);
  EXPECT_EQ(both.body["channels"][1]["code"], 0x1234);
}

TEST_F(PanelApiTest, ChannelConfigurationReadsBackAndABadCombinationShowsTheStatus) {
  Reply r = P().Post("channel", json{{"channel", 1},
                                     {"mode", 2},
                                     {"select_a", 2},
                                     {"switch_b", 1},
                                     {"mode_parameter", 0x55AA}});
  ASSERT_EQ(r.status, 200) << r.body;
  EXPECT_EQ(r.body["settings"]["mode"], 2);
  EXPECT_EQ(P().Get("channel").body["channels"][1]["mode_parameter"], 0x55AA);

  // Mode 3 takes selectors 0 or 1: the library refuses it, and sends nothing.
  const json before = P().Wire();
  r = P().Post("channel", json{{"channel", 0}, {"mode", 3}, {"select_a", 2}});
  EXPECT_EQ(r.status, 400);
  EXPECT_EQ(r.body["error"]["call"], "KORVELAN380_DacChSet");
  EXPECT_EQ(r.body["error"]["status"], 1);
  EXPECT_EQ(r.body["error"]["meaning"], "an argument is outside its accepted values");
  EXPECT_EQ(WritesSince(before), 0u);
}

TEST_F(PanelApiTest, WaveformsArePlottedClippedAndLoaded) {
  ASSERT_EQ(P().Post("range", json{{"channel", 0}, {"range", "-10..10V"}}).status, 200);
  json before = P().Wire();
  // Plotted only: nothing is written.
  Reply r = P().Post("wave", json{{"channel", 0},
                                  {"shape", "square"},
                                  {"samples", 100},
                                  {"amplitude", 1},
                                  {"offset", 9.5}});
  ASSERT_EQ(r.status, 200) << r.body;
  EXPECT_EQ(r.body["count"], 100);
  EXPECT_EQ(r.body["loaded"], nullptr);
  ASSERT_EQ(r.body["clipped"].size(), 50u);  // the upper half, at 10.5 V
  EXPECT_EQ(r.body["clipped"][0], 0);
  EXPECT_DOUBLE_EQ(r.body["volts"][0].get<double>(), 10.5);
  EXPECT_EQ(WritesSince(before), 0u);

  // Loading clipped samples needs the clip flag.
  json load = {{"channel", 0},   {"shape", "square"}, {"samples", 100},
               {"amplitude", 1}, {"offset", 9.5},     {"load", "memory"}};
  r = P().Post("wave", load);
  EXPECT_EQ(r.status, 400);
  EXPECT_NE(r.body["error"]["message"].get<std::string>().find("50 of 100"), std::string::npos);
  load["clip"] = true;
  r = P().Post("wave", load);
  ASSERT_EQ(r.status, 200) << r.body;
  EXPECT_EQ(r.body["loaded"], "memory");
  bool lengthSet = false;
  for (const json& line : P().Wire()) {
    lengthSet |=
        line["meaning"] == "set registers 58-60 (waveform length of channel 0) to 0x000063";
  }
  EXPECT_TRUE(lengthSet) << "the image length (count - 1) was not written";

  // A CSV column by name, into the FIFO.
  r = P().Post("wave", json{{"channel", 1},
                            {"csv", "time,volts\n0,1.0\n1,-1.0\n2,0.5\n"},
                            {"column", "volts"},
                            {"load", "fifo"}});
  ASSERT_EQ(r.status, 200) << r.body;
  EXPECT_EQ(r.body["count"], 3);
  EXPECT_EQ(r.body["volts"], json({1.0, -1.0, 0.5}));
  EXPECT_EQ(r.body["loaded"], "fifo");
}

// The stream bodies that went on the wire since `before`: "N samples" and the first code.
std::vector<std::string> StreamsSince(const json& before, const json& after) {
  std::vector<std::string> streams;
  for (size_t i = before.size(); i < after.size(); ++i) {
    const std::string meaning = after[i]["meaning"];
    if (meaning.rfind("stream body", 0) == 0) {
      streams.push_back(after[i]["frame"].get<std::string>() + ", " + meaning);
    }
  }
  return streams;
}

// The same samples as `korvelan380 wave` takes them: a CSV column by name or number; volts and
// raw values through the calibration into memory or FIFO, codes into the FIFO as given. Channel
// 1's -10..10V entry is set 256 codes above the ideal, so that a calibration skipped shows.
TEST_F(PanelApiTest, CsvSamplesAreCalibratedUnlessTheyAreCodes) {
  ASSERT_EQ(P().Post("range", json{{"channel", 1}, {"range", 0}}).status, 200);
  const json ideal = P().Get("calib").body["document"];
  json offset = ideal;
  offset["entries"][7]["offset"] = 0x2100;
  ASSERT_EQ(P().Post("calib", json{{"document", offset}, {"save", false}}).status, 200);

  // 1.0 V is raw 9011, its code 9267 here, sent as 0x2430 (the lowest two bits cleared).
  const std::string calibrated = "2 samples, stream body, four hex digits a sample, starting 2430";
  const std::string csv = "\"Time (s)\";Volts\r\n0;1.0\r\n1;-1.0\r\n";
  const json loads[] = {
      {{"channel", 1}, {"csv", csv}, {"column", "Volts"}, {"load", "memory"}},
      {{"channel", 1}, {"csv", csv}, {"column", 2}, {"load", "fifo"}},
      {{"channel", 1}, {"csv", "raw\n9011\n7373\n"}, {"units", "raw"}, {"load", "fifo"}},
  };
  for (const json& load : loads) {
    SCOPED_TRACE(load.dump());
    const json before = P().Wire();
    const Reply r = P().Post("wave", load);
    ASSERT_EQ(r.status, 200) << r.body;
    EXPECT_NEAR(r.body["volts"][0].get<double>(), 1.0, 0.001);
    EXPECT_EQ(StreamsSince(before, P().Wire()), std::vector<std::string>{calibrated});
  }

  const json before = P().Wire();
  const Reply codes = P().Post(
      "wave",
      json{{"channel", 1}, {"csv", "9011\n0xFFFF\n"}, {"units", "codes"}, {"load", "fifo"}});
  ASSERT_EQ(codes.status, 200) << codes.body;
  EXPECT_EQ(codes.body["units"], "codes");
  // What the calibration makes of code 9011: raw 8755, 0.687256 V; 0xFFFF stands for none.
  EXPECT_NEAR(codes.body["volts"][0].get<double>(), -10 + 8755 * 20.0 / 16384, 1e-6);
  EXPECT_EQ(codes.body["volts"][1], nullptr);
  EXPECT_EQ(
      StreamsSince(before, P().Wire()),
      std::vector<std::string>{"2 samples, stream body, four hex digits a sample, starting 2330"});
  ASSERT_EQ(P().Post("calib", json{{"document", ideal}, {"save", false}}).status, 200);
}

TEST_F(PanelApiTest, FifoTriggerGateSelectionsAndClock) {
  Reply r = P().Post("fifo", json{{"action", "clear"}, {"channel", 1}});
  ASSERT_EQ(r.status, 200) << r.body;
  EXPECT_EQ(r.body["fifo"].size(), 2u);

  r = P().Post("trigger", json{{"channel", 1}, {"gate", true}});
  ASSERT_EQ(r.status, 200) << r.body;
  EXPECT_EQ(r.body["gate"].size(), 3u);
  EXPECT_EQ(r.body["trigger"].size(), 2u);
  r = P().Post("trigger", json{{"channel", 2}, {"trigger", "start"}});
  ASSERT_EQ(r.status, 200) << r.body;
  bool gateSet = false;
  bool triggerSet = false;
  for (const json& line : P().Wire()) {
    gateSet |= line["meaning"] == "set register 28 (gate of channel 1) to 0x01";
    triggerSet |= line["meaning"] == "set register 6 (trigger of channel 2) to 0x01";
  }
  EXPECT_TRUE(gateSet);
  EXPECT_TRUE(triggerSet);

  r = P().Post("select", json{{"which", "ext"}, {"low", 2}, {"high", 4}});
  ASSERT_EQ(r.status, 200) << r.body;
  EXPECT_EQ(r.body["ext"], json({{"low", 2}, {"high", 4}}));
  r = P().Post("select", json{{"which", "exio"}, {"low", 6}, {"high", 1}});
  EXPECT_EQ(r.body["exio"], json({{"low", 6}, {"high", 1}}));
  EXPECT_TRUE(r.body["exio_input"].is_number());
  r = P().Post("select", json{{"which", "clock"}, {"channel", 2}, {"setting", 1000}});
  EXPECT_EQ(r.status, 200) << r.body;
}

TEST_F(PanelApiTest, DigitalIoWritesEitherByteOrBoth) {
  Reply r = P().Post("dio", json{{"direction", 0xF0}, {"output", 0xA5}});
  ASSERT_EQ(r.status, 200) << r.body;
  EXPECT_EQ(r.body["direction"], 0xF0);
  EXPECT_EQ(r.body["output"], 0xA5);
  r = P().Post("dio", json{{"output", 0x08}});
  EXPECT_EQ(r.body["direction"], 0xF0);
  EXPECT_EQ(r.body["output"], 0x08);
  EXPECT_TRUE(P().Get("dio").body["input"].is_number());
}

TEST_F(PanelApiTest, CalibrationExportsAndImportsOnlyWhatIsValid) {
  const Reply got = P().Get("calib");
  ASSERT_EQ(got.status, 200);
  ASSERT_EQ(got.body["entries"].size(), 14u);
  json document = got.body["document"];
  EXPECT_EQ(document["format"], "korvelan380 calibration");

  // A broken document changes nothing.
  json broken = document;
  broken["entries"].erase(3);
  Reply r = P().Post("calib", json{{"document", broken}, {"save", true}});
  EXPECT_EQ(r.status, 400);
  EXPECT_EQ(r.body["error"]["message"].get<std::string>().rfind("the calibration: ", 0), 0u)
      << r.body;
  EXPECT_EQ(P().Get("calib").body["entries"], got.body["entries"]);

  document["entries"][13]["offset"] = 7;
  const json before = P().Wire();
  r = P().Post("calib", json{{"document", document}, {"save", false}});
  ASSERT_EQ(r.status, 200) << r.body;
  EXPECT_EQ(r.body["entries"][13]["offset"], 7);
  EXPECT_EQ(WritesSince(before), 0u);
  bool stored = false;
  ASSERT_EQ(P().Post("calib", json{{"document", document}, {"save", true}}).status, 200);
  for (const json& line : P().Wire()) {
    stored |= line["meaning"] == "calibration record stored in the EEPROM";
  }
  EXPECT_TRUE(stored);
  ASSERT_EQ(P().Post("calib", json{{"document", got.body["document"]}, {"save", true}}).status,
            200);
}

TEST_F(PanelApiTest, BadRequestsAreRefusedBeforeTheModuleIsWritten) {
  struct Case {
    const char* endpoint;
    const char* body;
    const char* message;  // a part of the error message
  };
  const Case cases[] = {
      {"output", "{\"channel\": 0, \"volts\": ", "not valid JSON"},
      {"output", "[0, 2.5]", "JSON object"},
      {"output", R"({"channel": "0", "volts": 1})", "'channel' is a whole number 0 to 1"},
      {"output", R"({"channel": 2, "volts": 1})", "0 to 1, not 2"},
      {"output", R"({"channel": -1, "volts": 1})", "not -1"},
      {"output", R"({"channel": 0.5, "volts": 1})", "whole number"},
      {"output", R"({"volts": 1})", "'channel' is missing"},
      {"output", R"({"channel": 0, "volts": 1, "raw": 5})", "one of 'volts', 'raw' or 'code'"},
      {"output", R"({"channel": 0, "raw": 16384})", "0 to 16383"},
      {"output", R"({"channel": 0, "volts": "2.5"})", "'volts' is a number"},
      {"output", R"({"channel": 0, "volts": 25})", "outside the range"},
      {"output", R"({"channel": 0, "volt": 1})", "unknown field 'volt'"},
      {"range", R"({"channel": 3, "range": 1})", "0 to 2"},
      {"range", R"({"channel": 0, "range": "12V"})", "12V"},
      {"range", R"({"channel": 0, "range": 7})", "0 to 6"},
      {"channel", R"({"channel": 0, "mode": 4})", "'mode' is a whole number 0 to 3"},
      {"channel", R"({"channel": 0})", "'mode' is missing"},
      {"channel",
       R"({"channel": 0, "mode": 1, "preset_enable": 1, "preset_raw": 1, "preset_volts": 1})",
       "not both"},
      {"wave", R"({"channel": 0})", "'shape' or a 'csv'"},
      {"wave", R"({"channel": 0, "shape": "sine", "csv": "1"})", "'shape' or a 'csv'"},
      {"wave", R"({"channel": 0, "shape": "sawtooth"})", "sine, square, triangle, saw"},
      {"wave", R"({"channel": 0, "shape": "sine", "samples": 0})", "1 to 524288"},
      {"wave", R"({"channel": 0, "shape": "sine", "samples": 524289})", "1 to 524288"},
      {"wave", R"({"channel": 0, "shape": "sine", "cycles": 0})", "'cycles'"},
      {"wave", R"({"channel": 0, "shape": "sine", "load": "flash"})", "memory, fifo"},
      {"wave", R"({"channel": 0, "csv": "1,2\n3,4\n", "load": "memory"})", "choose a column"},
      {"wave", R"({"channel": 0, "csv": "t,v\n1,2\n", "column": "volts"})", "no column 'volts'"},
      {"wave", R"({"channel": 0, "csv": "1\n", "units": "amps"})", "volts, raw, codes"},
      {"wave", R"({"channel": 0, "csv": "70000\n", "units": "codes"})", "0 to 65535"},
      {"wave", R"({"channel": 0, "csv": "1\n", "units": "codes", "load": "memory"})",
       "codes go to the FIFO as given"},
      {"wave", R"({"channel": 0, "shape": "sine", "units": "raw"})", "the shapes make volts"},
      {"wave", R"({"channel": 0, "csv": "1\nabc\n", "load": "memory"})", "line 2"},
      {"wave", R"({"channel": 0, "csv": "# nothing\n"})", "no samples"},
      {"fifo", R"({"action": "flush", "channel": 0})", "'action' is one of clear"},
      {"trigger", R"({"channel": 0, "trigger": "start", "gate": true})", "'trigger'"},
      {"trigger", R"({"channel": 0, "gate": 1})", "'gate' is true or false"},
      {"select", R"({"which": "ext", "low": 5, "high": 0})", "0 to 4"},
      {"select", R"({"which": "exio", "low": 0, "high": 7})", "0 to 6"},
      {"select", R"({"which": "clock", "channel": 0, "setting": 98})", "99 to 4294967295"},
      {"select", R"({"which": "gpio"})", "ext, exio, clock"},
      {"dio", R"({})", "'direction' or 'output'"},
      {"dio", R"({"output": 256})", "0 to 255"},
      {"dio", R"({"output": true})", "0 to 255"},
      {"calib", R"({"save": true})", "'document'"},
      {"calib", R"({"document": {}})", "'save' is missing"},
      {"calib", R"({"document": {"format": "x"}, "save": true})", "not a calibration file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.endpoint) + " " + c.body);
    const json before = P().Wire();
    const Reply r = P().PostText(c.endpoint, c.body);
    EXPECT_EQ(r.status, 400);
    ASSERT_TRUE(r.body.contains("error")) << r.body;
    EXPECT_NE(r.body["error"]["message"].get<std::string>().find(c.message), std::string::npos)
        << r.body["error"]["message"];
    EXPECT_EQ(WritesSince(before), 0u);
  }
}

TEST_F(PanelApiTest, UnknownEndpointsAndMethods) {
  EXPECT_EQ(P().Get("nothing").status, 404);
  EXPECT_EQ(P().Get("range").status, 405);
  EXPECT_EQ(P().PostText("info", "{}").status, 405);
  EXPECT_EQ(P().PostText("wire", "{}").status, 405);
  EXPECT_EQ(P().Client().Put("/api/nothing", "{}", "application/json")->status, 404);
}

TEST_F(PanelApiTest, TokenHostAndOriginAreChecked) {
  httplib::Client bare("127.0.0.1", P().port);
  auto status = [&](const httplib::Headers& headers, const std::string& path = "/api/info") {
    const auto res = bare.Get(path, headers);
    return res ? res->status : -1;
  };
  const std::string port = std::to_string(P().port);
  const httplib::Headers token = {{"X-Korvelan380-Token", P().token}};
  EXPECT_EQ(status({}), 403);
  EXPECT_EQ(status({{"X-Korvelan380-Token", P().token.substr(1) + "0"}}), 403);
  EXPECT_EQ(status({{"X-Korvelan380-Token", ""}}), 403);
  EXPECT_EQ(status(token), 200);
  EXPECT_EQ(status({}, "/api/info?token=" + P().token), 200);
  EXPECT_EQ(status({}, "/api/info?token=" + P().token + "x"), 403);

  auto withHost = [&](const std::string& host) {
    httplib::Headers h = token;
    h.emplace("Host", host);
    return status(h);
  };
  EXPECT_EQ(withHost("localhost:" + port), 200);
  EXPECT_EQ(withHost("[::1]:" + port), 200);
  EXPECT_EQ(withHost("attacker.example:" + port), 403);  // DNS rebinding
  EXPECT_EQ(withHost("127.0.0.1.attacker.example:" + port), 403);
  EXPECT_EQ(withHost("127.0.0.1:" + std::to_string(P().port + 1)), 403);
  EXPECT_EQ(withHost("127.0.0.1"), 403);

  httplib::Headers crossSite = token;
  crossSite.emplace("Origin", "http://attacker.example");
  EXPECT_EQ(status(crossSite), 403);
  httplib::Headers sameSite = token;
  sameSite.emplace("Origin", "http://127.0.0.1:" + port);
  EXPECT_EQ(status(sameSite), 200);
  const auto post = bare.Post("/api/dio", crossSite, R"({"output": 1})", "application/json");
  ASSERT_TRUE(post);
  EXPECT_EQ(post->status, 403);

  // The page and its files need the token too; they are served from inside the tool.
  EXPECT_EQ(status({}, "/"), 403);
  const auto page = bare.Get("/?token=" + P().token);
  ASSERT_TRUE(page);
  EXPECT_EQ(page->status, 200);
  EXPECT_NE(page->body.find("/dygraph.js?token=" + P().token), std::string::npos);
  EXPECT_EQ(page->body.find("https://"), std::string::npos) << "the page loads nothing from afar";
  const auto dygraph = bare.Get("/dygraph.js?token=" + P().token);
  ASSERT_TRUE(dygraph);
  EXPECT_EQ(dygraph->status, 200);
  EXPECT_NE(dygraph->body.find("Dygraph"), std::string::npos);
  EXPECT_EQ(status({}, "/dygraph.js"), 403);
}

// The calibration goes out and back as data: with no folder for temporary files, the round trip
// still works. (Under Wine the folder is left as it is: Wine needs its own.)
TEST(PanelCalibration, RoundTripsWithoutTemporaryFiles) {
  const auto dir = TestDir("calib");
  const std::string none = (dir / "no such folder").string();
  const char* saved = std::getenv("TMPDIR");
  const std::string previous = saved != nullptr ? saved : "";
  if (!WindowsTool()) setenv("TMPDIR", none.c_str(), 1);
  Panel panel((dir / "state.json").string(), "3");
  if (saved != nullptr) {
    setenv("TMPDIR", previous.c_str(), 1);
  } else {
    unsetenv("TMPDIR");
  }

  const Reply got = panel.Get("calib");
  ASSERT_EQ(got.status, 200) << got.body;
  json document = got.body["document"];
  document["entries"][4]["gain_bits"] = "0x7FC12345";  // a NaN with a payload
  document["entries"][4].erase("gain");
  document["entries"][9]["offset"] = 4321;
  // Refused as no module's gain, then taken when forced, bit for bit.
  const Reply refused = panel.Post("calib", json{{"document", document}, {"save", true}});
  EXPECT_EQ(refused.status, 400) << refused.body;
  EXPECT_NE(refused.body.dump().find("entry 4"), std::string::npos) << refused.body;
  EXPECT_EQ(panel.Get("calib").body["summary"], "ideal: every raw value is its own code");
  const Reply set =
      panel.Post("calib", json{{"document", document}, {"save", true}, {"force", true}});
  ASSERT_EQ(set.status, 200) << set.body;
  const json back = panel.Get("calib").body;
  EXPECT_EQ(back["entries"], set.body["entries"]);
  EXPECT_EQ(back["entries"][4]["gain_bits"], "0x7FC12345");
  EXPECT_EQ(back["entries"][4]["gain"], nullptr);
  EXPECT_EQ(back["document"]["entries"][9]["offset"], 4321);
  EXPECT_EQ(back["summary"], "2 of 14 entries differ from ideal");
  EXPECT_FALSE(std::filesystem::exists(none));
  std::filesystem::remove_all(dir);
}

// The guided calibration, one reading a request: the simulated module's output measured stands
// for the meter, and what a second tab or a reloaded page sends out of turn changes nothing.
class PanelAdjustTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = TestDir("adjust");
    panel_ = std::make_unique<Panel>((dir_ / "state.json").string(), "4");
  }
  void TearDown() override {
    panel_.reset();
    std::filesystem::remove_all(dir_);
  }

  Reply Start(const json& which) const {
    json body = which;
    body["action"] = "start";
    return panel_->Post("adjust", body);
  }
  // The reading for the point awaited, as the simulated module's output measures.
  Reply Read(const json& state) const {
    const json& awaited = state["awaited"];
    return panel_->Post("adjust", json{{"action", "reading"},
                                       {"adjustment", state["adjustment"]},
                                       {"pair", awaited["pair"]},
                                       {"point", awaited["point"]},
                                       {"volts", awaited["simulated_reading"]}});
  }
  Reply End(const char* action, const json& state) const {
    return panel_->Post("adjust", json{{"action", action}, {"adjustment", state["adjustment"]}});
  }

  std::filesystem::path dir_;
  std::unique_ptr<Panel> panel_;
};

TEST_F(PanelAdjustTest, OnePairFittedFromThreeReadingsIsKeptInTheEeprom) {
  const Panel& p = *panel_;
  EXPECT_EQ(p.Get("calib").body["never_calibrated"], true);
  EXPECT_EQ(p.Get("adjust").body["active"], false);
  Reply r = Start({{"channel", 0}, {"range", "0..10V"}});
  ASSERT_EQ(r.status, 200) << r.body;
  ASSERT_EQ(r.body["pairs"], json::parse(R"([{"channel": 0, "range": 4}])"));
  EXPECT_EQ(r.body["awaited"]["point"], 0);
  EXPECT_EQ(r.body["awaited"]["adjust"]["range"], "0..10V");
  const double expected = r.body["awaited"]["adjust"]["points"][0]["expected_volts"];
  EXPECT_NEAR(expected, 1.0, 0.01);
  // The simulated converter is a few codes off: that is what the calibration takes out.
  EXPECT_GT(std::abs(r.body["awaited"]["simulated_reading"].get<double>() - expected),
            10.0 / 16384);
  for (int point = 0; point < 3; ++point) {
    ASSERT_EQ(r.body["awaited"]["point"], point) << r.body;
    r = Read(r.body);
    ASSERT_EQ(r.status, 200) << r.body;
  }
  EXPECT_EQ(r.body["awaited"], nullptr);
  EXPECT_EQ(r.body["finished"], true);
  ASSERT_EQ(r.body["fits"].size(), 1u);
  const json fit = r.body["fits"][0];
  for (const json& point : fit["points"]) {
    EXPECT_LE(std::abs(point["error_lsb"].get<double>()), 1.0) << fit;
  }
  EXPECT_NE(fit["new"]["gain"], fit["old"]["gain"]);

  const json before = p.Wire();
  r = End("keep", r.body);
  ASSERT_EQ(r.status, 200) << r.body;
  EXPECT_EQ(r.body["outcome"], "kept");
  EXPECT_EQ(r.body["active"], false);
  bool stored = false;
  const json after = p.Wire();
  for (size_t i = before.size(); i < after.size(); ++i) {
    stored |= after[i]["meaning"] == "calibration record stored in the EEPROM";
  }
  EXPECT_TRUE(stored);
  const json calib = p.Get("calib").body;
  EXPECT_EQ(calib["entries"][4]["offset"], fit["new"]["offset"]);
  EXPECT_EQ(calib["never_calibrated"], false);
  // The history record, as `calib adjust` writes it: beside the simulated module's state.
  const std::filesystem::path history = r.body["history"].get<std::string>();
  EXPECT_EQ(history.parent_path(), dir_ / "calibrations");
  std::ifstream file(history);
  const json record = json::parse(file, nullptr, false);
  ASSERT_TRUE(record.is_object()) << history;
  EXPECT_EQ(record["adjusted"], json::array({fit}));
  EXPECT_EQ(record["entries"][4]["offset"], fit["new"]["offset"]);
  EXPECT_EQ(End("discard", r.body).status, 409) << "an adjustment ended is not ended again";
}

TEST_F(PanelAdjustTest, OutOfTurnRefusedOrBadRequestsChangeNothing) {
  const Panel& p = *panel_;
  const json entries = p.Get("calib").body["entries"];
  httplib::Client bare("127.0.0.1", p.port);
  const auto unasked = bare.Post("/api/adjust", R"({"action": "start"})", "application/json");
  ASSERT_TRUE(unasked);
  EXPECT_EQ(unasked->status, 403);
  EXPECT_EQ(p.Get("adjust").body["adjustment"], 0) << "started without the token";

  Reply first = Start({});
  ASSERT_EQ(first.status, 200) << first.body;
  EXPECT_EQ(first.body["pairs"].size(), 14u);
  const Reply fitted = Read(Read(first.body).body);  // pair 0 fitted in the working copy
  ASSERT_EQ(fitted.status, 200) << fitted.body;
  ASSERT_EQ(fitted.body["awaited"]["point"], 2);
  EXPECT_NE(p.Get("calib").body["entries"], entries);
  const json state = p.Get("adjust").body;

  json reading = {{"action", "reading"},
                  {"adjustment", state["adjustment"]},
                  {"pair", 0},
                  {"point", 2},
                  {"volts", 25.0}};
  Reply r = p.Post("adjust", reading);
  EXPECT_EQ(r.status, 400);
  EXPECT_NE(r.body["error"]["message"].get<std::string>().find(
                "is refused: the reading is outside the range's limits"),
            std::string::npos)
      << r.body;
  const struct {
    const char* body;
    int status;
    const char* says;
  } bad[] = {
      {R"({"action": "reading", "adjustment": 1, "pair": 0, "point": 1, "volts": 1})", 409,
       "point 2 is awaited"},
      {R"({"action": "reading", "adjustment": 7, "pair": 0, "point": 2, "volts": 1})", 409,
       "calibration 7 is not the latest"},
      {R"({"action": "reading", "adjustment": 1, "pair": 0, "point": 2, "volts": "1"})", 400,
       "'volts' is a number"},
      {R"({"action": "reading", "adjustment": 1, "pair": 0, "point": 2})", 400, "'volts'"},
      {R"({"action": "reading", "adjustment": 1, "pair": 0, "point": 3, "volts": 1})", 400,
       "'point'"},
      {R"({"action": "reading", "adjustment": 1, "pair": 0, "point": 2, "volt": 1})", 400,
       "unknown field 'volt'"},
      {R"({"action": "keep", "adjustment": 1})", 400, "14 pairs are still to be measured"},
      {R"({"action": "go"})", 400, "'action' is one of"},
      {R"({"action": "start", "channel": 2})", 400, "'channel'"},
      {R"({"action": "start", "range": "11V"})", 400, "11V"},
      {R"({"action": "start", "range": 0, "range": 1})", 400, "given twice"},
  };
  for (const auto& b : bad) {
    SCOPED_TRACE(b.body);
    r = p.PostText("adjust", b.body);
    EXPECT_EQ(r.status, b.status) << r.body;
    EXPECT_NE(r.body["error"]["message"].get<std::string>().find(b.says), std::string::npos)
        << r.body;
  }
  // Importing a calibration would be overwritten at the end: refused while one is under way.
  r = p.Post("calib", json{{"document", p.Get("calib").body["document"]}, {"save", false}});
  EXPECT_EQ(r.status, 409) << r.body;
  EXPECT_EQ(p.Get("adjust").body, state);

  // A reload, or another tab, starting again: the first is thrown away, its fit undone.
  const Reply second = Start({{"channel", 0}});
  ASSERT_EQ(second.status, 200) << second.body;
  EXPECT_EQ(second.body["adjustment"], state["adjustment"].get<int>() + 1);
  EXPECT_EQ(second.body["pairs"].size(), 7u);
  EXPECT_EQ(p.Get("calib").body["entries"], entries);
  reading["volts"] = 0.0;
  EXPECT_EQ(p.Post("adjust", reading).status, 409);

  ASSERT_EQ(Read(Read(second.body).body).status, 200);
  r = End("discard", second.body);
  ASSERT_EQ(r.status, 200) << r.body;
  EXPECT_EQ(r.body["outcome"], "thrown away");
  EXPECT_EQ(p.Get("calib").body["entries"], entries);
  EXPECT_EQ(p.Client().Put("/api/adjust", "{}", "application/json")->status, 405);
}

// A stop by signal disconnects the module and keeps what was set in the state file.
TEST(PanelStop, InterruptDisconnectsAndSavesTheModule) {
  const auto dir = TestDir("stop");
  const std::string state = (dir / "state.json").string();
  for (int signal : StopSignals()) {
    SCOPED_TRACE(signal);
    Panel panel(state, "5");
    const double volts = signal == SIGINT ? 1.25 : -2.5;
    ASSERT_EQ(panel.Post("output", json{{"channel", 0}, {"volts", volts}}).status, 200);
    EXPECT_EQ(panel.Stop(signal), 0);
    EXPECT_NE(panel.Output().find("panel stopped; module 5 disconnected"), std::string::npos)
        << panel.Output();

    const ProgramOutput read =
        RunTool("--sim --sim-state '" + ToolPath(state) + "' -d 5 read 0 --json");
    EXPECT_EQ(read.exit, 0) << read.out << read.err;
    EXPECT_DOUBLE_EQ(json::parse(read.out)["volts"].get<double>(), volts);
  }
  std::filesystem::remove_all(dir);
}

// A name to listen on could resolve to anywhere: it is refused before anything starts.
TEST(PanelListen, ANameIsRefused) {
  const auto dir = TestDir("listen");
  const ProgramOutput o = RunTool("--sim --sim-state '" + ToolPath((dir / "state.json").string()) +
                                      "' panel --listen panel.example",
                                  true);
  EXPECT_EQ(o.exit, 2) << o.out;
  EXPECT_NE(o.out.find("--listen takes an address in digits"), std::string::npos) << o.out;
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace korvelan380::test
