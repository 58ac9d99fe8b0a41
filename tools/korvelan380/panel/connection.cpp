// The panel's front: connections taken one thread each, their heads read within limits.
#include "panel/connection.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "os/os.h"

namespace korvelan380::tool {
namespace {

using Clock = std::chrono::steady_clock;

// How often a connection waiting for its head looks at the deadline and at a stop.
constexpr int kHeadPollMs = 200;

// One thread a connection: a connection waiting for its head costs a thread, not a worker that
// others wait for. A stop waits for every thread to end.
class ConnectionThreads : public httplib::TaskQueue {
 public:
  void enqueue(std::function<void()> fn) override {
    std::unique_lock<std::mutex> lock(mu_);
    try {
      std::thread([this, fn] {
        fn();
        std::lock_guard<std::mutex> lock(mu_);
        if (--running_ == 0) idle_.notify_all();
      }).detach();
      ++running_;
    } catch (const std::system_error&) {
      // No thread to be had: served here, holding up the next accept, rather than left open.
      lock.unlock();
      fn();
    }
  }
  void shutdown() override {
    std::unique_lock<std::mutex> lock(mu_);
    idle_.wait(lock, [this] { return running_ == 0; });
  }

 private:
  std::mutex mu_;
  std::condition_variable idle_;
  size_t running_ = 0;
};

// Each connection is served on a thread of its own: what a handler says of its request's
// connection, and what the connection says of its body, go through these.
thread_local bool closeAfterReply = false;
thread_local bool bodyOverflowed = false;

enum class Head { kReady, kClosed, kTooSlow, kTooLarge };

// The connection as httplib reads it: first what the front read, then the socket. Bodies are
// counted as they arrive, whatever their framing.
class Connection : public httplib::Stream {
 public:
  Connection(socket_t sock, const ConnectionLimits& limits) : sock_(sock), limits_(limits) {}

  // Reads until the buffer holds a whole head (request line and headers), by `deadline`.
  Head ReadHead(Clock::time_point deadline, const std::function<bool()>& stopping) {
    buffer_.erase(0, pos_);
    pos_ = 0;
    body_ = 0;
    for (;;) {
      const size_t end = HeadEnd();
      if (end != std::string::npos) {
        head_ = end;
        return end > limits_.headBytes ? Head::kTooLarge : Head::kReady;
      }
      if (buffer_.size() > limits_.headBytes) return Head::kTooLarge;
      if (stopping()) return Head::kClosed;
      if (Clock::now() >= deadline) return buffer_.empty() ? Head::kClosed : Head::kTooSlow;
      if (!os::WaitReadable(static_cast<uintptr_t>(sock_), kHeadPollMs)) continue;
      char bytes[4096];
      const ssize_t n = httplib::detail::read_socket(sock_, bytes, sizeof bytes, 0);
      if (n <= 0) return Head::kClosed;
      buffer_.append(bytes, static_cast<size_t>(n));
    }
  }

  bool is_readable() const override { return true; }
  bool is_writable() const override { return true; }
  ssize_t read(char* ptr, size_t size) override {
    if (pos_ < buffer_.size()) {
      const size_t n = std::min(size, buffer_.size() - pos_);
      std::memcpy(ptr, buffer_.data() + pos_, n);
      pos_ += n;
      if (pos_ > head_) body_ = pos_ - head_;
      return static_cast<ssize_t>(n);
    }
    // Past the limit the read fails, and with it the request: nothing more is buffered.
    if (body_ >= limits_.bodyBytes) {
      bodyOverflowed = true;
      return -1;
    }
    if (!os::WaitReadable(static_cast<uintptr_t>(sock_), limits_.readTimeoutMs)) return -1;
    const ssize_t n =
        httplib::detail::read_socket(sock_, ptr, std::min(size, limits_.bodyBytes - body_), 0);
    if (n > 0) body_ += static_cast<size_t>(n);
    return n;
  }
  ssize_t write(const char* ptr, size_t size) override {
    return httplib::detail::send_socket(sock_, ptr, size, 0);
  }
  void get_remote_ip_and_port(std::string& ip, int& port) const override {
    ip.clear();
    port = 0;
  }
  void get_local_ip_and_port(std::string& ip, int& port) const override {
    ip.clear();
    port = 0;
  }
  socket_t socket() const override { return sock_; }

  // A small reply of the front's own, for a head that did not come whole or in time.
  void Refuse(Head head) {
    const char* reply = head == Head::kTooLarge ? "HTTP/1.1 431 Request Header Fields Too Large\r\n"
                                                : "HTTP/1.1 408 Request Timeout\r\n";
    const std::string text = std::string(reply) + "Content-Length: 0\r\nConnection: close\r\n\r\n";
    write(text.data(), text.size());
  }

 private:
  // Where the head ends (after its blank line), or npos.
  size_t HeadEnd() const {
    const size_t crlf = buffer_.find("\r\n\r\n", pos_);
    const size_t lf = buffer_.find("\n\n", pos_);
    if (crlf == std::string::npos && lf == std::string::npos) return std::string::npos;
    return std::min(crlf == std::string::npos ? crlf : crlf + 4,
                    lf == std::string::npos ? lf : lf + 2);
  }

  socket_t sock_;
  const ConnectionLimits& limits_;
  std::string buffer_;
  size_t pos_ = 0;   // what httplib has read of buffer_
  size_t head_ = 0;  // where the head ends in buffer_
  size_t body_ = 0;  // the request's bytes after its head that httplib has read
};

}  // namespace

PanelServer::PanelServer(const ConnectionLimits& limits) : limits_(limits) {
  new_task_queue = [] { return new ConnectionThreads; };
  set_payload_max_length(limits.bodyBytes);
}

void PanelServer::CloseAfterReply() {
  closeAfterReply = true;
}

void PanelServer::ResetCloseAfterReply() {
  closeAfterReply = false;
}

bool PanelServer::BodyOverflowed() {
  return bodyOverflowed;
}

void PanelServer::WidenBacklog() {
  ::listen(svr_sock_, static_cast<int>(limits_.connections));
}

bool PanelServer::process_and_close_socket(socket_t sock) {
  if (open_.fetch_add(1) < limits_.connections) {
    {
      std::lock_guard<std::mutex> lock(connectionsMu_);
      connections_.insert(sock);
    }
    Serve(sock);
    std::lock_guard<std::mutex> lock(connectionsMu_);
    connections_.erase(sock);  // before the close: the number may be reused at once
  }
  open_.fetch_sub(1);
  httplib::detail::close_socket(sock);
  return true;
}

void PanelServer::EndConnections() {
  std::lock_guard<std::mutex> lock(connectionsMu_);
  for (socket_t sock : connections_) os::ShutDownSocket(static_cast<uintptr_t>(sock));
}

void PanelServer::Serve(socket_t sock) {
  Connection connection(sock, limits_);
  for (size_t n = 1; n <= limits_.requestsPerConnection; ++n) {
    const Head head =
        connection.ReadHead(Clock::now() + limits_.headDeadline, [this] { return Stopping(); });
    if (head != Head::kReady) {
      if (head != Head::kClosed) connection.Refuse(head);
      return;
    }
    closeAfterReply = false;
    bodyOverflowed = false;
    bool closed = false;
    const bool last = n == limits_.requestsPerConnection || Stopping();
    if (!process_request(connection, last, closed, nullptr) || closed || last || closeAfterReply ||
        bodyOverflowed) {
      return;
    }
  }
}

}  // namespace korvelan380::tool
