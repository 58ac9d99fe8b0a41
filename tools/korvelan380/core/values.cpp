#include "core/values.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace korvelan380::tool {
namespace {

std::string Lower(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c != ' ' && c != '_')
      out.push_back(static_cast<char>(std::tolower(static_cast<uint8_t>(c))));
  }
  return out;
}

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// The magnitudes that name the ranges: "10" for ranges 0 and 4, and so on.
std::optional<size_t> MagnitudeIndex(std::string_view text) {
  static constexpr std::string_view kMagnitudes[] = {"10", "5", "2.5", "1.25"};
  for (size_t i = 0; i < std::size(kMagnitudes); ++i) {
    if (text == kMagnitudes[i]) return i;
  }
  return std::nullopt;
}

std::string RangeChoices() {
  std::string names;
  for (const Range& r : kRanges) names += (names.empty() ? "" : ", ") + std::string(r.name);
  return names;
}

// A whole-text strtod: no leading space, nothing left over.
std::optional<double> ParseDouble(const std::string& text) {
  if (text.empty() || std::isspace(static_cast<uint8_t>(text[0]))) return std::nullopt;
  errno = 0;
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (end != text.c_str() + text.size() || errno == ERANGE || !std::isfinite(value)) {
    return std::nullopt;
  }
  return value;
}

}  // namespace

Parsed<uint8_t> ParseRange(std::string_view text) {
  const std::string t = Lower(text);
  if (t.size() == 1 && t[0] >= '0' && t[0] <= '6') return Parsed<uint8_t>::Ok(uint8_t(t[0] - '0'));
  std::string name = t;
  const bool hasVolts = !name.empty() && name.back() == 'v';
  if (hasVolts) name.pop_back();
  std::optional<size_t> bipolar;
  std::optional<size_t> unipolar;
  auto after = [&](std::string_view prefix) {
    return std::string_view(name).substr(prefix.size());
  };
  for (std::string_view prefix : {"+-", "\xc2\xb1", "-+", "bip", "bi", "b"}) {
    if (StartsWith(name, prefix) && !bipolar) bipolar = MagnitudeIndex(after(prefix));
  }
  for (std::string_view prefix : {"uni", "u", "0..+", "0..", "0-", "+"}) {
    if (StartsWith(name, prefix) && !unipolar) unipolar = MagnitudeIndex(after(prefix));
  }
  if (StartsWith(name, "-")) {
    // "-N..N" or "-N..+N"
    const size_t dots = name.find("..");
    if (dots != std::string::npos) {
      const std::string low = name.substr(1, dots - 1);
      std::string high = name.substr(dots + 2);
      if (StartsWith(high, "+")) high.erase(0, 1);
      if (low == high) bipolar = MagnitudeIndex(low);
    }
  }
  // "10V" alone is the bipolar range that reaches 10 V.
  if (hasVolts && !bipolar && !unipolar) bipolar = MagnitudeIndex(name);
  if (bipolar) return Parsed<uint8_t>::Ok(static_cast<uint8_t>(*bipolar));
  if (unipolar && *unipolar < 3) return Parsed<uint8_t>::Ok(static_cast<uint8_t>(4 + *unipolar));
  return Parsed<uint8_t>::Fail("'" + std::string(text) + "' is not an output range: give one of " +
                               RangeChoices() + ", or an index 0 to 6");
}

const Range* RangeOf(unsigned index) {
  return index < kRanges.size() ? &kRanges[index] : nullptr;
}

std::string RangeName(unsigned index) {
  const Range* range = RangeOf(index);
  return range != nullptr ? range->name : "unknown range " + std::to_string(index);
}

Parsed<uint32_t> ParseUnsigned(std::string_view text, uint32_t max, std::string_view what) {
  const std::string t = Lower(text);
  auto fail = [&] {
    return Parsed<uint32_t>::Fail("'" + std::string(text) + "' is not a valid " +
                                  std::string(what) + ": give a number from 0 to " +
                                  std::to_string(max) + " (decimal, 0x.. or 0b..)");
  };
  int base = 10;
  std::string digits = t;
  if (StartsWith(t, "0x")) {
    base = 16;
    digits = t.substr(2);
  } else if (StartsWith(t, "0b")) {
    base = 2;
    digits = t.substr(2);
  }
  if (digits.empty()) return fail();
  uint64_t value = 0;
  for (char c : digits) {
    int d = -1;
    if (c >= '0' && c <= '9') d = c - '0';
    if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
    if (d < 0 || d >= base) return fail();
    value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(d);
    if (value > max) return fail();
  }
  return Parsed<uint32_t>::Ok(static_cast<uint32_t>(value));
}

Parsed<uint8_t> ParseByte(std::string_view text) {
  const auto value = ParseUnsigned(text, 0xFF, "byte");
  if (!value) return Parsed<uint8_t>::Fail(value.error);
  return Parsed<uint8_t>::Ok(static_cast<uint8_t>(*value));
}

Parsed<std::optional<uint8_t>> ParseLatency(std::string_view text) {
  using Latency = Parsed<std::optional<uint8_t>>;
  if (Lower(text) == "keep") return Latency::Ok(std::nullopt);
  const auto ms = ParseUnsigned(text, 255, "latency");
  if (!ms || *ms == 0) {
    return Latency::Fail("'" + std::string(text) +
                         "' is not a latency: give milliseconds from 1 to 255, or keep");
  }
  return Latency::Ok(static_cast<uint8_t>(*ms));
}

Parsed<double> ParseVolts(std::string_view text) {
  std::string t = Lower(text);
  double scale = 1.0;
  if (t.size() > 2 && t.compare(t.size() - 2, 2, "mv") == 0) {
    scale = 1e-3;
    t.resize(t.size() - 2);
  } else if (t.size() > 1 && t.back() == 'v') {
    t.pop_back();
  }
  const auto value = ParseDouble(t);
  if (!value) {
    return Parsed<double>::Fail("'" + std::string(text) +
                                "' is not a voltage: give volts such as 2.5V, -1.25 or 500mV");
  }
  return Parsed<double>::Ok(*value * scale);
}

Parsed<OutputValue> ParseOutputValue(std::string_view text) {
  const std::string t = Lower(text);
  if (StartsWith(t, "raw:")) {
    const auto raw = ParseUnsigned(text.substr(4), kMaxRaw, "raw value");
    if (!raw) return Parsed<OutputValue>::Fail(raw.error);
    return Parsed<OutputValue>::Ok(Raw{static_cast<uint16_t>(*raw)});
  }
  if (StartsWith(t, "code:")) {
    const auto code = ParseUnsigned(text.substr(5), 0xFFFF, "code");
    if (!code) return Parsed<OutputValue>::Fail(code.error);
    return Parsed<OutputValue>::Ok(Code{static_cast<uint16_t>(*code)});
  }
  const auto volts = ParseVolts(text);
  if (!volts) {
    return Parsed<OutputValue>::Fail(volts.error +
                                     ", a raw value (raw:8192) or a code (code:0x1234)");
  }
  return Parsed<OutputValue>::Ok(Volts{*volts});
}

Parsed<uint16_t> RawFromVolts(double volts, const Range& range) {
  if (!(volts >= range.bottom && volts <= range.Top())) {
    return Parsed<uint16_t>::Fail(FormatVolts(volts) + " is outside the range " + range.name +
                                  ": its limits are " + FormatVolts(range.bottom) + " to " +
                                  FormatVolts(range.Top()));
  }
  return Parsed<uint16_t>::Ok(ClippedRaw(volts, range));
}

double VoltsFromRaw(uint16_t raw, const Range& range) {
  return range.bottom + raw * range.span / kStepsPerSpan;
}

uint16_t ClippedRaw(double volts, const Range& range) {
  const double steps = std::round((volts - range.bottom) / range.span * kStepsPerSpan);
  if (!(steps > 0)) return 0;
  return static_cast<uint16_t>(std::min(steps, static_cast<double>(kMaxRaw)));
}

std::string FormatVolts(double volts) {
  char text[64];
  std::snprintf(text, sizeof text, "%.6f", volts);
  std::string s = text;
  while (s.back() == '0') s.pop_back();
  if (s.back() == '.') s.pop_back();
  if (s == "-0") s = "0";
  return s + " V";
}

std::string Hex(uint32_t value, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%0*X", digits, static_cast<unsigned>(value));
  return text;
}

}  // namespace korvelan380::tool
