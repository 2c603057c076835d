#include "service/hold_off.h"

#include <algorithm>

namespace halvorsten {

HoldOffAnswer HoldOff::runPass(Pass pass) {
  pass_ = pass;
  held_ = false;
  if (pass != Pass::ForHeld) lengthMs_ = 0;
  return {HoldOffAnswer::RunPass};
}

HoldOffAnswer HoldOff::powerSourceChanged() { return runPass(Pass::ForPowerSource); }

HoldOffAnswer HoldOff::settingsChanged(long long nowMs) {
  if (lengthMs_ > 0 && nowMs < endMs_) {
    if (held_) return {HoldOffAnswer::Nothing};
    held_ = true;
    return {HoldOffAnswer::HoldUntil, endMs_};
  }
  // A late timer: the held changes and this one share its pass, which goes on with the run.
  return runPass(held_ ? Pass::ForHeld : Pass::ForSettings);
}

HoldOffAnswer HoldOff::timerRanOut() {
  if (!held_) return {HoldOffAnswer::Nothing};
  return runPass(Pass::ForHeld);
}

bool HoldOff::passEnded(long long nowMs, bool foundOn) {
  if (!foundOn || pass_ == Pass::ForPowerSource) {
    lengthMs_ = 0;
    return false;
  }
  const long previousMs = lengthMs_;
  lengthMs_ = previousMs == 0 ? kFirstHoldOffMs : std::min(2 * previousMs, kLongestHoldOffMs);
  endMs_ = nowMs + lengthMs_;
  return lengthMs_ == kLongestHoldOffMs && previousMs != kLongestHoldOffMs;
}

}  // namespace halvorsten
