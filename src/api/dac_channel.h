// A step of the DAC channel family that other families use too.
#ifndef KORVELAN380_API_DAC_CHANNEL_H
#define KORVELAN380_API_DAC_CHANNEL_H

#include <cstdint>

#include "link/link.h"

namespace korvelan380 {

// Reads channel 0's or 1's range register, as the module holds it (not checked against 0..6).
bool ReadRange(Link& link, uint8_t channel, uint8_t& rangeIndex);

}  // namespace korvelan380

#endif  // KORVELAN380_API_DAC_CHANNEL_H
