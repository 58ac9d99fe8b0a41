#include "panel/adjustment.h"

#include "core/values.h"

namespace korvelan380::tool {
namespace {

constexpr uint8_t kPoints = 3;

}  // namespace

ordered_json PanelAdjustment::Start(Session& s, const std::vector<AdjustPair>& pairs) {
  std::lock_guard<std::mutex> lock(mu_);
  if (active_) {
    Restore(s);
    active_ = false;
  }
  before_ = ReadCalibration(s);
  ++id_;
  pairs_ = pairs;
  pair_ = 0;
  done_ = ordered_json::array();
  outcome_.clear();
  history_.clear();
  active_ = true;
  try {
    Begin(s);
  } catch (const ToolError&) {
    active_ = false;
    Restore(s);
    throw;
  }
  return StateLocked(s);
}

ordered_json PanelAdjustment::Reading(Session& s, const AdjustPlace& at, double volts) {
  std::lock_guard<std::mutex> lock(mu_);
  Check(at.adjustment);
  if (pair_ == pairs_.size()) throw AdjustConflict("every pair is done: keep it or throw it away");
  if (at.pair != pair_ || at.point != adjust_.step) {
    throw AdjustConflict("pair " + std::to_string(pair_) + ", point " +
                         std::to_string(adjust_.step) + " is awaited, not pair " +
                         std::to_string(at.pair) + ", point " + std::to_string(at.point));
  }
  // On a copy: a reading that fails leaves the point awaited as it was.
  KORVELAN380_CALIB_ADJUST next = adjust_;
  const uint8_t refusal = TakeAdjustReading(s, next, volts);
  if (refusal != KORVELAN380_ADJUST_ACCEPTED) {
    ToolError refused =
        UsageError("the reading " + FormatVolts(volts) + " at point " + std::to_string(at.point) +
                   " is refused: " + RefusalText(refusal, next));
    refused.hint = "measure again and type the reading";
    throw refused;
  }
  adjust_ = next;
  if (adjust_.step == kPoints) {
    done_.push_back(AdjustJson(adjust_));
    if (++pair_ < pairs_.size()) Begin(s);
  }
  return StateLocked(s);
}

ordered_json PanelAdjustment::Keep(Session& s, uint64_t adjustment) {
  std::lock_guard<std::mutex> lock(mu_);
  Check(adjustment);
  if (pair_ < pairs_.size()) {
    throw UsageError(std::to_string(pairs_.size() - pair_) +
                     " pairs are still to be measured: finish them, or throw it away");
  }
  const Calibration found = ReadCalibration(s);
  try {
    ImportCalibration(s, {found, true, true});
  } catch (const ToolError&) {
    Restore(s);  // a store that failed is not kept for the session either
    active_ = false;
    outcome_ = "thrown away";
    throw;
  }
  active_ = false;
  outcome_ = "kept";
  history_ = WriteHistory(s, found, done_);
  return StateLocked(s);
}

ordered_json PanelAdjustment::Discard(Session& s, uint64_t adjustment) {
  std::lock_guard<std::mutex> lock(mu_);
  Check(adjustment);
  Restore(s);
  active_ = false;
  outcome_ = "thrown away";
  return StateLocked(s);
}

ordered_json PanelAdjustment::State(Session& s) {
  std::lock_guard<std::mutex> lock(mu_);
  return StateLocked(s);
}

ordered_json PanelAdjustment::Unless(const std::function<ordered_json()>& change) {
  std::lock_guard<std::mutex> lock(mu_);
  if (active_) {
    throw AdjustConflict("a guided calibration is under way: keep it or throw it away first");
  }
  return change();
}

void PanelAdjustment::Check(uint64_t adjustment) const {
  if (adjustment != id_) {
    throw AdjustConflict("calibration " + std::to_string(adjustment) +
                         " is not the latest: calibration " + std::to_string(id_) +
                         " replaced it (started in another tab?)");
  }
  if (!active_) {
    throw AdjustConflict("calibration " + std::to_string(adjustment) + " has ended (" +
                         (outcome_.empty() ? std::string("never started") : outcome_) + ")");
  }
}

void PanelAdjustment::Begin(Session& s) {
  adjust_ = BeginAdjust(s, pairs_[pair_]);
}

void PanelAdjustment::Restore(Session& s) {
  ImportCalibration(s, {before_, false, true});
}

ordered_json PanelAdjustment::StateLocked(Session& s) const {
  ordered_json pairs = ordered_json::array();
  for (const AdjustPair& p : pairs_) pairs.push_back({{"channel", p.channel}, {"range", p.range}});
  ordered_json awaited = nullptr;
  if (active_ && pair_ < pairs_.size()) {
    awaited = {{"pair", pair_},
               {"point", adjust_.step},
               {"simulated_reading",
                s.sim() != nullptr ? ordered_json(s.sim()->Measure(s.Serial(), adjust_.channel))
                                   : ordered_json(nullptr)},
               {"adjust", AdjustJson(adjust_)}};
  }
  return {{"adjustment", id_},
          {"active", active_},
          {"outcome", outcome_.empty() ? ordered_json(nullptr) : ordered_json(outcome_)},
          {"history", history_.empty() ? ordered_json(nullptr) : ordered_json(history_)},
          {"pairs", pairs},
          {"awaited", awaited},
          {"fits", done_},
          {"finished", active_ && pair_ == pairs_.size()}};
}

}  // namespace korvelan380::tool
