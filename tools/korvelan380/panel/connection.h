// The panel's HTTP server: cpp-httplib's request handling, each connection on a thread of its
// own behind a front that takes the request's head within a deadline and a size. httplib's own
// read timeout restarts with every byte, so that a client sending a byte every few seconds would
// keep a worker for ever; here it keeps only its own thread, for a few seconds at most, and the
// number of connections is bounded.
#ifndef KORVELAN380_TOOL_PANEL_CONNECTION_H
#define KORVELAN380_TOOL_PANEL_CONNECTION_H

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <mutex>
#include <set>

namespace korvelan380::tool {

struct ConnectionLimits {
  size_t connections = 128;                      // open at once; more are closed at once
  std::chrono::milliseconds headDeadline{5000};  // from the connection (or last reply) to the head
  size_t headBytes = 16 << 10;                   // request line and headers
  size_t bodyBytes = 8 << 20;                    // as received: chunked, with a length or without
  int readTimeoutMs = 5000;                      // a body stalled this long fails
  size_t requestsPerConnection = 100;
};

class PanelServer : public httplib::Server {
 public:
  explicit PanelServer(const ConnectionLimits& limits);

  // Marks the request being handled on this thread: its connection closes after the reply, for
  // a body refused before it was read to its end.
  static void CloseAfterReply();
  static void ResetCloseAfterReply();
  // Whether the request being handled on this thread sent more body than the limit.
  static bool BodyOverflowed();

  // Ends the connections still open, so that the threads serving them finish: a stopped server
  // waits for them, and an idle keep-alive connection or a slow client would hold it.
  void EndConnections();

  // After the bind: lets as many connections wait to be accepted as may be open, where httplib
  // lets 5, so that a burst of them does not leave the rest retrying for seconds.
  void WidenBacklog();

 private:
  bool process_and_close_socket(socket_t sock) override;
  void Serve(socket_t sock);
  bool Stopping() const { return svr_sock_ == INVALID_SOCKET; }

  ConnectionLimits limits_;
  std::atomic<size_t> open_{0};
  std::mutex connectionsMu_;
  std::set<socket_t> connections_;  // being served
};

}  // namespace korvelan380::tool

#endif  // KORVELAN380_TOOL_PANEL_CONNECTION_H
