// Register transactions and queue steps on one module. The caller holds the module for the
// whole sequence it belongs to, so that no other frame falls between a read and its reply. All
// return true on success; the exports turn false into status 5.
#ifndef KORVELAN380_LINK_TRANSACTIONS_H
#define KORVELAN380_LINK_TRANSACTIONS_H

#include <cstddef>
#include <cstdint>

#include "link/link.h"

namespace korvelan380 {

// How long a read waits for its whole reply before it fails, by the clock.
inline constexpr uint32_t kReplyTimeoutMs = 10'000;
// Without the driver's timeouts the reply is polled this often (FT_Read is taken to return at
// once with what is there).
inline constexpr uint32_t kReplyPollIntervalMs = 10;
inline constexpr uint32_t kDrainTimeoutMs = 5000;

// One FT_Write of a complete frame, while the link is open; a write the driver took only part
// of (its write timeout ran out) fails.
bool SendFrame(Link& link, const uint8_t* frame, size_t length);

// Registers first..last receive values[0..n-1]; a run of 1 to 255 registers.
bool WriteRegisters(Link& link, const uint8_t* values, uint8_t first, uint8_t last);

// out[0..n-1] receive registers first..last; a run of 1 to 256 registers. Bytes already waiting
// in the receive queue are taken as the start of the reply. Returns as soon as the reply is in;
// a reply still incomplete after kReplyTimeoutMs fails the read. A read that fails after its
// frame went out discards what is left in the receive queue.
bool ReadRegisters(Link& link, uint8_t* out, uint8_t first, uint8_t last);

// Waits, for about 5 s at most, until the driver's transmit queue for the module is empty.
bool DrainTransmit(Link& link);

// Discards whatever the driver has received from the module and not yet read.
bool FlushReceive(Link& link);

}  // namespace korvelan380

#endif  // KORVELAN380_LINK_TRANSACTIONS_H
