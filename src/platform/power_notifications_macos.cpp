// macOS backend of the notification seam: IOKit's power-source run-loop source, run by the
// main thread's CoreFoundation run loop. Callbacks arrive only while the loop runs, and the
// pass waits for pmset with waitpid, outside the loop, so passes never nest.
#include <CoreFoundation/CoreFoundation.h>
#include <IOKit/ps/IOPowerSources.h>

#include <type_traits>

#include "platform/power_notifications.h"

namespace halvorsten {

struct PowerNotifications {
  CFRunLoopSourceRef source;  // one reference, from the creating call
};

PowerNotifications* createPowerNotifications(PowerSourceCallback callback, void* context) {
  static_assert(std::is_same_v<PowerSourceCallback, IOPowerSourceCallbackType>);
  const CFRunLoopSourceRef source = IOPSNotificationCreateRunLoopSource(callback, context);
  if (!source) return nullptr;
  return new PowerNotifications{source};
}

void addToCurrentLoop(PowerNotifications* notifications) {
  CFRunLoopAddSource(CFRunLoopGetCurrent(), notifications->source, kCFRunLoopDefaultMode);
}

void runCurrentLoop(PowerNotifications*) { CFRunLoopRun(); }

void releasePowerNotifications(PowerNotifications* notifications) {
  CFRelease(notifications->source);
  delete notifications;
}

}  // namespace halvorsten
