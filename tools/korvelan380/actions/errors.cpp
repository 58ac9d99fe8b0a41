#include "actions/errors.h"

namespace korvelan380::tool {

ordered_json ErrorJson(const ToolError& e, const std::string& meaning) {
  ordered_json error = {{"message", e.what()}};
  if (!e.call.empty()) {
    error["call"] = e.call;
    error["status"] = e.status;
    if (!meaning.empty()) error["meaning"] = meaning;
  }
  if (!e.hint.empty()) error["hint"] = e.hint;
  return error;
}

ordered_json ErrorDocument(const std::string& message) {
  return {{"error", {{"message", message}}}};
}

}  // namespace korvelan380::tool
