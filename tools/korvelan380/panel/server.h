// The test panel: `korvelan380 panel` serves a page and its JSON API for one module until
// interrupted.
#ifndef KORVELAN380_TOOL_PANEL_H
#define KORVELAN380_TOOL_PANEL_H

#include <iosfwd>
#include <string>
#include <string_view>

#include "app/session.h"
#include "app/tool.h"

namespace korvelan380::tool {

struct PanelArgs {
  int port = 0;  // 0: a free port
  std::string listen = "127.0.0.1";
  bool allowRemote = false;  // needed for a --listen address that is not loopback
  bool open = false;         // start the user's browser on the page
};

// Serves until Ctrl-C (on Linux SIGTERM too); prints the page's address and token to `out` first.
void PanelCommand(Session& s, Report& r, const PanelArgs& args, std::ostream& out);

// A file of the page, embedded at build time ("index.html", "dygraph.js"); empty when there is
// no such file.
std::string_view PanelFile(std::string_view name);

}  // namespace korvelan380::tool

#endif  // KORVELAN380_TOOL_PANEL_H
