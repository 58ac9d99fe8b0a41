// The test panel's JSON API, apart from HTTP: each request is a method, an endpoint and a body,
// checked in full before anything reaches the module, and each reply a status and a JSON body.
#ifndef KORVELAN380_TOOL_PANEL_API_H
#define KORVELAN380_TOOL_PANEL_API_H

#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "app/session.h"
#include "app/tool.h"
#include "core/wire.h"
#include "panel/adjustment.h"

namespace korvelan380::tool {

struct ApiReply {
  ApiReply(int status_, ordered_json body_, std::string allow_ = "")
      : status(status_), body(std::move(body_)), allow(std::move(allow_)) {}

  // 400 bad request, 404 no such endpoint, 405 wrong method, 409 a calibration other than the
  // one under way, 500 the module
  int status;
  ordered_json body;
  std::string allow;  // with 405: the methods the endpoint takes, for the Allow header
};

// What the API keeps between requests: the module, the guided calibration under way, and with
// the simulated module the last lines of its wire log.
class PanelApi {
 public:
  explicit PanelApi(Session& session) : session_(session) {}

  // `endpoint` is the path after /api/ ("output"); `body` the request's body (POST only), JSON
  // nested at most kMaxNesting deep, each object's keys given once.
  ApiReply Handle(std::string_view method, std::string_view endpoint, std::string_view body);

  static constexpr size_t kMaxNesting = 32;

  // The most wire lines kept for the page.
  static constexpr size_t kWireLines = 400;

 private:
  ordered_json Info();
  ordered_json Wire();
  ApiReply Adjust(std::string_view method, std::string_view body);
  // The endpoints that use what the API keeps; none for the others.
  std::optional<ApiReply> OfTheApi(std::string_view method, std::string_view endpoint,
                                   std::string_view body);
  // Moves the simulator's trace into the kept lines.
  void DrainTrace();

  Session& session_;
  PanelAdjustment adjustment_;
  std::mutex wireMu_;
  std::deque<WireLine> wire_;
  unsigned requestsSinceDrain_ = 0;
};

// Whether a request's Host header names this panel: "localhost" or an address in digits (a name
// that resolves here could be anyone's: DNS rebinding), with the panel's port.
bool HostAllowed(std::string_view host, int port);
// Whether an Origin header (empty when there is none) is this panel's own page.
bool OriginAllowed(std::string_view origin, std::string_view host);
// Compares without stopping at the first difference, so that timing gives no hint of the token.
bool SameToken(std::string_view given, std::string_view token);

}  // namespace korvelan380::tool

#endif  // KORVELAN380_TOOL_PANEL_API_H
