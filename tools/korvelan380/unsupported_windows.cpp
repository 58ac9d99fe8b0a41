// What the Windows tool does not have yet: the panel.
#include "commands.h"

namespace korvelan380::tool {

// No panel command: its HTTP server is built for Linux only.
void RegisterPanel(CommandSet&) {}

}  // namespace korvelan380::tool
