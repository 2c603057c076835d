// What the service uses of the Mac, the clock and the log, each a function and passed in: main
// hands in the real ones, the tests and the fuzzer a model that they drive in virtual time.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "settings/sleep_setting.h"

namespace halvorsten {

struct Machine {
  // Milliseconds on a clock that only moves forward.
  std::function<long long()> nowMs;
  // The power source's type, as providingPowerSourceType reads it (platform/power_source.h).
  std::function<std::optional<std::string>(bool afterLostNotices)> powerSourceType;
  // The pmset commands (settings/sleep_setting.h) and the lid (platform/lid.h).
  std::function<Setting()> sleepDisabled;
  std::function<bool()> clearDisableSleep, closedLidShouldSleep, requestSleep;
  // The loop's one timer (platform/power_events.h).
  std::function<void(long delayMs)> armTimer;
  std::function<void()> disarmTimer;
  // The activity log, for a line and for a failure's line; the system log's debug level.
  std::function<void(std::string_view message)> log, logFailure, logDebug;
};

// The Mac as the platform's backends and pmset at `tool` show it, logging to the activity log
// and the system's log. The timer is left unset: it is the loop's, which main makes.
Machine theMac(const char* tool = kPmsetPath);

}  // namespace halvorsten
