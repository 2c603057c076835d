#include "service/enforce.h"

namespace halvorsten {

PassOutcome enforce(const Machine& machine, bool afterLostNotices) {
  // The cheap in-process question first: off battery, no process is started at all.
  const std::optional<std::string> type = machine.powerSourceType(afterLostNotices);
  if (!type) return PassOutcome::CouldNotTell;
  if (*type != "Battery Power") return PassOutcome::NothingToClear;
  switch (machine.sleepDisabled()) {
    case Setting::Unknown:
      return PassOutcome::CouldNotTell;
    case Setting::Off:
    case Setting::NeverSet:
      return PassOutcome::NothingToClear;
    case Setting::On:
      break;
  }
  machine.log("On battery with disablesleep=1 — clearing to protect the battery.");
  if (!machine.clearDisableSleep()) {
    machine.logFailure("Failed to clear disablesleep.");
    return PassOutcome::ClearFailed;
  }
  machine.log("disablesleep cleared.");
  // The power manager looks at a closed lid again when the lid or the adapter changes, not when
  // sleep prevention goes off. A lid closed while it was on (a Mac put in a bag) would leave the
  // machine awake on battery after the clear, so the pass asks for the sleep the lid asked for.
  if (!machine.closedLidShouldSleep()) return PassOutcome::Cleared;
  machine.log("Lid closed — asking the system to sleep.");
  if (!machine.requestSleep()) machine.logFailure("Failed to request sleep.");
  return PassOutcome::Cleared;
}

}  // namespace halvorsten
