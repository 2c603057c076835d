#include "service/enforce.h"

#include "activitylog/activity_log.h"
#include "platform/power_source.h"
#include "settings/sleep_setting.h"

namespace halvorsten {

void enforce() { enforce(providingPowerSourceType(), kPmsetPath); }

void enforce(const std::optional<std::string>& powerSourceType, const char* tool) {
  // The cheap in-process question first: off battery, no process is started at all.
  if (powerSourceType != "Battery Power") return;
  // Only a definite "on" is acted upon; a report that cannot be read is no reason to act.
  if (sleepDisabled(tool) != true) return;
  log("On battery with disablesleep=1 — clearing to protect the battery.");
  log(clearDisableSleep(tool) ? "disablesleep cleared." : "Failed to clear disablesleep.");
}

}  // namespace halvorsten
