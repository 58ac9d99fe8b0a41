// The values people type and read: output ranges by name, volts, raw values and codes, bytes.
// Plain functions with no I/O; a value that does not parse gives an error message instead.
#ifndef KORVELAN380_TOOL_VALUES_H
#define KORVELAN380_TOOL_VALUES_H

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace korvelan380::tool {

inline constexpr uint16_t kMaxRaw = 0x3FFF;
inline constexpr double kStepsPerSpan = 16384.0;

struct Range {
  uint8_t index;
  const char* name;
  double bottom;  // volts of raw value 0
  double span;    // volts from raw value 0 to raw value 16384
  double Top() const { return bottom + span * (kMaxRaw / kStepsPerSpan); }
  double Step() const { return span / kStepsPerSpan; }
};

inline constexpr std::array<Range, 7> kRanges = {{
    {0, "-10..10V", -10.0, 20.0},
    {1, "-5..5V", -5.0, 10.0},
    {2, "-2.5..2.5V", -2.5, 5.0},
    {3, "-1.25..1.25V", -1.25, 2.5},
    {4, "0..10V", 0.0, 10.0},
    {5, "0..5V", 0.0, 5.0},
    {6, "0..2.5V", 0.0, 2.5},
}};

// Either a value or the message that says why the text is not one.
template <typename T>
struct Parsed {
  std::optional<T> value;
  std::string error;
  explicit operator bool() const { return value.has_value(); }
  const T& operator*() const { return *value; }
  static Parsed Ok(T v) { return Parsed{std::move(v), {}}; }
  static Parsed Fail(std::string message) { return Parsed{std::nullopt, std::move(message)}; }
};

// A range by name ("-10..10V", "0..5V"), by alias ("10V", "+-5V", "bip10", "uni5", "0-10V"),
// or by index 0 to 6.
Parsed<uint8_t> ParseRange(std::string_view text);
// The range of a register value; nothing for a value above 6.
const Range* RangeOf(unsigned index);
// "-10..10V" for 0..6, "unknown range 9" otherwise.
std::string RangeName(unsigned index);

// An unsigned number in decimal, hexadecimal ("0x1F") or binary ("0b101"), at most `max`.
Parsed<uint32_t> ParseUnsigned(std::string_view text, uint32_t max, std::string_view what);
Parsed<uint8_t> ParseByte(std::string_view text);
// A latency timer setting: milliseconds from 1 to 255, or "keep", which gives none (the chip's
// own setting stays).
Parsed<std::optional<uint8_t>> ParseLatency(std::string_view text);

// Volts: "2.5V", "2.5 v", "-1.25", "500mV".
Parsed<double> ParseVolts(std::string_view text);

// What `out` and the waveform files accept: volts, "raw:N" or "code:N".
struct Volts {
  double volts;
};
struct Raw {
  uint16_t raw;
};
struct Code {
  uint16_t code;
};
using OutputValue = std::variant<Volts, Raw, Code>;
Parsed<OutputValue> ParseOutputValue(std::string_view text);

// The raw value nearest to `volts` in `range`, or a message naming the range and its limits
// when `volts` lies outside them.
Parsed<uint16_t> RawFromVolts(double volts, const Range& range);
double VoltsFromRaw(uint16_t raw, const Range& range);
// The raw value nearest to `volts`, held within the range's limits.
uint16_t ClippedRaw(double volts, const Range& range);

// Volts for people: up to six decimals, trailing zeros dropped ("2.5 V", "9.998779 V").
std::string FormatVolts(double volts);
std::string Hex(uint32_t value, int digits);

}  // namespace korvelan380::tool

#endif  // KORVELAN380_TOOL_VALUES_H
