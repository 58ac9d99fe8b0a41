// Steps of the DAC channel family that other families use too.
#ifndef KORVELAN380_API_DAC_CHANNEL_H
#define KORVELAN380_API_DAC_CHANNEL_H

#include <cstdint>

#include "device/device_entry.h"

namespace korvelan380 {

// Reads channel 0's or 1's range register, as the module holds it (not checked against 0..6).
bool ReadRange(DeviceEntry& entry, uint8_t channel, uint8_t& rangeIndex);

// The two bytes of a 16-bit value, high byte first.
inline void SplitWord(uint16_t value, uint8_t (&bytes)[2]) {
  bytes[0] = static_cast<uint8_t>(value >> 8);
  bytes[1] = static_cast<uint8_t>(value & 0xFF);
}
inline uint16_t JoinWord(const uint8_t (&bytes)[2]) {
  return static_cast<uint16_t>(bytes[0] << 8 | bytes[1]);
}

}  // namespace korvelan380

#endif  // KORVELAN380_API_DAC_CHANNEL_H
