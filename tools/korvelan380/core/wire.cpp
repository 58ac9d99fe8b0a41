#include "core/wire.h"

#include "d2xx.h"
#include "hex.h"

#include <algorithm>
#include <cstdio>

namespace korvelan380::tool {
namespace {

namespace d2xx = korvelan380::d2xx;

constexpr uint8_t kStx = 0x02;
constexpr uint8_t kEtx = 0x03;

struct Block {
  unsigned first;
  unsigned last;
  const char* name;
};

// The module's registers, in blocks that one transaction reads or writes.
constexpr Block kBlocks[] = {
    {0, 0, "external-signal selection"},
    {1, 4, "clock setting of channel 2"},
    {5, 5, "gate of channel 2"},
    {6, 6, "trigger of channel 2"},
    {7, 7, "DIO direction"},
    {8, 8, "DIO output"},
    {9, 9, "DIO input"},
    {10, 10, "EXIO input"},
    {11, 11, "EXIO selection"},
    {12, 12, "initialised flag"},
    {16, 16, "control of channel 0"},
    {17, 17, "control of channel 1"},
    {18, 21, "clock setting of channel 0"},
    {22, 25, "clock setting of channel 1"},
    {26, 26, "gate of channel 0"},
    {27, 27, "trigger of channel 0"},
    {28, 28, "gate of channel 1"},
    {29, 29, "trigger of channel 1"},
    {30, 31, "mode parameter of channel 0"},
    {32, 33, "mode parameter of channel 1"},
    {34, 34, "range of channel 0"},
    {35, 35, "range of channel 1"},
    {36, 36, "range of channel 2"},
    {38, 38, "preset enable of channel 0"},
    {39, 39, "preset enable of channel 1"},
    {42, 43, "output value of channel 0"},
    {44, 45, "output value of channel 1"},
    {50, 51, "preset code of channel 0"},
    {52, 53, "preset code of channel 1"},
    {58, 60, "waveform length of channel 0"},
    {61, 63, "waveform length of channel 1"},
    {67, 67, "FIFO clear of channel 0"},
    {75, 75, "FIFO clear of channel 1"},
    {64, 79, "FIFO status"},
    {128, 129, "gain word"},
    {130, 131, "offset word"},
};

std::string HexByte(unsigned value) {
  char text[4];
  std::snprintf(text, sizeof text, "%02x", value & 0xFF);
  return text;
}

// The bytes that hex pairs stand for; false when a character is not a hex digit.
bool HexPairs(const std::vector<uint8_t>& data, size_t from, size_t to, std::vector<uint8_t>& out) {
  const std::string_view text(reinterpret_cast<const char*>(data.data()) + from, to - from);
  return hex::Decode(text, out);
}

// "0x3FFF" for the bytes of one block (big-endian across its registers), else byte by byte.
std::string Value(const std::vector<uint8_t>& values, bool oneBlock) {
  if (oneBlock && values.size() <= 4) {
    std::string text = "0x";
    for (uint8_t v : values) {
      char pair[3];
      std::snprintf(pair, sizeof pair, "%02X", v);
      text += pair;
    }
    return text;
  }
  std::string text;
  for (uint8_t v : values) text += (text.empty() ? "" : " ") + HexByte(v);
  return text;
}

bool OneBlock(unsigned first, unsigned last) {
  return std::any_of(std::begin(kBlocks), std::end(kBlocks),
                     [&](const Block& b) { return first >= b.first && last <= b.last; });
}

class Describer {
 public:
  WireLine Describe(const capture::DriverCall& e) {
    WireLine line{d2xx::FunctionName(e.fn), "", "", e.status, 1};
    switch (e.fn) {
      case D2XX_FT_OpenEx:
        line.frame = e.serial.empty() ? std::string(e.data.begin(), e.data.end()) : e.serial;
        line.meaning = "open the module by serial number";
        break;
      case D2XX_FT_Close:
        line.meaning = "close the module";
        break;
      case D2XX_FT_Purge:
        line.meaning = "discard both driver queues";
        break;
      case D2XX_FT_GetQueueStatus:
        line.meaning = "how many reply bytes are waiting";
        break;
      case D2XX_FT_GetStatus:
        line.meaning = "whether the transmit queue is empty";
        break;
      case D2XX_FT_EE_UASize:
        line.meaning = "size of the EEPROM user area";
        break;
      case D2XX_FT_EE_UARead:
        line.frame = std::to_string(e.data.size()) + " bytes";
        line.meaning = !e.data.empty() && e.data[0] == 0x55
                           ? "calibration record read from the EEPROM"
                           : "EEPROM user area read: no calibration record";
        break;
      case D2XX_FT_EE_UAWrite:
        line.frame = std::to_string(e.data.size()) + " bytes";
        line.meaning = "calibration record stored in the EEPROM";
        break;
      case D2XX_FT_SetTimeouts:
        line.frame = "read " + std::to_string(e.arg) + " ms";
        line.meaning = "set the driver's read and write timeouts";
        break;
      case D2XX_FT_SetLatencyTimer:
        line.frame = std::to_string(e.arg) + " ms";
        line.meaning = "set the chip's latency timer";
        break;
      case D2XX_FT_Write:
        DescribeWrite(e.data, line);
        break;
      case D2XX_FT_Read:
        DescribeReply(e.data, line);
        break;
      default:
        break;
    }
    return line;
  }

 private:
  void DescribeWrite(const std::vector<uint8_t>& d, WireLine& line) {
    const size_t n = d.size();
    if (n >= 2 && d[0] == kStx && d[1] == 'W' && d[n - 1] == kEtx) {
      std::vector<uint8_t> bytes;
      if (HexPairs(d, 2, n - 1, bytes) && bytes.size() >= 2) {
        const unsigned first = bytes[0];
        const std::vector<uint8_t> values(bytes.begin() + 1, bytes.end());
        const unsigned last = first + static_cast<unsigned>(values.size()) - 1;
        line.frame = "W";
        for (uint8_t b : bytes) line.frame += " " + HexByte(b);
        line.meaning =
            "set " + RegisterName(first, last) + " to " + Value(values, OneBlock(first, last));
        streaming_ = false;
        return;
      }
    }
    if (n == 7 && d[0] == kStx && d[1] == 'R' && d[6] == kEtx) {
      std::vector<uint8_t> bytes;
      if (HexPairs(d, 2, 6, bytes)) {
        line.frame = "R " + HexByte(bytes[0]) + " " + HexByte(bytes[1]);
        line.meaning = "read " + RegisterName(bytes[0], bytes[1]);
        readFirst_ = bytes[0];
        readLast_ = bytes[1];
        streaming_ = false;
        return;
      }
    }
    if (n == 4 && d[0] == kStx && d[1] == 'X') {
      line.frame = "X " + std::string(d.begin() + 2, d.end());
      line.meaning = "waveform stream to channel " + std::string(1, static_cast<char>(d[3]));
      streaming_ = true;
      return;
    }
    if (streaming_ && n == 1 && d[0] == kEtx) {
      line.frame = "ETX";
      line.meaning = "end of the stream";
      streaming_ = false;
      return;
    }
    if (streaming_) {
      line.frame = std::to_string(n / 4) + " samples";
      line.meaning = "stream body, four hex digits a sample";
      if (n >= 4) line.meaning += ", starting " + std::string(d.begin(), d.begin() + 4);
      return;
    }
    line.frame = std::to_string(n) + " bytes";
    line.meaning = "not a frame of the module";
  }

  void DescribeReply(const std::vector<uint8_t>& d, WireLine& line) {
    if (d.empty()) {
      line.frame = "nothing";
      line.meaning = "no reply yet";
      return;
    }
    std::vector<uint8_t> values;
    for (size_t i = 0; i + 4 <= d.size(); i += 4) {
      if (d[i] != kStx || d[i + 1] != 'R' || d[i + 3] != kEtx) break;
      values.push_back(d[i + 2]);
    }
    if (values.size() * 4 != d.size()) {
      line.frame = std::to_string(d.size()) + " bytes";
      line.meaning = "reply bytes";
      return;
    }
    line.frame = "reply";
    if (values.size() > 4) {
      line.frame += " of " + std::to_string(values.size());
    } else {
      for (uint8_t v : values) line.frame += " " + HexByte(v);
    }
    const unsigned last = readFirst_ + static_cast<unsigned>(values.size()) - 1;
    if (values.size() == readLast_ - readFirst_ + 1u) {
      line.meaning = RegisterName(readFirst_, last) + (values.size() == 1 ? " holds " : " hold ") +
                     Value(values, OneBlock(readFirst_, last));
    } else {
      line.meaning = std::to_string(values.size()) + " register values";
    }
  }

  bool streaming_ = false;
  unsigned readFirst_ = 0;
  unsigned readLast_ = 0;
};

}  // namespace

std::string RegisterName(unsigned first, unsigned last) {
  for (const Block& b : kBlocks) {
    if (first >= b.first && last <= b.last) {
      return first == last ? "register " + std::to_string(first) + " (" + b.name + ")"
                           : "registers " + std::to_string(first) + "-" + std::to_string(last) +
                                 " (" + b.name + ")";
    }
  }
  return first == last ? "register " + std::to_string(first)
                       : "registers " + std::to_string(first) + "-" + std::to_string(last);
}

std::vector<WireLine> DescribeTrace(const std::vector<capture::DriverCall>& trace) {
  Describer describer;
  std::vector<WireLine> lines;
  for (const capture::DriverCall& entry : trace) {
    WireLine line = describer.Describe(entry);
    if (!lines.empty()) {
      WireLine& prev = lines.back();
      if (prev.call == line.call && prev.frame == line.frame && prev.meaning == line.meaning &&
          prev.status == line.status &&
          (entry.fn == D2XX_FT_GetQueueStatus || entry.fn == D2XX_FT_GetStatus ||
           (entry.fn == D2XX_FT_Read && entry.data.empty()))) {
        ++prev.repeat;
        continue;
      }
    }
    lines.push_back(std::move(line));
  }
  return lines;
}

std::string FormatWire(const std::vector<WireLine>& lines, const std::string& indent) {
  size_t callWidth = 0;
  size_t frameWidth = 0;
  for (const WireLine& l : lines) {
    callWidth = std::max(callWidth,
                         l.call.size() + (l.repeat > 1 ? 3 + std::to_string(l.repeat).size() : 0));
    frameWidth = std::max(frameWidth, std::min<size_t>(l.frame.size(), 24));
  }
  std::string text;
  for (const WireLine& l : lines) {
    std::string call = l.call + (l.repeat > 1 ? " x" + std::to_string(l.repeat) : "");
    std::string line = indent + call + std::string(callWidth + 2 - call.size(), ' ') + l.frame;
    if (l.frame.size() < frameWidth) line += std::string(frameWidth - l.frame.size(), ' ');
    line += "  " + l.meaning;
    if (l.status != 0) line += "  [driver status " + std::to_string(l.status) + "]";
    while (!line.empty() && line.back() == ' ') line.pop_back();
    text += line + "\n";
  }
  return text;
}

ordered_json WireJson(const std::vector<WireLine>& lines) {
  ordered_json out = ordered_json::array();
  for (const WireLine& l : lines) {
    ordered_json j = {
        {"call", l.call}, {"frame", l.frame}, {"meaning", l.meaning}, {"status", l.status}};
    if (l.repeat > 1) j["repeat"] = l.repeat;
    out.push_back(std::move(j));
  }
  return out;
}

}  // namespace korvelan380::tool
