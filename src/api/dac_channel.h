// Steps of the DAC channel and value families that other families use too.
#ifndef KORVELAN380_API_DAC_CHANNEL_H
#define KORVELAN380_API_DAC_CHANNEL_H

#include <cstdint>

#include "device/device_entry.h"
#include "link/link.h"

namespace korvelan380 {

// Reads channel 0's or 1's range register, as the module holds it (not checked against 0..6).
bool ReadRange(Link& link, uint8_t channel, uint8_t& rangeIndex);

// Sets channel 0's, 1's or 2's range (channel 2 with channel 0's calibration): the entry's gain
// and offset words first, then the range. The module must be held.
bool SetRange(DeviceEntry& entry, uint8_t channel, uint8_t rangeIndex);

// Writes channel 0's or 1's output code as given, high byte first, in one transaction.
bool WriteOutputCode(Link& link, uint8_t channel, uint16_t code);

}  // namespace korvelan380

#endif  // KORVELAN380_API_DAC_CHANNEL_H
