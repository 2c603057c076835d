// When the service makes its pass, and when it makes it again. Two rules.
//
// Every answer is bounded. A change of the settings after the service has answered one (tried to
// switch sleep prevention off, or failed to tell whether it must) is not answered at once:
// further changes are held until a hold-off ends, and one pass at its end answers all of them.
// A change after the hold-off has ended is answered at once. Each answer doubles the next
// hold-off, from one second, and once the run of answers is a minute old each is five minutes.
// So a program that keeps switching sleep prevention on, at any pace and at any moment (also
// between a clear and its check), is answered at most six times in the first minute and then at
// most once in any five minutes. A pass that finds nothing to clear changes nothing. The run of
// hold-offs ends only when nothing has needed an answer for ten minutes (looked at when the next
// change comes, never by a timer), or at a change of the power source. The service's own clear
// is announced like any other change, so its echo is held too and costs the one pass at the end.
//
// Only a verified outcome ends the tries. A pass that did not end in one (a clear that failed or
// did not hold, a power source or setting that could not be read), whatever called for it, is
// made again at the end of its hold-off even when nothing changes meanwhile. While sleep
// prevention is on, the kernel refuses even its own sleep for a low battery or for heat, so no
// failure is left standing until the adapter next changes.
//
// Notices that may have been lost (the platform's notification server restarted, or the
// kernel's queue overran) call for a pass as a change of the power source does, once the
// platform's readings are whole again: the timer waits for that, beside whatever else waits.
// That pass, and the passes that try it again, read the power source as after lost notices.
//
// A value fed with the time by its caller: it reads no clock and calls nothing, so that a table
// can drive it in virtual time. Times are milliseconds on a clock that only moves forward.
#pragma once

#include "service/enforce.h"

namespace halvorsten {

inline constexpr long kFirstHoldOffMs = 1000, kLongestHoldOffMs = 5 * 60 * 1000;
// A run of answers this old is answered every kLongestHoldOffMs; this long without one ends it.
inline constexpr long kLongestHoldOffAfterMs = 60 * 1000, kQuietEndsRunMs = 10 * 60 * 1000;

// What the caller does next: nothing; run a pass now (and forget the timer, since the pass
// answers whatever was held), reading the power source as after lost notices when
// `afterLostNotices`, then report its outcome with passEnded; or arm the timer to run out at
// `untilMs`, then report that with timerRanOut. An answer to passEnded may also ask for one of
// the two lines that say how the service goes on.
struct HoldOffAnswer {
  enum Act { Nothing, RunPass, HoldUntil } act;
  long long untilMs = 0;
  enum Line { NoLine, KeepsComingBack, TryingAgain } line = NoLine;
  bool afterLostNotices = false;
};

class HoldOff {
 public:
  // A change of the power source: a pass now, and the end of any run of hold-offs.
  HoldOffAnswer powerSourceChanged();
  // A change of the settings: a pass now, or held until the hold-off ends (nothing more to do
  // when a change or a try already waits for that). A change that comes when the hold-off has
  // ended but the timer has not yet run out is answered as that timer would have been.
  HoldOffAnswer settingsChanged(long long nowMs);
  // Notices may have been lost, and the platform's readings are whole again `afterMs` from now:
  // a pass then, as for a change of the power source, whatever is held or answered meanwhile.
  // A loss while that pass waits moves it on.
  HoldOffAnswer noticesLost(long long nowMs, long afterMs);
  // The timer ran out: the pass after lost notices when it is due, or else the pass for the
  // held changes, or the try, now.
  HoldOffAnswer timerRanOut(long long nowMs);
  // The pass asked for last ended with `outcome`; the service's first pass, made before any
  // change, counts as one for the power source. An outcome that is not verified: the timer,
  // until the end of the hold-off, and once until an outcome is verified, the line that says
  // the service keeps trying. A clear: the line that says the service now answers at most every
  // five minutes, once in a run of hold-offs, at the first clear that a five-minute hold-off
  // follows. A clear for the power source starts no run.
  HoldOffAnswer passEnded(long long nowMs, PassOutcome outcome);

 private:
  // A pass for a change of the power source ends the run of hold-offs; one for the settings
  // (changed, held, or tried again) goes on with it.
  HoldOffAnswer runPass(bool forPowerSource);
  // `answer`, with the timer armed for the pass after lost notices too, when that comes first or
  // nothing else waits.
  HoldOffAnswer withCatchUp(HoldOffAnswer answer) const;

  bool forPowerSource_ = true;  // what the pass asked for last answers
  bool held_ = false;           // a change or a try waits for the end of the hold-off
  bool trying_ = false;         // the last pass's outcome was not verified
  bool catchingUp_ = false;     // passes read the power source as after lost notices
  bool saidSlowed_ = false;     // the five-minute line was said in this run
  long lengthMs_ = 0;           // the latest hold-off of the run; 0 while there is no run
  long long endMs_ = 0;         // when it ends
  long long firstMs_ = 0;       // when the run's first answer came
  long long neededMs_ = 0;      // when its latest came
  long long catchUpMs_ = -1;    // when the pass after lost notices is due; -1 while none waits
};

}  // namespace halvorsten
