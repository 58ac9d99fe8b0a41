// The panel's stop: whatever is still connected and however many interrupts come, the module is
// disconnected and the simulated module's state saved before the tool exits 0.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <chrono>
#include <thread>

#include "panel_support.h"

namespace korvelan380::test {
namespace {

// A connection that sent half a request's headers and then nothing: the server's thread waits in
// its read until the connection ends.
int HalfRequest(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return -1;
  const std::string start = "GET /api/info HTTP/1.1\r\nHost: 127.0.0.1\r\n";
  if (send(fd, start.data(), start.size(), 0) != static_cast<ssize_t>(start.size())) return -1;
  return fd;
}

double ReadVolts(const std::string& state, const std::string& device) {
  const ProgramOutput read =
      RunTool("--sim --sim-state '" + ToolPath(state) + "' -d " + device + " read 0 --json");
  EXPECT_EQ(read.exit, 0) << read.out << read.err;
  return json::parse(read.out, nullptr, false).value("volts", 0.0);
}

// A second interrupt during the stop, with a keep-alive connection and a half-sent request still
// open, used to end the process before the module was disconnected and its state saved.
TEST(PanelStop, ASecondInterruptDuringTheStopIsAbsorbed) {
  const auto dir = TestDir("stop_twice");
  const std::string state = (dir / "state.json").string();
  Panel panel(state, "6");
  ASSERT_EQ(panel.Post("output", json{{"channel", 0}, {"volts", 3.75}}).status, 200);
  const int half = HalfRequest(panel.port);
  ASSERT_GE(half, 0);
  // Connections are accepted in turn: this one's reply means the half request's was taken too.
  httplib::Client keepAlive = panel.Client();
  keepAlive.set_keep_alive(true);
  ASSERT_EQ(Panel::Take(keepAlive.Get("/api/info")).status, 200);

  const auto start = std::chrono::steady_clock::now();
  panel.Signal(SIGINT);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(panel.Stop(StopSignals().back()), 0) << panel.Output();
  const auto took = std::chrono::steady_clock::now() - start;
  close(half);
  EXPECT_NE(panel.Output().find("panel stopped; module 6 disconnected"), std::string::npos)
      << panel.Output();
  EXPECT_DOUBLE_EQ(ReadVolts(state, "6"), 3.75);
  // The requests in flight get 2 s; then the connections left are ended, not waited for (the
  // Windows tool has no list of its connections and waits for the server's read timeout).
  if (!WindowsTool()) {
    EXPECT_LT(took, std::chrono::milliseconds(4000));
  }
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace korvelan380::test
