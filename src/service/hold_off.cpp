#include "service/hold_off.h"

#include <algorithm>

namespace halvorsten {

HoldOffAnswer HoldOff::runPass(bool forPowerSource) {
  forPowerSource_ = forPowerSource;
  held_ = false;
  if (forPowerSource) lengthMs_ = 0;
  return {HoldOffAnswer::RunPass};
}

HoldOffAnswer HoldOff::withCatchUp(HoldOffAnswer answer) const {
  if (catchUpMs_ < 0 || answer.act == HoldOffAnswer::RunPass) return answer;
  answer.act = HoldOffAnswer::HoldUntil;
  answer.untilMs = held_ ? std::min(endMs_, catchUpMs_) : catchUpMs_;
  return answer;
}

HoldOffAnswer HoldOff::powerSourceChanged() { return runPass(true); }

HoldOffAnswer HoldOff::settingsChanged(long long nowMs) {
  if (lengthMs_ > 0 && nowMs < endMs_) {
    if (held_) return {HoldOffAnswer::Nothing};
    held_ = true;
    return withCatchUp({HoldOffAnswer::HoldUntil, endMs_});
  }
  // Past the hold-off: answered at once, within the run unless it has been quiet long enough.
  // A late timer's held changes share this pass.
  if (nowMs - neededMs_ >= kQuietEndsRunMs) lengthMs_ = 0;
  return runPass(false);
}

HoldOffAnswer HoldOff::noticesLost(long long nowMs, long afterMs) {
  catchUpMs_ = nowMs + afterMs;
  return withCatchUp({HoldOffAnswer::Nothing});
}

HoldOffAnswer HoldOff::timerRanOut(long long nowMs) {
  if (catchUpMs_ >= 0 && nowMs >= catchUpMs_) {
    catchUpMs_ = -1;
    return runPass(true);
  }
  if (!held_) return withCatchUp({HoldOffAnswer::Nothing});
  return runPass(false);
}

HoldOffAnswer HoldOff::passEnded(long long nowMs, PassOutcome outcome) {
  const bool failed = outcome == PassOutcome::ClearFailed, failedBefore = failing_;
  failing_ = failed;
  // Nothing to clear leaves the run as it is; a clear for the power source starts none.
  if (outcome == PassOutcome::NothingToClear || (forPowerSource_ && !failed)) {
    return withCatchUp({HoldOffAnswer::Nothing});
  }
  const long previousMs = lengthMs_;
  if (previousMs == 0) firstClearMs_ = -1;
  if (!failed && firstClearMs_ < 0) firstClearMs_ = nowMs;
  neededMs_ = nowMs;
  const bool longFight = !failed && nowMs - firstClearMs_ >= kLongestHoldOffAfterMs;
  lengthMs_ = longFight         ? kLongestHoldOffMs
              : previousMs == 0 ? kFirstHoldOffMs
                                : std::min(2 * previousMs, kLongestHoldOffMs);
  endMs_ = nowMs + lengthMs_;
  if (failed) {
    held_ = true;
    return withCatchUp({HoldOffAnswer::HoldUntil, endMs_,
                        failedBefore ? HoldOffAnswer::NoLine : HoldOffAnswer::TryingAgain});
  }
  const bool slowed = lengthMs_ == kLongestHoldOffMs && previousMs != kLongestHoldOffMs;
  return withCatchUp(
      {HoldOffAnswer::Nothing, 0, slowed ? HoldOffAnswer::KeepsComingBack : HoldOffAnswer::NoLine});
}

}  // namespace halvorsten
