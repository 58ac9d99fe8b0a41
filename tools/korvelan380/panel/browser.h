// `--open`: the user's browser started on the panel's address.
#ifndef KORVELAN380_TOOL_PANEL_BROWSER_H
#define KORVELAN380_TOOL_PANEL_BROWSER_H

#include <ostream>
#include <string>

namespace korvelan380::tool {

// Starts the browser on `url` without waiting for it, through a page that forwards to it: the
// browser's command line, which other users may read, then names a file only this user can read
// rather than the token. The page goes once the browser has had time to read it, or at the
// tool's end. Says on `out` when the browser cannot be started.
void OpenBrowser(const std::string& url, std::ostream& out);

}  // namespace korvelan380::tool

#endif  // KORVELAN380_TOOL_PANEL_BROWSER_H
