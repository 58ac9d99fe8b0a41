// Replay: the simulated module answers every driver call from a capture instead of from its
// model, and notes the first call where the program departs from what was recorded.
#ifndef KORVELAN380_SIM_REPLAY_H
#define KORVELAN380_SIM_REPLAY_H

#include <cstddef>
#include <string>

#include "d2xx.h"
#include "korvelan380_sim.h"

namespace korvelan380::sim::replay {

// Whether the driver functions answer from a capture.
bool Active();
// Loads the capture at `path` and answers from it from the next call on; returns "" or why not
// (the capture is not left half loaded).
std::string Start(const std::string& path);
// Back to the model.
void Stop();
// The first departure so far, "" when none. With `atEnd`, recorded calls the program never made
// are a departure too.
std::string Departure(bool atEnd);

// The driver functions, answered from the capture.
#define D2XX_FUNCTION(name, ordinal, params, args) FT_STATUS name params;
#include "d2xx_functions.inc"
#undef D2XX_FUNCTION

}  // namespace korvelan380::sim::replay

extern "C" {
// Starts a replay of the capture at `path`: 1, or 0 with why not in `error` (cut to capacity).
KSIM_API int ksim_replay_start(const char* path, char* error, size_t capacity);
// The first departure into `out` (cut to capacity); returns its full length, 0 when none.
KSIM_API size_t ksim_replay_departure(int at_end, char* out, size_t capacity);
KSIM_API void ksim_replay_stop(void);
}

#endif  // KORVELAN380_SIM_REPLAY_H
