// The panel's HTTP front: bodies checked before they reach the API (nesting, size however sent,
// content type, duplicate keys), other methods, slow and idle connections, and the addresses it
// listens on.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "panel_support.h"

namespace korvelan380::test {
namespace {

using Clock = std::chrono::steady_clock;

// A connection of the test's own to the panel, for requests httplib's client would not send.
class Raw {
 public:
  explicit Raw(int port) : fd_(socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      throw std::runtime_error("cannot connect");
    }
    timeval timeout{10, 0};
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  }
  Raw(const Raw&) = delete;
  Raw& operator=(const Raw&) = delete;
  ~Raw() { close(fd_); }

  // False once the panel has closed the connection.
  bool Send(const std::string& text) {
    return send(fd_, text.data(), text.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(text.size());
  }
  // The status of the reply, or 0 when none came.
  int Status() {
    std::string reply;
    char buffer[4096];
    while (reply.find("\r\n") == std::string::npos) {
      const ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
      if (n <= 0) return 0;
      reply.append(buffer, static_cast<size_t>(n));
    }
    return std::stoi(reply.substr(9, 3));
  }

 private:
  int fd_;
};

class PanelHttpTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new std::filesystem::path(TestDir("http"));
    panel_ = new Panel((*dir_ / "state.json").string(), "4");
  }
  static void TearDownTestSuite() {
    delete panel_;
    std::filesystem::remove_all(*dir_);
    delete dir_;
  }
  static const Panel& P() { return *panel_; }
  static std::string Head(const std::string& method, const std::string& path,
                          const std::string& extra) {
    return method + " " + path + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(P().port) +
           "\r\nX-Korvelan380-Token: " + P().token + "\r\n" + extra + "\r\n";
  }

  static std::filesystem::path* dir_;
  static Panel* panel_;
};
std::filesystem::path* PanelHttpTest::dir_ = nullptr;
Panel* PanelHttpTest::panel_ = nullptr;

TEST_F(PanelHttpTest, DeeplyNestedCalibrationIsRefusedWithoutACrash) {
  const std::string deep = R"({"save": false, "document": {"entries": )" +
                           std::string(150000, '[') + std::string(150000, ']') + "}}";
  const Reply r = P().PostText("calib", deep);
  EXPECT_EQ(r.status, 400);
  EXPECT_NE(r.body["error"]["message"].get<std::string>().find("nests"), std::string::npos);
  // Brackets inside strings are text, not nesting.
  const Reply text = P().Post("dio", json{{"output", 1}, {"note", std::string(100, '[')}});
  EXPECT_EQ(text.body["error"]["message"], "unknown field 'note'");
  EXPECT_EQ(P().Get("info").status, 200);
}

TEST_F(PanelHttpTest, DuplicateUnknownAndModeUnusedFieldsAreNamed) {
  const json before = P().Get("dio").body;
  const struct {
    const char* endpoint;
    const char* body;
    const char* message;
  } cases[] = {
      {"dio", R"({"output": 1, "output": 2})", "'output' is given twice"},
      {"calib", R"({"document": {"format": "a", "format": "b"}, "save": false})",
       "'format' is given twice"},
      {"dio", R"({"output": 1, "outptu": 2})", "unknown field 'outptu'"},
      {"channel", R"({"channel": 0, "mode": 0, "select_a": 1})",
       "'select_a' is not used in mode 0"},
      {"channel", R"({"channel": 0, "mode": 2, "switch_a": 1})",
       "'switch_a' is not used in mode 2"},
      {"channel", R"({"channel": 0, "mode": 3, "switch_b": 1})",
       "'switch_b' is not used in mode 3"},
      {"channel", R"({"channel": 0, "mode": 1, "mode_parameter": 5})",
       "'mode_parameter' is not used in mode 1"},
      {"channel", R"({"channel": 0, "mode": 1, "preset_raw": 5})", "only with 'preset_enable': 1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.body);
    const Reply r = P().PostText(c.endpoint, c.body);
    EXPECT_EQ(r.status, 400);
    EXPECT_NE(r.body["error"]["message"].get<std::string>().find(c.message), std::string::npos)
        << r.body;
  }
  EXPECT_EQ(P().Get("dio").body["output"], before["output"]);
  // What the mode uses, and zeros where it uses nothing, are taken.
  EXPECT_EQ(
      P().Post("channel", json{{"channel", 0}, {"mode", 2}, {"switch_a", 0}, {"mode_parameter", 7}})
          .status,
      200);
}

// A request refused for its token is answered without its body being read, and its connection
// closed: the rest of the body is not taken for the next request.
TEST_F(PanelHttpTest, ARefusedRequestClosesItsConnection) {
  Raw raw(P().port);
  const std::string head = "POST /api/dio HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(P().port) +
                           "\r\nContent-Type: application/json\r\nContent-Length: 60\r\n\r\n";
  ASSERT_TRUE(raw.Send(head + "GET /api/info HTTP/1.1\r\n"));
  EXPECT_EQ(raw.Status(), 403);
  EXPECT_EQ(raw.Status(), 0);
}

TEST_F(PanelHttpTest, ContentTypeAndMethodsAreChecked) {
  httplib::Client client = P().Client();
  auto plain = client.Post("/api/dio", R"({"output": 3})", "text/plain");
  ASSERT_TRUE(plain);
  EXPECT_EQ(plain->status, 415);
  Raw none(P().port);
  ASSERT_TRUE(none.Send(Head("POST", "/api/dio", "Content-Length: 2\r\n") + "{}"));
  EXPECT_EQ(none.Status(), 415);
  auto charset = client.Post("/api/dio", R"({"output": 3})", "Application/JSON ; charset=utf-8");
  ASSERT_TRUE(charset);
  EXPECT_EQ(charset->status, 200);

  auto put = client.Put("/api/output", "{}", "application/json");
  ASSERT_TRUE(put);
  EXPECT_EQ(put->status, 405);
  EXPECT_EQ(put->get_header_value("Allow"), "GET, POST");
  auto del = client.Delete("/api/info");
  ASSERT_TRUE(del);
  EXPECT_EQ(del->status, 405);
  EXPECT_EQ(del->get_header_value("Allow"), "GET");
  auto page = client.Post("/", "{}", "application/json");
  ASSERT_TRUE(page);
  EXPECT_EQ(page->status, 405);
  EXPECT_EQ(page->get_header_value("Allow"), "GET");
}

// Past the limit the reply is 413, whether the body is chunked, has a length or has neither;
// the panel stops reading there, so that the rest of the body is never sent.
TEST_F(PanelHttpTest, BodiesPastTheLimitAre413HoweverSent) {
  const std::string mebibyte(1 << 20, ' ');
  const std::string framings[] = {"Transfer-Encoding: chunked\r\n",
                                  "Content-Length: 1000000000\r\n", "Connection: close\r\n"};
  for (const std::string& framing : framings) {
    SCOPED_TRACE(framing);
    Raw raw(P().port);
    ASSERT_TRUE(
        raw.Send(Head("POST", "/api/wave", "Content-Type: application/json\r\n" + framing)));
    size_t sent = 0;
    const bool chunked = framing.starts_with("Transfer");
    while (sent < (64u << 20) && raw.Send(chunked ? "100000\r\n" + mebibyte + "\r\n" : mebibyte)) {
      sent += mebibyte.size();
    }
    EXPECT_LT(sent, 32u << 20) << "the panel kept reading";
    EXPECT_EQ(raw.Status(), 413);
  }
  EXPECT_EQ(P().Get("info").status, 200);
}

// Dozens of connections that send their head a byte at a time, and as many that send nothing,
// do not delay a proper request; each is closed after its deadline.
TEST_F(PanelHttpTest, SlowAndIdleConnectionsDoNotHoldUpRequests) {
  std::vector<std::unique_ptr<Raw>> slow;
  std::vector<std::unique_ptr<Raw>> idle;
  for (int i = 0; i < 40; ++i) {
    slow.push_back(std::make_unique<Raw>(P().port));
    idle.push_back(std::make_unique<Raw>(P().port));
  }
  const std::string line = "GET /api/info HTTP/1.1\r\n";
  bool slowClosed = false;
  for (size_t at = 0; at < 2; ++at) {
    for (auto& s : slow) slowClosed |= !s->Send(line.substr(at, 1));
    const auto begin = Clock::now();
    EXPECT_EQ(P().Get("info").status, 200);
    EXPECT_LT(Clock::now() - begin, std::chrono::seconds(1));
    std::this_thread::sleep_for(std::chrono::seconds(2));
  }
  EXPECT_FALSE(slowClosed) << "closed before the deadline";
  Raw large(P().port);
  ASSERT_TRUE(
      large.Send(Head("GET", "/api/info", "X-Padding: " + std::string(20000, 'x') + "\r\n")));
  EXPECT_EQ(large.Status(), 431);
  // At the deadline, five seconds on: the slow ones are told so, the idle ones closed.
  EXPECT_EQ(slow[0]->Status(), 408);
  EXPECT_EQ(idle[0]->Status(), 0);
}

TEST(PanelListen, RemoteAddressesNeedAllowRemoteAndBindFailuresSayWhy) {
  const auto dir = TestDir("listen-remote");
  const std::string sim = "--sim --sim-state '" + ToolPath((dir / "state.json").string()) + "' ";
  const ProgramOutput remote = RunTool(sim + "panel --listen 0.0.0.0", true);
  EXPECT_EQ(remote.exit, 2) << remote.out;
  EXPECT_NE(remote.out.find("--allow-remote"), std::string::npos) << remote.out;

  // An address no interface here has: the system's reason, not a guess.
  const ProgramOutput unbound =
      RunTool(sim + "panel --listen 192.0.2.1 --allow-remote --port 1", true);
  EXPECT_NE(unbound.exit, 0);
  EXPECT_NE(unbound.out.find("Cannot assign requested address"), std::string::npos) << unbound.out;
  // Allowed: a warning, and the address to use from elsewhere, not loopback's.
  const ProgramOutput allowed = RunProgram(
      "timeout -s INT 3 " + ToolShellCommand(sim + "panel --listen 0.0.0.0 --allow-remote"),
      {{}, {}, true});
  EXPECT_NE(allowed.out.find("http://0.0.0.0:"), std::string::npos) << allowed.out;
  EXPECT_EQ(allowed.out.find("http://127.0.0.1:"), std::string::npos) << allowed.out;
  EXPECT_NE(allowed.out.find("warning:"), std::string::npos) << allowed.out;
  std::filesystem::remove_all(dir);
}

// --open hands the browser a private page that forwards to the address: the token is on no
// command line, and the page is gone once the panel stops.
TEST(PanelOpen, TheTokenIsOnNoCommandLine) {
  if (WindowsTool()) GTEST_SKIP() << "xdg-open is Linux's";
  const auto dir = TestDir("open");
  const std::string seen = (dir / "seen").string();
  std::filesystem::create_directories(dir / "bin");
  {
    std::ofstream script(dir / "bin" / "xdg-open");
    script << "#!/bin/sh\n"
           << "echo \"$*\" > '" << seen << ".args'\n"
           << "stat -c %a \"$1\" > '" << seen << ".mode'\n"
           << "stat -c %a \"$(dirname \"$1\")\" >> '" << seen << ".mode'\n"
           << "cat \"$1\" > '" << seen << ".page'\n";
  }
  std::filesystem::permissions(dir / "bin" / "xdg-open", std::filesystem::perms::owner_all);
  const std::string path = std::getenv("PATH");
  setenv("PATH", ((dir / "bin").string() + ":" + path).c_str(), 1);
  Panel panel((dir / "state.json").string(), "6", {"--open"});
  setenv("PATH", path.c_str(), 1);
  auto read = [](const std::string& file) {
    std::ifstream in(file);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  for (int i = 0; i < 100 && read(seen + ".page").empty(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  const std::string args = read(seen + ".args");
  EXPECT_EQ(args.find(panel.token), std::string::npos) << args;
  EXPECT_EQ(read(seen + ".mode"), "600\n700\n");
  EXPECT_NE(read(seen + ".page").find("/?token=" + panel.token), std::string::npos);
  EXPECT_EQ(panel.Stop(SIGTERM), 0);
  std::string page = args.substr(0, args.find('\n'));
  EXPECT_FALSE(std::filesystem::exists(page)) << page;
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace korvelan380::test
