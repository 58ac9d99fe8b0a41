// Waveform samples: read from a file of values or a CSV column, or generated from a shape.
#ifndef KORVELAN380_TOOL_WAVE_H
#define KORVELAN380_TOOL_WAVE_H

#include <cstdint>
#include <istream>
#include <string>
#include <vector>

namespace korvelan380::tool {

// The most samples the module's waveform memory and FIFO take in one load.
inline constexpr uint32_t kSampleLimit = 524288;

enum class Units { kVolts, kRaw, kCodes };

// One value a line, or with a column (a 1-based number or a header name) one cell of each line.
// Throws a usage error that names `source` and the line.
std::vector<double> ReadSamples(std::istream& in, const std::string& source,
                                const std::string& column, Units units);

// One period of sine, square, triangle or saw (any other name) at phase 0..1, from -1 to 1.
double Shape(const std::string& shape, double phase);

}  // namespace korvelan380::tool

#endif  // KORVELAN380_TOOL_WAVE_H
