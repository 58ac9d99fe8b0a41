// Waveform memory and FIFO: KORVELAN380_WavImgSet, _Fifo_ImgSet, _Fifo_Clr, _Fifo_Status.
#include <memory>
#include <new>

#include "api/dac_channel.h"
#include "api/export_call.h"
#include "calibration/conversion.h"
#include "link/registers.h"
#include "link/stream.h"
#include "link/transactions.h"

namespace korvelan380 {
namespace {

// The stream body of count samples, each converted exactly as the conversion export converts
// it: every one of the 16384 rawValues once, then each sample looked up.
bool EncodeCalibrated(uint8_t rangeIndex, float gain, uint16_t offset, const uint16_t* samples,
                      size_t count, uint8_t* body) {
  std::unique_ptr<uint16_t[]> codes(new (std::nothrow) uint16_t[kRawValues]);
  if (!codes) return false;
  for (size_t raw = 0; raw < kRawValues; ++raw) {
    codes[raw] = CalibratedFromRaw(rangeIndex, static_cast<uint16_t>(raw), gain, offset);
  }
  for (size_t i = 0; i < count; ++i) {
    // Only the low 14 bits of a rawValue count.
    EncodeStreamBody(&codes[samples[i] & (kRawValues - 1)], 1, body + kStreamBytesPerSample * i);
  }
  return true;
}

}  // namespace
}  // namespace korvelan380

using namespace korvelan380;

extern "C" KORVELAN380_API StatusCode KORVELAN380_WavImgSet(const char* deviceId, uint8_t channel,
                                                            const uint16_t* samples,
                                                            int32_t count) {
  // Connected and open; channel 0 or 1; 1 to 524288 samples.
  ExportCall call(deviceId);
  if (!call.Connected()) return kNotConnected;
  if (channel >= kChannels || !StreamCountAccepted(count) || samples == nullptr) {
    return kInvalidArgument;
  }
  if (!call.TakeModule()) return kTransferFailed;
  DeviceEntry& entry = call.Entry();
  // The range, once, for every sample.
  uint8_t rangeIndex;
  if (!ReadRange(entry.link, channel, rangeIndex)) return kTransferFailed;
  if (rangeIndex >= kRanges) return kTransferFailed;  // nothing written, nothing streamed
  // The calibration entry, looked up once; the whole body is made before anything is sent.
  const size_t n = static_cast<size_t>(count);
  float gain;
  uint16_t offset;
  entry.calibration.Entry(CalibrationIndex(channel, rangeIndex), gain, offset);
  std::unique_ptr<uint8_t[]> body(new (std::nothrow) uint8_t[kStreamBytesPerSample * n]);
  if (!body || !EncodeCalibrated(rangeIndex, gain, offset, samples, n, body.get())) {
    return kTransferFailed;
  }
  // The image length, count - 1, as 24 bits, most significant byte first.
  const uint32_t last = static_cast<uint32_t>(count) - 1;
  const uint8_t length[3] = {static_cast<uint8_t>(last >> 16), static_cast<uint8_t>(last >> 8),
                             static_cast<uint8_t>(last)};
  const uint8_t first = reg::kWaveLength[channel];
  if (!WriteRegisters(entry.link, length, first, first + 2)) return kTransferFailed;
  // The codes, in one stream.
  return StepStatus(StreamEncodedBody(entry.link, body.get(), channel, count));
}

extern "C" KORVELAN380_API StatusCode KORVELAN380_Fifo_ImgSet(const char* deviceId, uint8_t channel,
                                                              const uint16_t* codes,
                                                              int32_t count) {
  ExportCall call(deviceId);
  if (!call.Connected()) return kNotConnected;
  if (channel > 2 || !StreamCountAccepted(count) || codes == nullptr) return kInvalidArgument;
  if (!call.TakeModule()) return kTransferFailed;
  // The caller's codes as they are; the stream refuses channel 2, so nothing is sent for it.
  return StepStatus(StreamWaveform(call.Wire(), codes, channel, count));
}

extern "C" KORVELAN380_API StatusCode KORVELAN380_Fifo_Clr(const char* deviceId, uint8_t channel) {
  ExportCall call(deviceId);
  if (!call.Connected()) return kNotConnected;
  if (channel > 2) return kInvalidArgument;
  if (!call.TakeModule()) return kTransferFailed;
  // Channel 2 clears channel 0's FIFO.
  const uint8_t clear = 0x00;
  const uint8_t reg = reg::kFifoClear[channel];
  return StepStatus(WriteRegisters(call.Wire(), &clear, reg, reg));
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
  // The whole status block in one transaction; nothing is written unless it arrives.
  uint8_t block[reg::kFifoStatusLast - reg::kFifoStatusFirst + 1];
  if (!ReadRegisters(call.Wire(), block, reg::kFifoStatusFirst, reg::kFifoStatusLast)) {
    return kTransferFailed;
  }
  // Per channel, four registers apart: two flags and a 20-bit counter.
  for (int c = 0; c < 2; ++c) {
    const uint8_t* s = block + 4 * c;
    fifoFlag7[c] = s[0] >> 7;
    fifoFlag6[c] = (s[0] >> 6) & 1;
    fifoCounter[c] = uint32_t{s[0] & 0x0Fu} << 16 | uint32_t{s[1]} << 8 | s[2];
  }
  return kOk;
}
