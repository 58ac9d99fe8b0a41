// doctor: its checks (doctor.cpp) and the timing of round trips (doctor_timing.cpp).
#ifndef KORVELAN380_TOOL_DOCTOR_H
#define KORVELAN380_TOOL_DOCTOR_H

#include "app/session.h"
#include "app/tool.h"

namespace korvelan380::tool {

// doctor --timing: 100 reads of register 12 through the driver the library binds at the chip's
// own latency timer and 100 more at the one --latency sets, their median and 99th percentile,
// and what sets the timer when they are slow.
void DoctorTiming(Session& s, Report& r);

}  // namespace korvelan380::tool

#endif  // KORVELAN380_TOOL_DOCTOR_H
