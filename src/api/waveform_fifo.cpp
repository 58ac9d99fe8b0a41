// Waveform memory and FIFO: KORVELAN380_WavImgSet, _Fifo_ImgSet, _Fifo_Clr, _Fifo_Status.
#include <memory>
#include <new>

#include "api/dac_channel.h"
#include "api/export_call.h"
#include "api/registers.h"
#include "calibration/conversion.h"
#include "link/stream.h"

namespace korvelan380 {
namespace {

// From this many samples on, a table of the codes of all 16384 rawValues is cheaper than
// converting each sample.
constexpr size_t kTableFrom = 8192;
// The codes are made a chunk at a time, each chunk encoded while it is still in the cache.
constexpr size_t kChunk = 2048;

// Converts and encodes count samples with one gain and offset, giving exactly the codes the
// conversion export gives.
bool ConvertAndEncode(uint8_t rangeIndex, float gain, uint16_t offset, const uint16_t* samples,
                      size_t count, uint8_t* body) {
  std::unique_ptr<uint16_t[]> table;
  if (count >= kTableFrom) {
    table.reset(new (std::nothrow) uint16_t[kRawValues]);
    if (!table) return false;
    CalibratedTable(rangeIndex, gain, offset, table.get());
  }
  uint16_t codes[kChunk];
  for (size_t start = 0; start < count; start += kChunk) {
    const size_t n = count - start < kChunk ? count - start : kChunk;
    const uint16_t* in = samples + start;
    if (table) {
      for (size_t i = 0; i < n; ++i) codes[i] = table[in[i] & (kRawValues - 1)];
    } else {
      for (size_t i = 0; i < n; ++i) codes[i] = CalibratedFromRaw(rangeIndex, in[i], gain, offset);
    }
    EncodeStreamBody(codes, n, body + kStreamBytesPerSample * start);
  }
  return true;
}

}  // namespace
}  // namespace korvelan380

using namespace korvelan380;

extern "C" KORVELAN380_API StatusCode KORVELAN380_WavImgSet(const char* deviceId, uint8_t channel,
                                                            const uint16_t* samples,
                                                            int32_t count) {
  // 1. and 2. Connected and open; channel 0 or 1; 1 to 524288 samples.
  ExportCall call(deviceId);
  if (!call.Connected()) return kNotConnected;
  if (channel >= kChannels || !StreamCountAccepted(count) || samples == nullptr) {
    return kInvalidArgument;
  }
  if (!call.TakeModule()) return kTransferFailed;
  DeviceEntry& entry = call.Entry();
  // 3. The range, once, for every sample.
  uint8_t rangeIndex;
  if (!ReadRange(entry, channel, rangeIndex)) return kTransferFailed;
  if (rangeIndex >= kRanges) return kTransferFailed;  // nothing written, nothing streamed
  // 4. and 5. The calibration entry, looked up once; every sample converted with it and
  // encoded straight into the stream body.
  const size_t n = static_cast<size_t>(count);
  std::unique_ptr<uint8_t[]> body(new (std::nothrow) uint8_t[kStreamBytesPerSample * n]);
  if (!body) return kTransferFailed;
  float gain;
  uint16_t offset;
  entry.calibration.Entry(CalibrationIndex(channel, rangeIndex), gain, offset);
  if (!ConvertAndEncode(rangeIndex, gain, offset, samples, n, body.get())) return kTransferFailed;
  // 6. The image length, count - 1, as 24 bits, most significant byte first.
  const uint32_t last = static_cast<uint32_t>(count) - 1;
  const uint8_t length[3] = {static_cast<uint8_t>(last >> 16), static_cast<uint8_t>(last >> 8),
                             static_cast<uint8_t>(last)};
  const uint8_t first = reg::kWaveLength[channel];
  if (!WriteRegisters(entry, length, first, first + 2)) return kTransferFailed;
  // 7. and 8. The codes, in one stream.
  return StepStatus(StreamEncodedBody(entry, body.get(), channel, count));
}

extern "C" KORVELAN380_API StatusCode KORVELAN380_Fifo_ImgSet(const char* deviceId, uint8_t channel,
                                                              const uint16_t* codes,
                                                              int32_t count) {
  ExportCall call(deviceId);
  if (!call.Connected()) return kNotConnected;
  if (channel > 2 || !StreamCountAccepted(count) || codes == nullptr) return kInvalidArgument;
  if (!call.TakeModule()) return kTransferFailed;
  // The caller's codes as they are; the stream refuses channel 2, so nothing is sent for it.
  return StepStatus(StreamWaveform(call.Entry(), codes, channel, count));
}

extern "C" KORVELAN380_API StatusCode KORVELAN380_Fifo_Clr(const char* deviceId, uint8_t channel) {
  ExportCall call(deviceId);
  if (!call.Connected()) return kNotConnected;
  if (channel > 2) return kInvalidArgument;
  if (!call.TakeModule()) return kTransferFailed;
  // Channel 2 clears channel 0's FIFO.
  const uint8_t clear = 0x00;
  const uint8_t reg = reg::kFifoClear[channel];
  return StepStatus(WriteRegisters(call.Entry(), &clear, reg, reg));
}

extern "C" KORVELAN380_API StatusCode KORVELAN380_Fifo_Status(const char* deviceId,
                                                              uint8_t fifoFlag7[2],
                                                              uint8_t fifoFlag6[2],
                                                              uint32_t fifoCounter[2]) {
  ExportCall call(deviceId);
  if (!call.Connected()) return kNotConnected;
  if (fifoFlag7 == nullptr || fifoFlag6 == nullptr || fifoCounter == nullptr) {
    return kInvalidArgument;
  }
  if (!call.TakeModule()) return kTransferFailed;
  // 1. The whole status block in one transaction; nothing is written unless it arrives.
  uint8_t block[reg::kFifoStatusLast - reg::kFifoStatusFirst + 1];
  if (!ReadRegisters(call.Entry(), block, reg::kFifoStatusFirst, reg::kFifoStatusLast)) {
    return kTransferFailed;
  }
  // 2. Per channel, four registers apart: two flags and a 20-bit counter.
  for (int c = 0; c < 2; ++c) {
    const uint8_t* s = block + 4 * c;
    fifoFlag7[c] = s[0] >> 7;
    fifoFlag6[c] = (s[0] >> 6) & 1;
    fifoCounter[c] = uint32_t{s[0] & 0x0Fu} << 16 | uint32_t{s[1]} << 8 | s[2];
  }
  return kOk;
}
