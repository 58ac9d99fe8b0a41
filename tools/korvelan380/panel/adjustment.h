// The panel's guided calibration: the library outputs each point, the user types what the meter
// reads, one request a reading. The adjustment lives here between requests, one a module; a new
// start throws the one under way away, and a request naming an adjustment or a point that is no
// longer the one awaited (a second tab, a page reloaded) changes nothing.
#ifndef KORVELAN380_TOOL_PANEL_ADJUSTMENT_H
#define KORVELAN380_TOOL_PANEL_ADJUSTMENT_H

#include <cstdint>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "actions/calibration_adjust.h"
#include "app/session.h"

namespace korvelan380::tool {

// A request for an adjustment or a point other than the one under way: 409, nothing changed.
struct AdjustConflict : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Where a request says the user is: the adjustment (as its start numbered it), the pair and the
// point whose reading it gives.
struct AdjustPlace {
  uint64_t adjustment = 0;
  size_t pair = 0;
  uint8_t point = 0;
};

class PanelAdjustment {
 public:
  // Throws the adjustment under way away (its record restored), keeps the record as it is now
  // and begins the first pair.
  ordered_json Start(Session& s, const std::vector<AdjustPair>& pairs);
  // The reading for the point awaited; a reading the library refuses throws a usage error
  // saying why, and the point is asked for again.
  ordered_json Reading(Session& s, const AdjustPlace& at, double volts);
  // Stores the calibration found in the EEPROM, with its history record as `calib adjust` writes
  // it, once every pair is done.
  ordered_json Keep(Session& s, uint64_t adjustment);
  // Sets the record as it was before the start again.
  ordered_json Discard(Session& s, uint64_t adjustment);
  // Where the adjustment stands; with the simulated module, the awaited point also says what its
  // output measures, the reading a meter would give.
  ordered_json State(Session& s);
  // Runs `change` unless an adjustment is under way: the calibration is not set behind its back.
  ordered_json Unless(const std::function<ordered_json()>& change);

 private:
  void Check(uint64_t adjustment) const;
  void Begin(Session& s);
  void Restore(Session& s);
  ordered_json StateLocked(Session& s) const;

  std::mutex mu_;
  uint64_t id_ = 0;  // counts the starts
  bool active_ = false;
  std::string outcome_;  // of the last adjustment ended: "kept" or "thrown away"
  std::string history_;  // the history record of the last one kept
  Calibration before_;
  std::vector<AdjustPair> pairs_;
  size_t pair_ = 0;  // under way; pairs_.size() once all are done
  KORVELAN380_CALIB_ADJUST adjust_{};
  ordered_json done_ = ordered_json::array();  // each pair done, as AdjustJson gives it
};

}  // namespace korvelan380::tool

#endif  // KORVELAN380_TOOL_PANEL_ADJUSTMENT_H
