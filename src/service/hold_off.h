// How the service answers changes that keep coming back, and when. A settings change that
// comes back right after the service switched sleep prevention off is not answered at the
// speed it comes back: after a pass made for a change of the settings finds the setting on
// (and so tries to switch it off), further changes are held until a hold-off ends, and one pass
// at its end answers all of them. Each such pass that finds the setting on again doubles the
// next hold-off, up to five minutes; one that finds nothing to clear, or a change of the power
// source, ends the run of them. The service's own clear is announced like any other change, so
// its echo is held too and costs the one pass at the end.
//
// A value fed with the time by its caller: it reads no clock and calls nothing, so that a table
// can drive it in virtual time. Times are milliseconds on a clock that only moves forward.
#pragma once

namespace halvorsten {

inline constexpr long kFirstHoldOffMs = 1000, kLongestHoldOffMs = 5 * 60 * 1000;

// What the caller does next: nothing; run a pass now (and forget the timer, since the pass
// answers whatever was held), then report its outcome with passEnded; or arm the timer to run
// out at `untilMs`, then report that with timerRanOut.
struct HoldOffAnswer {
  enum Act { Nothing, RunPass, HoldUntil } act;
  long long untilMs = 0;
};

class HoldOff {
 public:
  // A change of the power source: a pass now, and the end of any run of hold-offs.
  HoldOffAnswer powerSourceChanged();
  // A change of the settings: a pass now, or held until the hold-off ends (nothing more to do
  // when a change already waits for that). A change that comes when the hold-off has ended but
  // the timer has not yet run out is answered as that timer would have been.
  HoldOffAnswer settingsChanged(long long nowMs);
  // The timer ran out: the pass for the held changes now.
  HoldOffAnswer timerRanOut();
  // The pass asked for last ended, having found the setting on or not. True when the line that
  // says the service now answers at most every five minutes is due: once in a run of hold-offs,
  // at the pass that starts the first of five minutes.
  bool passEnded(long long nowMs, bool foundOn);

 private:
  // What the pass asked for last answers: a change of the power source, which never starts a
  // hold-off; a change of the settings, which may start a run of them; or held changes, which
  // may go on with the run.
  enum class Pass { ForPowerSource, ForSettings, ForHeld };
  HoldOffAnswer runPass(Pass pass);

  Pass pass_ = Pass::ForPowerSource;
  bool held_ = false;    // a change waits for the end of the hold-off
  long lengthMs_ = 0;    // the latest hold-off of the run; 0 while there is no run
  long long endMs_ = 0;  // when it ends
};

}  // namespace halvorsten
