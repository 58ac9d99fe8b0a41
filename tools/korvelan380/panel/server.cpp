// korvelan380 panel: the page and its JSON API over HTTP, for one module, until interrupted.
#include "panel/server.h"

#include <httplib.h>
#include <CLI/CLI.hpp>

#include <atomic>
#include <cctype>
#include <chrono>
#include <memory>
#include <ostream>
#include <thread>

#include "actions/errors.h"
#include "app/commands.h"
#include "core/values.h"
#include "os/os.h"
#include "panel/api.h"
#include "panel/browser.h"
#include "panel/connection.h"

namespace korvelan380::tool {
namespace {

// The largest request is a whole waveform as CSV: half a million lines, about 5 MB.
constexpr ConnectionLimits kLimits{.connections = 128,
                                   .headDeadline = std::chrono::milliseconds(5000),
                                   .headBytes = 16 << 10,
                                   .bodyBytes = 8 << 20};

std::string NewToken() {
  unsigned char bytes[24];
  os::RandomBytes(bytes, sizeof bytes);
  std::string token;
  for (unsigned char b : bytes) token += Hex(b, 2).substr(2);
  return token;
}

void ReplaceAll(std::string& text, std::string_view from, std::string_view to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
}

void SendJson(httplib::Response& res, int status, const ordered_json& body) {
  res.status = status;
  res.set_content(body.dump(), "application/json");
}

void Refuse(httplib::Response& res, int status, const std::string& message) {
  SendJson(res, status, {{"error", {{"message", message}}}});
}

std::string UrlHost(const std::string& listen) {
  if (listen.find(':') != std::string::npos) return "[" + listen + "]";
  return listen;
}

bool IsLoopback(const std::string& listen) {
  return listen == "localhost" || listen == "::1" || listen.starts_with("127.");
}

void CheckArgs(const PanelArgs& args) {
  if (args.port < 0 || args.port > 65535) throw UsageError("--port is 0 to 65535");
  // An address in digits (or localhost): a name could resolve to anywhere.
  if (!HostAllowed(UrlHost(args.listen) + ":1", 1)) {
    throw UsageError(
        "--listen takes an address in digits (127.0.0.1, ::1, 0.0.0.0) or localhost, "
        "not '" +
        args.listen + "'");
  }
  if (!IsLoopback(args.listen) && !args.allowRemote) {
    throw UsageError("--listen " + args.listen +
                     " lets other machines reach the module: add --allow-remote to mean it");
  }
}

void Configure(httplib::Server& server) {
  // Replies are small: sent at once, not held back for more (which costs 40 ms a request).
  server.set_tcp_nodelay(true);
  server.set_default_headers({{"Cache-Control", "no-store"},
                              {"X-Content-Type-Options", "nosniff"},
                              {"X-Frame-Options", "DENY"},
                              {"Referrer-Policy", "no-referrer"}});
}

// Every request: its Host and Origin must be this panel's, and it must carry the token. The port
// is read at each request: with --port 0 it is known only once bound.
void GuardRequests(httplib::Server& server, const int& port, const std::string& token) {
  server.set_pre_routing_handler(
      [&port, token](const httplib::Request& req, httplib::Response& res) {
        // A refused request's body is not read: its connection ends with the reply.
        PanelServer::CloseAfterReply();
        const std::string host = req.get_header_value("Host");
        if (!HostAllowed(host, port)) {
          Refuse(res, 403, "Host '" + host + "' is not this panel's address");
          return httplib::Server::HandlerResponse::Handled;
        }
        if (!OriginAllowed(req.get_header_value("Origin"), host)) {
          Refuse(res, 403, "requests from other sites are refused");
          return httplib::Server::HandlerResponse::Handled;
        }
        const std::string given = req.has_header("X-Korvelan380-Token")
                                      ? req.get_header_value("X-Korvelan380-Token")
                                      : req.get_param_value("token");
        if (!SameToken(given, token)) {
          Refuse(res, 403,
                 given.empty() ? "the token is missing: use the address the panel printed"
                               : "wrong token: use the address the panel printed");
          return httplib::Server::HandlerResponse::Handled;
        }
        PanelServer::ResetCloseAfterReply();
        return httplib::Server::HandlerResponse::Unhandled;
      });
}

constexpr std::string_view kPagePaths[] = {"/", "/panel.js", "/panel.css", "/dygraph.js",
                                           "/dygraph.css"};

// The page, with the token its scripts send, and the scripts and styles it loads.
void ServePage(httplib::Server& server, const std::string& token) {
  std::string page(PanelFile("index.html"));
  ReplaceAll(page, "{{TOKEN}}", token);
  server.Get("/", [page](const httplib::Request&, httplib::Response& res) {
    res.set_header("Content-Security-Policy",
                   "default-src 'none'; script-src 'self'; style-src 'self'; "
                   "connect-src 'self'; img-src 'self' data:; form-action 'none'; "
                   "frame-ancestors 'none'; base-uri 'none'");
    res.set_content(page, "text/html; charset=utf-8");
  });
  for (const char* name : {"panel.js", "panel.css", "dygraph.js", "dygraph.css"}) {
    const std::string type = std::string_view(name).ends_with(".js")
                                 ? "text/javascript; charset=utf-8"
                                 : "text/css; charset=utf-8";
    server.Get(std::string("/") + name,
               [name, type](const httplib::Request&, httplib::Response& res) {
                 const std::string_view file = PanelFile(name);
                 res.set_content(file.data(), file.size(), type.c_str());
               });
  }
}

void SendReply(httplib::Response& res, const ApiReply& reply) {
  if (!reply.allow.empty()) res.set_header("Allow", reply.allow);
  SendJson(res, reply.status, reply.body);
}

// The media type, before any parameter ("; charset=utf-8"), in any case.
bool IsJson(const httplib::Request& req) {
  std::string media = req.get_header_value("Content-Type");
  media = media.substr(0, media.find(';'));
  while (!media.empty() && media.back() == ' ') media.pop_back();
  for (char& c : media) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return media == "application/json";
}

// A POST's body, read as it arrives up to the limit; false, with the reply made, when it is not
// JSON or too large. A body refused unread closes its connection: its rest is not waited for.
bool ReadBody(const httplib::Request& req, httplib::Response& res,
              const httplib::ContentReader& reader, std::string& body) {
  if (!IsJson(req)) {
    PanelServer::CloseAfterReply();
    Refuse(res, 415, "the body is JSON: send it with Content-Type: application/json");
    return false;
  }
  bool tooLarge = false;
  const bool read = reader([&](const char* data, size_t size) {
    tooLarge = body.size() + size > kLimits.bodyBytes;
    if (!tooLarge) body.append(data, size);
    return !tooLarge;
  });
  if (read) return true;
  PanelServer::CloseAfterReply();
  tooLarge |= res.status == 413 || PanelServer::BodyOverflowed();
  Refuse(res, tooLarge ? 413 : 400,
         tooLarge ? "the body is larger than " + std::to_string(kLimits.bodyBytes >> 20) + " MiB"
                  : "the body did not arrive whole");
  return false;
}

// The JSON API, and errors as JSON too.
void ServeApi(httplib::Server& server, PanelApi& api) {
  server.Get(R"(/api/([a-z]+))", [&api](const httplib::Request& req, httplib::Response& res) {
    SendReply(res, api.Handle("GET", req.matches[1].str(), ""));
  });
  server.Post(R"(/api/([a-z]+))", [&api](const httplib::Request& req, httplib::Response& res,
                                         const httplib::ContentReader& reader) {
    std::string body;
    if (ReadBody(req, res, reader, body))
      SendReply(res, api.Handle("POST", req.matches[1].str(), body));
  });
  // Other methods: the body is left unread, and the connection closed after the reply.
  auto otherMethod = [&api](const httplib::Request& req, httplib::Response& res) {
    PanelServer::CloseAfterReply();
    if (req.path.starts_with("/api/")) {
      SendReply(res, api.Handle(req.method, req.path.substr(5), ""));
    } else if (std::ranges::find(kPagePaths, req.path) != std::end(kPagePaths)) {
      SendReply(res, {405, ErrorDocument(req.path + " takes GET"), "GET"});
    } else {
      Refuse(res, 404, "nothing at " + req.path);
    }
  };
  server.Post(".*", [otherMethod](const httplib::Request& req, httplib::Response& res,
                                  const httplib::ContentReader&) { otherMethod(req, res); });
  auto otherWithBody = [otherMethod](const httplib::Request& req, httplib::Response& res,
                                     const httplib::ContentReader&) { otherMethod(req, res); };
  server.Put(".*", otherWithBody);
  server.Patch(".*", otherWithBody);
  server.Delete(".*", otherWithBody);
  server.Options(".*", otherMethod);
  server.set_error_handler([](const httplib::Request& req, httplib::Response& res) {
    if (res.body.empty()) {
      Refuse(res, res.status, res.status == 404 ? "nothing at " + req.path : "request refused");
    }
  });
}

// The port bound: the one asked for, or with --port 0 a free one.
int Listen(httplib::Server& server, const PanelArgs& args) {
  int port = args.port;
  if (args.port == 0) {
    port = server.bind_to_any_port(args.listen);
  } else if (!server.bind_to_port(args.listen, args.port)) {
    port = -1;
  }
  if (port <= 0) {
    throw ToolError("cannot listen on " + args.listen + " port " + std::to_string(args.port) +
                        ": " + os::LastSocketError(),
                    kExitFailed);
  }
  return port;
}

void Announce(Session& s, const PanelArgs& args, int port, const std::string& token,
              std::ostream& out) {
  const std::string url =
      "http://" + UrlHost(args.listen) + ":" + std::to_string(port) + "/?token=" + token;
  out << "korvelan380 panel for module " << s.options().device
      << (s.sim() != nullptr ? " (simulated)" : "") << ", listening on " << args.listen << " port "
      << port << ":\n"
      << url << "\n"
      << "Ctrl-C stops it." << std::endl;
  if (!IsLoopback(args.listen)) {
    out << "warning: listening on " << args.listen
        << ": whoever can reach this machine and learns the token controls the module; the "
           "traffic, token included, is not encrypted"
        << std::endl;
  }
  if (args.open) OpenBrowser(url, out);
}

// How long a stop waits for the requests in flight before it ends the connections still open.
constexpr auto kStopGrace = std::chrono::seconds(2);

// After the first interrupt: no new connections, a short while for the requests in flight, then
// the connections left (idle keep-alive ones, slow clients) are ended. Later interrupts are left
// to the Interrupts, which drop them.
void Stop(PanelServer& server, const std::atomic<bool>& stopped) {
  // An interrupt just after the bind comes before the server runs, which a stop would miss.
  while (!stopped && !server.is_running()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  server.stop();
  const auto deadline = std::chrono::steady_clock::now() + kStopGrace;
  while (!stopped && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (!stopped) server.EndConnections();
}

// Serves until an interrupt, which a thread of its own takes and stops the server with. False
// when the server stopped by itself, on an error.
bool ServeUntilInterrupted(PanelServer& server, os::Interrupts& interrupts) {
  std::atomic<bool> stopped{false};
  std::atomic<bool> signalled{false};
  std::thread signalThread([&] {
    while (!stopped) {
      if (interrupts.Wait(200)) {
        signalled = true;
        Stop(server, stopped);
        return;
      }
    }
  });
  const bool served = server.listen_after_bind();
  stopped = true;
  signalThread.join();
  return served || signalled;
}

}  // namespace

void PanelCommand(Session& s, Report& r, const PanelArgs& args, std::ostream& out) {
  CheckArgs(args);
  const std::string token = NewToken();
  PanelApi api(s);
  PanelServer server(kLimits);
  Configure(server);
  int port = args.port;
  GuardRequests(server, port, token);
  ServePage(server, token);
  ServeApi(server, api);
  // Made before the server starts its threads: on Linux they must inherit the blocked signals.
  os::Interrupts interrupts;
  port = Listen(server, args);
  server.WidenBacklog();
  Announce(s, args, port, token, out);
  const bool served = ServeUntilInterrupted(server, interrupts);
  // While interrupts are still held: a second one, or Windows ending the process once a closing
  // console's handler returns, must not come before the module is disconnected and saved.
  s.Finish();
  if (!served) throw ToolError("the panel's server stopped with an error", kExitFailed);
  r.json = {{"port", port}, {"stopped", true}};
  r.Line("panel stopped; module " + s.options().device + " disconnected");
}

void RegisterPanel(CommandSet& set) {
  Command& c = set.Add("panel", "a test panel for the module in the browser, served until Ctrl-C",
                       {"korvelan380 --sim panel --open", "korvelan380 -d 7 panel --port 8380",
                        "It prints the page's address, with the token every request needs."});
  auto args = std::make_shared<PanelArgs>();
  c.app->add_option("--port", args->port, "the port (default 0: a free one)")
      ->check(CLI::Range(0, 65535));
  c.app->add_option("--listen", args->listen,
                    "the address to listen on (default 127.0.0.1); the token is needed on any");
  c.app->add_flag("--open", args->open, "start the browser on the page");
  c.app->add_flag("--allow-remote", args->allowRemote,
                  "allow a --listen address other machines can reach");
  std::ostream& out = set.out();
  c.run = [args, &out](Session& s, Report& r) { PanelCommand(s, r, *args, out); };
}

}  // namespace korvelan380::tool
