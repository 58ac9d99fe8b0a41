// The module's register map (decimal register numbers). Values wider than a byte are
// big-endian across consecutive registers and travel in one transaction.
#ifndef KORVELAN380_LINK_REGISTERS_H
#define KORVELAN380_LINK_REGISTERS_H

#include <cstdint>

namespace korvelan380::reg {

inline constexpr uint8_t kExternalSelect = 0;
inline constexpr uint8_t kClock[3] = {18, 22, 1};  // by channel 0, 1, 2; four registers each
inline constexpr uint8_t kGate[3] = {26, 28, 5};
inline constexpr uint8_t kTrigger[3] = {27, 29, 6};
inline constexpr uint8_t kDioDirection = 7;
inline constexpr uint8_t kDioOutput = 8;
inline constexpr uint8_t kDioInput = 9;
inline constexpr uint8_t kExioInput = 10;
inline constexpr uint8_t kExioSelect = 11;
inline constexpr uint8_t kInitialised = 12;
inline constexpr uint8_t kControl[2] = {16, 17};
inline constexpr uint8_t kModeParameter[2] = {30, 32};  // two registers each
inline constexpr uint8_t kRange[3] = {34, 35, 36};
inline constexpr uint8_t kPresetEnable[2] = {38, 39};
inline constexpr uint8_t kOutputValue[2] = {42, 44};  // two registers each
inline constexpr uint8_t kPresetCode[2] = {50, 52};   // two registers each
inline constexpr uint8_t kWaveLength[2] = {58, 61};   // three registers each
inline constexpr uint8_t kFifoStatusFirst = 64;
inline constexpr uint8_t kFifoStatusLast = 79;
inline constexpr uint8_t kFifoClear[3] = {67, 75, 67};
inline constexpr uint8_t kGainWord = 128;    // two registers, one pair for all channels
inline constexpr uint8_t kOffsetWord = 130;  // two registers

}  // namespace korvelan380::reg

#endif  // KORVELAN380_LINK_REGISTERS_H
