#include "core/samples.h"

#include <algorithm>
#include <cctype>
#include <optional>

#include "core/values.h"

namespace korvelan380::tool {
namespace {

std::vector<std::string> SplitCells(const std::string& line) {
  std::vector<std::string> cells;
  std::string cell;
  for (char c : line) {
    if (c == ',' || c == ';' || c == '\t') {
      cells.push_back(cell);
      cell.clear();
    } else if (c != ' ' && c != '\r' && c != '"') {
      cell.push_back(c);
    }
  }
  cells.push_back(cell);
  return cells;
}

// Names start with a letter; no sample does ("2.5V", "-1", "0x2000", ".5").
bool IsHeader(const std::vector<std::string>& cells) {
  return std::all_of(cells.begin(), cells.end(), [](const std::string& cell) {
    return !cell.empty() && std::isalpha(static_cast<unsigned char>(cell[0]));
  });
}

std::string Joined(const std::vector<std::string>& cells) {
  std::string text;
  for (const std::string& cell : cells) text += (text.empty() ? "" : ", ") + cell;
  return text;
}

std::optional<double> ParseSample(const std::string& cell, Units units, std::string* error) {
  if (units == Units::kVolts) {
    const auto v = ParseVolts(cell);
    if (!v) *error = v.error;
    return v ? std::optional<double>(*v) : std::nullopt;
  }
  const auto v = ParseUnsigned(cell, units == Units::kRaw ? kMaxRaw : 0xFFFF,
                               units == Units::kRaw ? "raw value" : "code");
  if (!v) *error = v.error;
  return v ? std::optional<double>(*v) : std::nullopt;
}

// The column as asked for: a 0-based index, or a name to look up in the header.
struct ColumnChoice {
  std::optional<size_t> index;
  std::string name;
};

ColumnChoice Choose(const std::string& column) {
  ColumnChoice choice;
  if (column.empty()) return choice;
  if (!std::all_of(column.begin(), column.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    choice.name = column;
    return choice;
  }
  if (column.size() > 6) throw SampleError("no file has column " + column);
  choice.index = std::stoul(column);
  if (*choice.index == 0) throw SampleError("columns are counted from 1");
  --*choice.index;
  return choice;
}

// The column a header line gives, or the error that says why it gives none.
size_t ColumnOfHeader(const std::vector<std::string>& names, const ColumnChoice& choice,
                      const std::string& where) {
  if (!choice.name.empty()) {
    const auto it = std::find(names.begin(), names.end(), choice.name);
    if (it == names.end()) {
      throw SampleError(where + " names no column '" + choice.name +
                        "' (its columns: " + Joined(names) + ")");
    }
    return static_cast<size_t>(it - names.begin());
  }
  if (choice.index) return *choice.index;
  if (names.size() > 1) {
    throw SampleError(where + " names several columns (" + Joined(names) +
                      "): choose one by number or by name");
  }
  return 0;
}

}  // namespace

const char* UnitsName(Units units) {
  return units == Units::kVolts ? "volts" : units == Units::kRaw ? "raw" : "codes";
}

Samples ReadSamples(std::istream& in, const std::string& source, const std::string& column,
                    Units units) {
  ColumnChoice choice = Choose(column);
  Samples samples;
  std::string line;
  size_t lineNumber = 0;
  bool first = true;
  while (std::getline(in, line)) {
    ++lineNumber;
    const size_t start = line.find_first_not_of(" \t\r");
    if (start == std::string::npos || line[start] == '#') continue;
    const std::vector<std::string> cells = SplitCells(line);
    const std::string where = source + " line " + std::to_string(lineNumber);
    if (first && IsHeader(cells)) {
      choice.index = ColumnOfHeader(cells, choice, where);
      if (*choice.index < cells.size()) samples.header = cells[*choice.index];
      first = false;
      continue;
    }
    if (first && !choice.name.empty()) {
      throw SampleError(source + ": the first line names no columns, so none is '" + choice.name +
                        "'");
    }
    first = false;
    if (!choice.index && cells.size() > 1) {
      throw SampleError(where + " holds several values: choose a column by number or by name");
    }
    const size_t at = choice.index.value_or(0);
    if (at >= cells.size()) throw SampleError(where + " has no column " + std::to_string(at + 1));
    std::string error;
    const auto value = ParseSample(cells[at], units, &error);
    if (!value) throw SampleError(where + ": " + error);
    samples.values.push_back(*value);
  }
  if (in.bad()) throw SampleError(source + " could not be read");
  if (samples.values.empty()) throw SampleError(source + " holds no samples");
  samples.column = choice.index.value_or(0) + 1;
  return samples;
}

}  // namespace korvelan380::tool
