#include "service/enforce.h"

#include "activitylog/activity_log.h"
#include "platform/lid.h"
#include "platform/power_source.h"
#include "settings/sleep_setting.h"

namespace halvorsten {

PassOutcome enforce() {
  return enforce(providingPowerSourceType(), kPmsetPath, closedLidShouldSleep);
}

PassOutcome enforce(const std::optional<std::string>& powerSourceType, const char* tool,
                    bool (*lidShouldSleep)()) {
  // The cheap in-process question first: off battery, no process is started at all.
  if (powerSourceType != "Battery Power") return PassOutcome::NothingToClear;
  // Only a definite "on" is acted upon; a report that cannot be read is no reason to act.
  if (sleepDisabled(tool) != true) return PassOutcome::NothingToClear;
  log("On battery with disablesleep=1 — clearing to protect the battery.");
  if (!clearDisableSleep(tool)) {
    logFailure("Failed to clear disablesleep.");
    return PassOutcome::ClearFailed;
  }
  log("disablesleep cleared.");
  // The power manager looks at a closed lid again when the lid or the adapter changes, not when
  // sleep prevention goes off. A lid closed while it was on (a Mac put in a bag) would leave the
  // machine awake on battery after the clear, so the pass asks for the sleep the lid asked for.
  if (!lidShouldSleep()) return PassOutcome::Cleared;
  log("Lid closed — asking the system to sleep.");
  if (!requestSleep(tool)) logFailure("Failed to request sleep.");
  return PassOutcome::Cleared;
}

}  // namespace halvorsten
