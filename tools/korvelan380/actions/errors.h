// An error as JSON, the same for the command line's --json and the panel's replies.
#ifndef KORVELAN380_TOOL_ACTIONS_ERRORS_H
#define KORVELAN380_TOOL_ACTIONS_ERRORS_H

#include <string>

#include "app/tool.h"

namespace korvelan380::tool {

// {"message"}, with "call" and "status" for a library call's failure and "hint" when there is
// one. `meaning`, when not empty, goes after the status: what the status says of the module.
ordered_json ErrorJson(const ToolError& e, const std::string& meaning = "");
// {"error": {"message": ...}}: a document that says only what went wrong.
ordered_json ErrorDocument(const std::string& message);

}  // namespace korvelan380::tool

#endif  // KORVELAN380_TOOL_ACTIONS_ERRORS_H
