// Waveform samples as spreadsheets and scripts write them: one value a line, or a CSV whose
// first line may name its columns. Plain functions over text, with no I/O of their own.
#ifndef KORVELAN380_TOOL_CORE_SAMPLES_H
#define KORVELAN380_TOOL_CORE_SAMPLES_H

#include <cstdint>
#include <istream>
#include <stdexcept>
#include <string>
#include <vector>

namespace korvelan380::tool {

// The most samples the module's waveform memory and FIFO take in one load.
inline constexpr uint32_t kSampleLimit = 524288;

// What the samples are: volts of the channel's range, its raw values 0 to 16383, or codes 0 to
// 65535 that go to the DAC as they are.
enum class Units { kVolts, kRaw, kCodes };

// "volts", "raw" or "codes".
const char* UnitsName(Units units);

// Text that holds no samples the module could take: the message names the source and the line.
class SampleError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct Samples {
  std::vector<double> values;
  std::string header;  // the name of the column read, when the first line names the columns
  size_t column = 0;   // the column read, counted from 1
};

// Reads one cell a line. `column` is empty (a file of one column), a number counted from 1, or
// the name a header line gives it. A first line whose cells are all names (each starts with a
// letter) is that header, and is skipped; blank lines and lines starting with # are too. Cells
// are separated by commas, semicolons or tabs. Throws SampleError naming `source`.
Samples ReadSamples(std::istream& in, const std::string& source, const std::string& column,
                    Units units);

}  // namespace korvelan380::tool

#endif  // KORVELAN380_TOOL_CORE_SAMPLES_H
