#include "service/machine.h"

#include "activitylog/activity_log.h"
#include "platform/fd.h"
#include "platform/lid.h"
#include "platform/power_source.h"
#include "platform/system_log.h"

namespace halvorsten {

Machine theMac(const char* tool) {
  return {
      monotonicMs,
      providingPowerSourceType,
      [tool] { return sleepDisabled(tool); },
      [tool] { return clearDisableSleep(tool); },
      closedLidShouldSleep,
      [tool] { return requestSleep(tool); },
      nullptr,
      nullptr,
      &halvorsten::log,
      &halvorsten::logFailure,
      &halvorsten::logDebug,
  };
}

}  // namespace halvorsten
