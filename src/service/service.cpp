#include "service/service.h"

#include <algorithm>
#include <string>

namespace halvorsten {

PassOutcome Service::pass(bool afterLostNotices) {
  const long long startMs = machine_.nowMs();
  const PassOutcome outcome = enforce(machine_, afterLostNotices);
  const char* const found = outcome == PassOutcome::Cleared        ? "cleared"
                            : outcome == PassOutcome::ClearFailed  ? "clear failed"
                            : outcome == PassOutcome::CouldNotTell ? "could not tell"
                                                                   : "nothing to clear";
  machine_.logDebug(std::string("Pass: ") + found + " (" +
                    std::to_string(machine_.nowMs() - startMs) + " ms).");
  return outcome;
}

void Service::act(const HoldOffAnswer& answer) {
  if (answer.line == HoldOffAnswer::KeepsComingBack) {
    machine_.log(
        "Sleep prevention keeps being switched on again — switching it off at most every 5 "
        "minutes.");
  } else if (answer.line == HoldOffAnswer::TryingAgain) {
    machine_.log("Trying again while on battery, at intervals that grow up to 5 minutes.");
  }
  switch (answer.act) {
    case HoldOffAnswer::Nothing:
      return;
    case HoldOffAnswer::HoldUntil:
      machine_.armTimer(static_cast<long>(std::max(answer.untilMs - machine_.nowMs(), 0LL)));
      return;
    case HoldOffAnswer::RunPass: {
      machine_.disarmTimer();
      const PassOutcome outcome = pass(answer.afterLostNotices);
      act(holdOff_.passEnded(machine_.nowMs(), outcome));
      return;
    }
  }
}

bool Service::start(const Watches* watches) {
  // A machine already on battery with the setting on is corrected at once.
  const PassOutcome first = pass(false);
  if (!watches) {
    machine_.logFailure("Failed to create power-source notification source — exiting.");
    return false;
  }
  act(holdOff_.passEnded(machine_.nowMs(), first));
  watchesChanged(*watches);
  machine_.log("Halvorsten started; watching power source (event-driven, no polling).");
  return true;
}

void Service::powerSourceChanged() {
  machine_.logDebug("Woken: power-source notice.");
  act(holdOff_.powerSourceChanged());
}

void Service::settingsChanged() {
  machine_.logDebug("Woken: settings notice.");
  act(holdOff_.settingsChanged(machine_.nowMs()));
}

void Service::noticesLost(long afterMs) {
  machine_.logDebug("Woken: notices may have been lost; a pass follows in " +
                    std::to_string(afterMs) + " ms.");
  act(holdOff_.noticesLost(machine_.nowMs(), afterMs));
}

void Service::timerRanOut() {
  machine_.logDebug("Woken: timer.");
  act(holdOff_.timerRanOut(machine_.nowMs()));
}

void Service::watchesChanged(Watches watches) {
  // Without the settings' notices, the platform looks at every update of the power source.
  if (watches_.settings && !watches.settings) {
    machine_.logFailure(
        "Cannot watch the power-management settings — checking at every power-source update "
        "instead.");
  }
  if (watches_.lostNotices && !watches.lostNotices) {
    machine_.logFailure(
        "Cannot watch notifyd — a change lost to its restart waits for the next one.");
  }
  watches_ = watches;
}

}  // namespace halvorsten
