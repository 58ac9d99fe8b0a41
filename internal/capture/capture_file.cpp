#include "capture_file.h"

#include "d2xx.h"
#include "hex.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>

namespace korvelan380::capture {
namespace {

std::string Quoted(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c >= 0x7F) {
      // Bytes outside printable ASCII are kept as code points 0-255, so the text is always
      // valid UTF-8 and reads back byte for byte.
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      out += escape;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

// A value of a flat object: a string or an unsigned integer.
struct Value {
  bool isString = false;
  std::string text;
  uint64_t number = 0;
};

using Object = std::map<std::string, Value>;

// Parses one flat JSON object; returns why not, or "" when it is one.
class FlatParser {
 public:
  explicit FlatParser(const std::string& line) : s_(line) {}

  std::string Parse(Object& out) {
    Space();
    if (!Take('{')) return "it does not start with {";
    Space();
    if (Take('}')) return End();
    for (;;) {
      Value key;
      if (!String(key.text)) return "a key is not a string";
      Space();
      if (!Take(':')) return "no : after \"" + key.text + "\"";
      Space();
      Value value;
      if (Peek() == '"') {
        value.isString = true;
        if (!String(value.text)) return "the value of \"" + key.text + "\" is not a string";
      } else if (!Number(value.number)) {
        return "the value of \"" + key.text + "\" is neither a string nor a whole number";
      }
      if (!out.emplace(key.text, value).second) return "\"" + key.text + "\" appears twice";
      Space();
      if (Take('}')) return End();
      if (!Take(',')) return "no , or } after \"" + key.text + "\"";
      Space();
    }
  }

 private:
  char Peek() const { return i_ < s_.size() ? s_[i_] : '\0'; }
  bool Take(char c) {
    if (Peek() != c || i_ >= s_.size()) return false;
    ++i_;
    return true;
  }
  void Space() {
    while (i_ < s_.size() && (s_[i_] == ' ' || s_[i_] == '\t' || s_[i_] == '\r')) ++i_;
  }
  std::string End() {
    Space();
    return i_ == s_.size() ? "" : "there is more after its closing }";
  }
  bool String(std::string& out) {
    if (!Take('"')) return false;
    while (i_ < s_.size()) {
      const char c = s_[i_++];
      if (c == '"') return true;
      if (static_cast<unsigned char>(c) < 0x20) return false;
      if (c != '\\') {
        out += c;
        continue;
      }
      if (i_ >= s_.size()) return false;
      const char e = s_[i_++];
      if (e == '"' || e == '\\' || e == '/') {
        out += e;
      } else if (e == 'n') {
        out += '\n';
      } else if (e == 't') {
        out += '\t';
      } else if (e == 'u' && i_ + 4 <= s_.size()) {
        unsigned code = 0;
        for (int k = 0; k < 4; ++k) {
          const int d = hex::DigitValue(s_[i_++]);
          if (d < 0) return false;
          code = code << 4 | static_cast<unsigned>(d);
        }
        if (code > 0xFF) return false;  // the writer only escapes single bytes
        out += static_cast<char>(code);
      } else {
        return false;
      }
    }
    return false;
  }
  bool Number(uint64_t& out) {
    const size_t start = i_;
    uint64_t value = 0;
    while (i_ < s_.size() && s_[i_] >= '0' && s_[i_] <= '9') {
      const uint64_t digit = static_cast<uint64_t>(s_[i_] - '0');
      if (value > (UINT64_MAX - digit) / 10) return false;
      value = value * 10 + digit;
      ++i_;
    }
    out = value;
    return i_ > start && (i_ - start == 1 || s_[start] != '0');
  }

  const std::string& s_;
  size_t i_ = 0;
};

// Reads the fields of one object, remembering the first one missing or of the wrong kind.
class Fields {
 public:
  explicit Fields(const Object& object) : o_(object) {}

  uint64_t Number(const char* key, bool required = true) {
    auto it = o_.find(key);
    if (it == o_.end() || it->second.isString) {
      if (required || it != o_.end()) Fail(std::string("\"") + key + "\" (a whole number)");
      return 0;
    }
    return it->second.number;
  }
  uint32_t Word(const char* key, bool required = true) {
    const uint64_t value = Number(key, required);
    if (value > UINT32_MAX) Fail(std::string("\"") + key + "\" of at most 32 bits");
    return static_cast<uint32_t>(value);
  }
  std::string Text(const char* key, bool required = true) {
    auto it = o_.find(key);
    if (it == o_.end() || !it->second.isString) {
      if (required || it != o_.end()) Fail(std::string("\"") + key + "\" (a string)");
      return "";
    }
    return it->second.text;
  }
  std::vector<uint8_t> Bytes(const char* key) {
    std::vector<uint8_t> bytes;
    if (!hex::Decode(Text(key, false), bytes)) {
      Fail(std::string("\"") + key + "\" as pairs of hex digits");
    }
    return bytes;
  }
  bool Has(const char* key) const { return o_.count(key) != 0; }
  const std::string& missing() const { return missing_; }

 private:
  void Fail(const std::string& what) {
    if (missing_.empty()) missing_ = "it needs " + what;
  }
  const Object& o_;
  std::string missing_;
};

DriverCall ParseCall(const Object& object, std::string& why) {
  Fields f(object);
  DriverCall call;
  call.fn = d2xx::FunctionFromName(f.Text("fn").c_str());
  if (call.fn < 0) {
    why = f.missing().empty() ? "\"fn\" is not one of the driver functions" : f.missing();
    return call;
  }
  call.seq = f.Number("seq");
  call.handle = f.Word("handle");
  call.status = f.Word("status");
  call.t0 = f.Number("t0");
  call.t1 = f.Number("t1");
  call.thread = f.Number("thread");
  call.serial = f.Text("serial", false);
  call.arg = f.Word("arg", false);
  call.arg2 = f.Word("arg2", false);
  call.data = f.Bytes("data");
  call.done = f.Word("done", false);
  call.rx = f.Word("rx", false);
  call.tx = f.Word("tx", false);
  call.event = f.Word("event", false);
  call.size = f.Word("size", false);
  why = f.missing();
  if (why.empty() && call.t1 < call.t0) why = "it returns (t1) before it was entered (t0)";
  if (why.empty() && (call.fn == D2XX_FT_Read || call.fn == D2XX_FT_EE_UARead) &&
      call.data.size() > call.arg) {
    why = "it read more bytes than it asked for";
  }
  return call;
}

std::string Line(size_t number) {
  return "line " + std::to_string(number);
}

}  // namespace

std::string FormatHeader(const Header& h) {
  std::string line = "{\"format\":" + Quoted(kFormatName) +
                     ",\"version\":" + std::to_string(h.version) +
                     ",\"driver\":" + Quoted(h.driver);
  if (!h.error.empty()) line += ",\"error\":" + Quoted(h.error);
  line += ",\"pid\":" + std::to_string(h.pid) + ",\"limit\":" + std::to_string(h.limit) + "}\n";
  return line;
}

std::string FormatDropped(uint64_t dropped) {
  return "{\"dropped\":" + std::to_string(dropped) + "}\n";
}

std::string FormatCall(const DriverCall& c) {
  std::string line = "{\"seq\":" + std::to_string(c.seq) +
                     ",\"fn\":" + Quoted(d2xx::FunctionName(c.fn)) +
                     ",\"handle\":" + std::to_string(c.handle);
  auto number = [&line](const char* key, uint64_t value) {
    line += std::string(",\"") + key + "\":" + std::to_string(value);
  };
  if (c.fn == D2XX_FT_OpenEx && !c.serial.empty()) line += ",\"serial\":" + Quoted(c.serial);
  if (c.fn == D2XX_FT_OpenEx || c.fn == D2XX_FT_Read || c.fn == D2XX_FT_Write ||
      c.fn == D2XX_FT_Purge || c.fn == D2XX_FT_EE_UARead || c.fn == D2XX_FT_EE_UAWrite ||
      c.fn == D2XX_FT_SetTimeouts || c.fn == D2XX_FT_SetLatencyTimer) {
    number("arg", c.arg);
  }
  if (c.fn == D2XX_FT_SetTimeouts) number("arg2", c.arg2);
  if (!c.data.empty()) line += ",\"data\":\"" + hex::Encode(c.data) + "\"";
  if (c.fn == D2XX_FT_Write) number("done", c.done);
  if (c.fn == D2XX_FT_GetQueueStatus || c.fn == D2XX_FT_GetStatus) number("rx", c.rx);
  if (c.fn == D2XX_FT_GetStatus) {
    number("tx", c.tx);
    number("event", c.event);
  }
  if (c.fn == D2XX_FT_EE_UASize) number("size", c.size);
  number("status", c.status);
  number("t0", c.t0);
  number("t1", c.t1);
  number("thread", c.thread);
  return line + "}\n";
}

Capture ParseCapture(const std::string& text, const std::string& name) {
  auto error = [&name](const std::string& why) { return CaptureError(name + ": " + why); };
  if (text.empty()) throw error("the file is empty: a capture starts with its header line");
  Capture capture;
  size_t number = 0;
  size_t start = 0;
  while (start < text.size()) {
    ++number;
    const size_t end = text.find('\n', start);
    if (end == std::string::npos) {
      throw error(
          Line(number) + " is cut short (no end of line): the program writing the " +
          "capture stopped in the middle of a call; remove that last line to read the rest");
    }
    const std::string line = text.substr(start, end - start);
    start = end + 1;
    Object object;
    const std::string why = FlatParser(line).Parse(object);
    if (number == 1) {
      Fields f(object);
      if (!why.empty() || f.Text("format", false) != kFormatName) {
        throw error("not a korvelan380 capture (its first line is not a capture header)");
      }
      capture.header.version = f.Word("version");
      if (!f.missing().empty()) throw error("the header has no version: " + f.missing());
      if (capture.header.version > kFormatVersion) {
        throw error("the capture is format version " + std::to_string(capture.header.version) +
                    "; this korvelan380 reads version " + std::to_string(kFormatVersion) +
                    " (a newer korvelan380 wrote it: read it with that one)");
      }
      if (capture.header.version == 0) throw error("the header's version 0 is not a version");
      capture.header.driver = f.Text("driver", false);
      capture.header.error = f.Text("error", false);
      capture.header.pid = f.Number("pid", false);
      capture.header.limit = f.Number("limit", false);
      continue;
    }
    if (!why.empty()) throw error(Line(number) + " is not a JSON object: " + why);
    if (object.size() == 1 && object.count("dropped") != 0 && capture.calls.empty()) {
      capture.dropped = object.at("dropped").number;
      continue;
    }
    std::string bad;
    DriverCall call = ParseCall(object, bad);
    if (!bad.empty()) throw error(Line(number) + " is not a call record: " + bad);
    capture.calls.push_back(std::move(call));
  }
  return capture;
}

Capture ReadCapture(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) throw CaptureError(path + ": cannot be opened");
  std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  if (file.bad()) throw CaptureError(path + ": cannot be read");
  return ParseCapture(text, path);
}

std::string DescribeInputs(const DriverCall& c) {
  std::string text = std::string(d2xx::FunctionName(c.fn)) + "(";
  if (c.fn == D2XX_FT_OpenEx) {
    text += "serial " + Quoted(c.serial) + ", flags " + std::to_string(c.arg);
  } else {
    text += "handle " + std::to_string(c.handle);
  }
  if (c.fn == D2XX_FT_Read || c.fn == D2XX_FT_EE_UARead)
    text += ", " + std::to_string(c.arg) + " bytes asked";
  if (c.fn == D2XX_FT_Purge) text += ", mask " + std::to_string(c.arg);
  if (c.fn == D2XX_FT_SetTimeouts) {
    text += ", read " + std::to_string(c.arg) + " ms, write " + std::to_string(c.arg2) + " ms";
  }
  if (c.fn == D2XX_FT_SetLatencyTimer) text += ", " + std::to_string(c.arg) + " ms";
  if (c.fn == D2XX_FT_Write || c.fn == D2XX_FT_EE_UAWrite) {
    text += ", " + std::to_string(c.arg) + " bytes";
    for (size_t i = 0; i < c.data.size() && i < 24; ++i) {
      text += " " + hex::Encode(&c.data[i], 1);
    }
    if (c.data.size() > 24) text += "...";
  }
  return text + ")";
}

}  // namespace korvelan380::capture
