#include "actions/waveform.h"

#include <cmath>
#include <numbers>

#include "actions/channel.h"

namespace korvelan380::tool {

double Shape(const std::string& shape, double phase) {
  if (shape == "sine") return std::sin(2 * std::numbers::pi * phase);
  if (shape == "square") return phase < 0.5 ? 1.0 : -1.0;
  if (shape == "triangle") {
    if (phase < 0.25) return 4 * phase;
    if (phase < 0.75) return 2 - 4 * phase;
    return 4 * phase - 4;
  }
  return 2 * phase - 1;  // saw, rising
}

std::vector<double> Generate(const Generator& g, const Range& range) {
  const double amplitude = g.amplitude.value_or(range.span / 2 * 0.9);
  const double offset = g.offset.value_or(range.bottom + range.span / 2);
  std::vector<double> volts(g.samples);
  for (uint32_t i = 0; i < g.samples; ++i) {
    volts[i] = offset + amplitude * Shape(g.shape, std::fmod(g.cycles * i / g.samples, 1.0));
  }
  return volts;
}

uint8_t WaveRange(Session& s, uint8_t channel, Units units) {
  uint8_t index = 0;
  if (units == Units::kCodes) return ReadRange(s, channel);
  ChannelRange(s, channel, &index);
  return index;
}

Waveform MakeWaveform(uint8_t channel, uint8_t rangeIndex, Units units,
                      const std::vector<double>& samples) {
  Waveform w;
  w.channel = channel;
  w.rangeIndex = rangeIndex;
  w.range = RangeOf(rangeIndex);
  w.units = units;
  w.values.resize(samples.size());
  for (size_t i = 0; i < samples.size(); ++i) {
    if (units == Units::kVolts) {
      if (!(samples[i] >= w.range->bottom && samples[i] <= w.range->Top())) w.clipped.push_back(i);
      w.values[i] = ClippedRaw(samples[i], *w.range);
    } else {
      w.values[i] = static_cast<uint16_t>(samples[i]);
    }
  }
  return w;
}

const char* LoadCall(WaveTarget target) {
  return target == WaveTarget::kFifo ? "KORVELAN380_Fifo_ImgSet" : "KORVELAN380_WavImgSet";
}

namespace {

void CheckLoadable(const Waveform& w, WaveTarget target, bool clip, const std::string& clipHint) {
  if (w.values.size() > kSampleLimit) {
    throw UsageError(std::to_string(w.values.size()) +
                     " samples are too many: the module takes at most " +
                     std::to_string(kSampleLimit));
  }
  if (w.units == Units::kCodes && target == WaveTarget::kMemory) {
    // The memory load calibrates what it is given: a code would be calibrated twice.
    throw UsageError("codes go to the FIFO as given: the memory takes volts or raw values");
  }
  if (!w.clipped.empty() && !clip) {
    ToolError error(std::to_string(w.clipped.size()) + " of " + std::to_string(w.values.size()) +
                        " samples lie outside the range " + w.range->name + ": its limits are " +
                        FormatVolts(w.range->bottom) + " to " + FormatVolts(w.range->Top()),
                    kExitUsage);
    error.hint = clipHint;
    throw error;
  }
}

// The FIFO takes codes as they are: raw values are calibrated here, as the memory load does.
std::vector<uint16_t> Calibrated(Session& s, const Waveform& w) {
  std::vector<uint16_t> codes(w.values.size());
  for (size_t i = 0; i < w.values.size(); ++i) {
    s.Check("KORVELANGetCalibedVal",
            KORVELANGetCalibedVal(s.id(), w.channel, w.rangeIndex, w.values[i], &codes[i]));
  }
  return codes;
}

}  // namespace

void LoadWaveform(Session& s, const Waveform& w, WaveTarget target, bool clip,
                  const std::string& clipHint) {
  CheckLoadable(w, target, clip, clipHint);
  const auto count = static_cast<int32_t>(w.values.size());
  if (target == WaveTarget::kMemory) {
    s.Check(LoadCall(target), KORVELAN380_WavImgSet(s.id(), w.channel, w.values.data(), count));
    return;
  }
  const std::vector<uint16_t> codes = w.units == Units::kCodes ? w.values : Calibrated(s, w);
  s.Check(LoadCall(target), KORVELAN380_Fifo_ImgSet(s.id(), w.channel, codes.data(), count));
}

}  // namespace korvelan380::tool
