#include "service/hold_off.h"

#include <algorithm>

namespace halvorsten {

HoldOffAnswer HoldOff::runPass(bool forPowerSource) {
  forPowerSource_ = forPowerSource;
  held_ = false;
  if (forPowerSource) lengthMs_ = 0;
  return {HoldOffAnswer::RunPass, 0, HoldOffAnswer::NoLine, catchingUp_};
}

HoldOffAnswer HoldOff::withCatchUp(HoldOffAnswer answer) const {
  if (catchUpMs_ < 0 || answer.act == HoldOffAnswer::RunPass) return answer;
  answer.act = HoldOffAnswer::HoldUntil;
  answer.untilMs = held_ ? std::min(endMs_, catchUpMs_) : catchUpMs_;
  return answer;
}

// The change came through the notification server, which has its state back by then: the
// power manager sets the state before it posts the change.
HoldOffAnswer HoldOff::powerSourceChanged() {
  catchingUp_ = false;
  return runPass(true);
}

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
    catchingUp_ = true;
    return runPass(true);
  }
  if (!held_) return withCatchUp({HoldOffAnswer::Nothing});
  return runPass(false);
}

HoldOffAnswer HoldOff::passEnded(long long nowMs, PassOutcome outcome) {
  const bool verified = outcome == PassOutcome::NothingToClear || outcome == PassOutcome::Cleared;
  const bool tryingBefore = trying_;
  trying_ = !verified;
  if (verified) catchingUp_ = false;
  // Nothing to clear leaves the run as it is; a clear for the power source starts none.
  if (outcome == PassOutcome::NothingToClear ||
      (forPowerSource_ && outcome == PassOutcome::Cleared)) {
    return withCatchUp({HoldOffAnswer::Nothing});
  }
  // An answer: the run's first starts it; once it is a minute old, every hold-off is the longest.
  const long previousMs = lengthMs_;
  if (previousMs == 0) firstMs_ = nowMs, saidSlowed_ = false;
  neededMs_ = nowMs;
  lengthMs_ = nowMs - firstMs_ >= kLongestHoldOffAfterMs ? kLongestHoldOffMs
              : previousMs == 0                          ? kFirstHoldOffMs
                                : std::min(2 * previousMs, kLongestHoldOffMs);
  endMs_ = nowMs + lengthMs_;
  if (!verified) {
    held_ = true;
    return withCatchUp({HoldOffAnswer::HoldUntil, endMs_,
                        tryingBefore ? HoldOffAnswer::NoLine : HoldOffAnswer::TryingAgain});
  }
  const bool slowed = lengthMs_ == kLongestHoldOffMs && !saidSlowed_;
  saidSlowed_ = saidSlowed_ || slowed;
  return withCatchUp(
      {HoldOffAnswer::Nothing, 0, slowed ? HoldOffAnswer::KeepsComingBack : HoldOffAnswer::NoLine});
}

}  // namespace halvorsten
