// The status codes, named once for every layer of the library.
#ifndef KORVELAN380_BASE_STATUS_H
#define KORVELAN380_BASE_STATUS_H

#include "korvelan380.h"

namespace korvelan380 {

inline constexpr StatusCode kOk = KORVELAN380_OK;
inline constexpr StatusCode kInvalidArgument = KORVELAN380_INVALID_ARGUMENT;
inline constexpr StatusCode kNotConnected = KORVELAN380_NOT_CONNECTED;
inline constexpr StatusCode kOpenFailed = KORVELAN380_OPEN_FAILED;
inline constexpr StatusCode kTransferFailed = KORVELAN380_TRANSFER_FAILED;
inline constexpr StatusCode kAlreadyConnected = KORVELAN380_ALREADY_CONNECTED;

// An internal step's false becomes 5.
inline StatusCode StepStatus(bool ok) {
  return ok ? kOk : kTransferFailed;
}

}  // namespace korvelan380

#endif  // KORVELAN380_BASE_STATUS_H
