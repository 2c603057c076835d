// How the service answers changes that keep coming back, and a clear that did not hold, and
// when. A settings change that comes back after the service switched sleep prevention off is
// not answered at the speed it comes back: after a pass made for a change of the settings finds
// the setting on (and so tries to switch it off), further changes are held until a hold-off
// ends, and one pass at its end answers all of them. A change after the hold-off has ended is
// answered at once. Each pass that finds the setting on again doubles the next hold-off, and
// once the fight has gone on for a minute, each is five minutes: so a program that keeps
// switching sleep prevention on, at any pace, is answered at most six times in the first minute
// and then at most once in any five minutes. A pass that finds nothing to clear changes nothing.
// The run of hold-offs ends only when the setting has needed no clear for ten minutes (looked at
// when the next change comes, never by a timer), or at a change of the power source. The
// service's own clear is announced like any other change, so its echo is held too and costs the
// one pass at the end.
//
// A clear that failed, whatever called for its pass, is tried again in the same way: the pass
// at the end of the hold-off is due even when nothing changes meanwhile, and each one that
// fails again doubles the next hold-off, up to five minutes. While sleep prevention is on, the
// kernel refuses even its own sleep for a low battery or for heat, so a failure is never left
// standing until the adapter next changes.
//
// Notices that may have been lost (the platform's notification server restarted, or the
// kernel's queue overran) call for a pass as a change of the power source does, once the
// platform's readings are whole again: the timer waits for that, beside whatever else waits.
//
// A value fed with the time by its caller: it reads no clock and calls nothing, so that a table
// can drive it in virtual time. Times are milliseconds on a clock that only moves forward.
#pragma once

#include "service/enforce.h"

namespace halvorsten {

inline constexpr long kFirstHoldOffMs = 1000, kLongestHoldOffMs = 5 * 60 * 1000;
// A fight this old is answered every kLongestHoldOffMs; this long without a clear ends it.
inline constexpr long kLongestHoldOffAfterMs = 60 * 1000, kQuietEndsRunMs = 10 * 60 * 1000;

// What the caller does next: nothing; run a pass now (and forget the timer, since the pass
// answers whatever was held), then report its outcome with passEnded; or arm the timer to run
// out at `untilMs`, then report that with timerRanOut. An answer to passEnded may also ask for
// one of the two lines that say how the service goes on.
struct HoldOffAnswer {
  enum Act { Nothing, RunPass, HoldUntil } act;
  long long untilMs = 0;
  enum Line { NoLine, KeepsComingBack, TryingAgain } line = NoLine;
};

class HoldOff {
 public:
  // A change of the power source: a pass now, and the end of any run of hold-offs.
  HoldOffAnswer powerSourceChanged();
  // A change of the settings: a pass now, or held until the hold-off ends (nothing more to do
  // when a change or a retry already waits for that). A change that comes when the hold-off has
  // ended but the timer has not yet run out is answered as that timer would have been.
  HoldOffAnswer settingsChanged(long long nowMs);
  // Notices may have been lost, and the platform's readings are whole again `afterMs` from now:
  // a pass then, as for a change of the power source, whatever is held or answered meanwhile.
  // A loss while that pass waits moves it on.
  HoldOffAnswer noticesLost(long long nowMs, long afterMs);
  // The timer ran out: the pass after lost notices when it is due, or else the pass for the
  // held changes, or the retry, now.
  HoldOffAnswer timerRanOut(long long nowMs);
  // The pass asked for last ended with `outcome`; the service's first pass, made before any
  // change, counts as one for the power source. After a failed clear: the timer, until the end
  // of the hold-off, and the line that says the service keeps trying, once until a clear holds.
  // Otherwise nothing, with the line that says the service now answers at most every five
  // minutes, once in a run of hold-offs, at the pass that starts the first of five minutes.
  HoldOffAnswer passEnded(long long nowMs, PassOutcome outcome);

 private:
  // A pass for a change of the power source ends the run of hold-offs; one for the settings
  // (changed, held, or tried again) goes on with it.
  HoldOffAnswer runPass(bool forPowerSource);
  // `answer`, with the timer armed for the pass after lost notices too, when that comes first or
  // nothing else waits.
  HoldOffAnswer withCatchUp(HoldOffAnswer answer) const;

  bool forPowerSource_ = true;   // what the pass asked for last answers
  bool held_ = false;            // a change or a retry waits for the end of the hold-off
  bool failing_ = false;         // the last pass's clear failed
  long lengthMs_ = 0;            // the latest hold-off of the run; 0 while there is no run
  long long endMs_ = 0;          // when it ends
  long long neededMs_ = 0;       // when a pass of the run last found the setting on
  long long firstClearMs_ = -1;  // when a clear of the run first held; -1 while none has
  long long catchUpMs_ = -1;     // when the pass after lost notices is due; -1 while none waits
};

}  // namespace halvorsten
