// What went on the wire, for people: the simulated module's trace turned into frames and the
// registers they address.
#ifndef KORVELAN380_TOOL_WIRE_H
#define KORVELAN380_TOOL_WIRE_H

#include <cstdint>
#include <string>
#include <vector>

#include "app/tool.h"
#include "driver_call.h"

namespace korvelan380::tool {

struct WireLine {
  std::string call;     // "FT_Write"
  std::string frame;    // "W 22 00", "R 40 4f", "reply 00", "X 01 (header)"
  std::string meaning;  // "range of channel 0 = 0x00"
  uint32_t status = 0;
  uint32_t repeat = 1;  // a poll repeated this many times in a row
};

// What registers first..last hold ("range of channel 0", "output value of channel 1").
std::string RegisterName(unsigned first, unsigned last);

// The calls as lines on the wire; FT_OpenEx carries the serial number it asked for in `data`
// (as the simulated module's trace has it), or else in `serial`.
std::vector<WireLine> DescribeTrace(const std::vector<capture::DriverCall>& trace);
// One line per WireLine, aligned, each starting with `indent`.
std::string FormatWire(const std::vector<WireLine>& lines, const std::string& indent);
ordered_json WireJson(const std::vector<WireLine>& lines);

}  // namespace korvelan380::tool

#endif  // KORVELAN380_TOOL_WIRE_H
