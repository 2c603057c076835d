#include "service/hold_off.h"

#include <algorithm>

namespace halvorsten {

HoldOffAnswer HoldOff::runPass(Pass pass) {
  pass_ = pass;
  held_ = false;
  if (pass != Pass::ForHeld) lengthMs_ = 0;
  return {HoldOffAnswer::RunPass};
}

HoldOffAnswer HoldOff::withCatchUp(HoldOffAnswer answer) const {
  if (catchUpMs_ < 0 || answer.act == HoldOffAnswer::RunPass) return answer;
  answer.act = HoldOffAnswer::HoldUntil;
  answer.untilMs = held_ ? std::min(endMs_, catchUpMs_) : catchUpMs_;
  return answer;
}

HoldOffAnswer HoldOff::powerSourceChanged() { return runPass(Pass::ForPowerSource); }

HoldOffAnswer HoldOff::settingsChanged(long long nowMs) {
  if (lengthMs_ > 0 && nowMs < endMs_) {
    if (held_) return {HoldOffAnswer::Nothing};
    held_ = true;
    return withCatchUp({HoldOffAnswer::HoldUntil, endMs_});
  }
  // A late timer: the held changes and this one share its pass, which goes on with the run.
  return runPass(held_ ? Pass::ForHeld : Pass::ForSettings);
}

HoldOffAnswer HoldOff::noticesLost(long long nowMs, long afterMs) {
  catchUpMs_ = nowMs + afterMs;
  return withCatchUp({HoldOffAnswer::Nothing});
}

HoldOffAnswer HoldOff::timerRanOut(long long nowMs) {
  if (catchUpMs_ >= 0 && nowMs >= catchUpMs_) {
    catchUpMs_ = -1;
    return runPass(Pass::ForPowerSource);
  }
  if (!held_) return withCatchUp({HoldOffAnswer::Nothing});
  return runPass(Pass::ForHeld);
}

HoldOffAnswer HoldOff::passEnded(long long nowMs, PassOutcome outcome) {
  const bool failed = outcome == PassOutcome::ClearFailed, failedBefore = failing_;
  failing_ = failed;
  if (outcome == PassOutcome::NothingToClear || (pass_ == Pass::ForPowerSource && !failed)) {
    lengthMs_ = 0;
    return withCatchUp({HoldOffAnswer::Nothing});
  }
  const long previousMs = lengthMs_;
  lengthMs_ = previousMs == 0 ? kFirstHoldOffMs : std::min(2 * previousMs, kLongestHoldOffMs);
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
