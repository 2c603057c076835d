// macOS backend of the power-event seam, run by the main thread's CoreFoundation run loop:
// - IOKit's limited-power notification, which the power manager posts when the Mac moves
//   between external power and its battery (PowerManagement, pmconfigd/BatteryTimeRemaining.m,
//   HandlePublishAllPowerSources: kIOPSNotifyPowerSource when the adapter's state changed);
// - the power-management settings' Darwin notification, delivered to the main dispatch queue,
//   which the main thread's run loop drains between its other sources;
// - a one-shot CFRunLoopTimer on the same loop, made when armed and gone once it has fired.
// Callbacks arrive only while the loop runs, and the pass waits for pmset with kqueue, outside
// the loop, so passes never nest: what arrives meanwhile is delivered after the pass.
//
// Both notifications survive a restart of notifyd. Libnotify registers a process's
// notifications again after notifyd restarts only in its dispatch mode (Libnotify,
// notify_client.c: _notify_lib_init_locked turns on NOTIFY_OPT_DISPATCH | NOTIFY_OPT_REGEN only
// when _dispatch_is_multithreaded(), and watches notifyd's exit with a DISPATCH_SOURCE_TYPE_PROC
// source only then; notify_register_mach_port_no_dispatch marks no NOTIFY_FLAG_REGEN).
// notify_register_dispatch turns that mode on for the whole process (notify_set_options), so
// the settings are registered with it first: IOKit's own notify_register_mach_port, made after
// it (IOKitUser, ps.subproj/IOPowerSources.c, doCreatePSRLS), then goes through
// notify_register_mach_port_via_dispatch, a registration on the common port that is
// regenerated and forwarded to IOKit's port. libdispatch runs Libnotify's receiving on threads
// of its own; none of the service's code runs there: the handler is submitted to the main
// queue, and IOKit's and the timer's callbacks come from the main thread's run loop.
#include <CoreFoundation/CoreFoundation.h>
#include <IOKit/ps/IOPowerSources.h>
#include <dispatch/dispatch.h>
#include <notify.h>

#include <memory>
#include <type_traits>

#include "platform/power_events.h"

namespace halvorsten {
namespace {

// kIOPMPrefsChangeNotify (IOKitUser, pwr_mgt.subproj/IOPMLibPrivate.h). IOPMSetSystemPowerSetting
// posts it right after storing a setting (pwr_mgt.subproj/IOPMEnergyPrefs.c), and that is how
// pmset stores "disablesleep" (PowerManagement, pmset/pmset.m); "pmset -g" reports those stored
// settings, so every change the query can see is announced here.
constexpr char kSettingsChanged[] = "com.apple.system.powermanagement.prefschange";

}  // namespace

struct PowerEvents {
  PowerEventCallback settingsChanged, timerFired;
  void* context;
  CFRunLoopSourceRef powerSource = nullptr;  // one reference, from the creating call
  int settingsToken = 0;                     // Libnotify's registration of the settings
  bool watchingSettings = false;
  CFRunLoopTimerRef timer = nullptr;  // one reference, from the creating call, while armed

  PowerEvents(PowerEventCallback settingsChanged, PowerEventCallback timerFired, void* context)
      : settingsChanged(settingsChanged), timerFired(timerFired), context(context) {}
  PowerEvents(const PowerEvents&) = delete;
  PowerEvents& operator=(const PowerEvents&) = delete;
  ~PowerEvents();
};

namespace {

// The timer's callback. The run loop holds the timer while it fires and invalidates a one-shot
// timer afterwards (CF, CFRunLoop.c, __CFRunLoopDoTimer), so ours can go first.
void timerRanOut(CFRunLoopTimerRef, void* info) {
  PowerEvents* const events = static_cast<PowerEvents*>(info);
  CFRelease(events->timer);
  events->timer = nullptr;
  events->timerFired(events->context);
}

// Registers for the settings' notification, delivered on the main queue. The main thread's run
// loop drains that queue in its common modes, the default mode among them (CF, CFRunLoop.c,
// __CFRunLoopRun: the main queue's port is waited on when pthread_main_np() and the mode is
// common). False, holding nothing, when Libnotify refuses.
bool watchSettings(PowerEvents& events) {
  PowerEvents* const watched = &events;
  events.watchingSettings = notify_register_dispatch(kSettingsChanged, &events.settingsToken,
                                                     dispatch_get_main_queue(), ^(int) {
                                                       watched->settingsChanged(watched->context);
                                                     }) == NOTIFY_STATUS_OK;
  return events.watchingSettings;
}

}  // namespace

PowerEvents::~PowerEvents() {
  disarmTimer(this);
  // IOKit's source and its CFMachPort hold each other: invalidated, the source leaves every
  // run loop and lets the port go (the port's release cancels IOKit's registration).
  if (powerSource) {
    CFRunLoopSourceInvalidate(powerSource);
    CFRelease(powerSource);
  }
  if (watchingSettings) notify_cancel(settingsToken);
}

PowerEvents* createPowerEvents(PowerEventCallback powerSourceChanged,
                               PowerEventCallback settingsChanged, PowerEventCallback timerFired,
                               void* context) {
  static_assert(std::is_same_v<PowerEventCallback, IOPowerSourceCallbackType>);
  auto events = std::make_unique<PowerEvents>(settingsChanged, timerFired, context);
  // Without the settings' notification, a switch-on on battery would go unseen until the
  // adapter changes; IOKit's every-change notification (each percent or minute of the
  // battery) at least sees it at the next tick.
  events->powerSource = watchSettings(*events)
                            ? IOPSCreateLimitedPowerNotification(powerSourceChanged, context)
                            : IOPSNotificationCreateRunLoopSource(powerSourceChanged, context);
  if (!events->powerSource) return nullptr;
  return events.release();
}

bool watchesSettings(const PowerEvents* events) { return events->watchingSettings; }

void addToCurrentLoop(PowerEvents* events) {
  const CFRunLoopRef loop = CFRunLoopGetCurrent();  // borrowed
  CFRunLoopAddSource(loop, events->powerSource, kCFRunLoopDefaultMode);
}

void armTimer(PowerEvents* events, long delayMs) {
  disarmTimer(events);
  CFRunLoopTimerContext context{0, events, nullptr, nullptr, nullptr};
  // No interval: it fires once. The loop is the main thread's, where every callback runs. A
  // fire date already past (an answer that came due while a pass ran) fires at the loop's next
  // turn: CFRunLoopTimerCreate sets such a timer's deadline to now, and __CFRunLoopDoTimers
  // fires every timer whose deadline has come (CF, CFRunLoop.c).
  events->timer =
      CFRunLoopTimerCreate(kCFAllocatorDefault, CFAbsoluteTimeGetCurrent() + delayMs / 1000.0, 0, 0,
                           0, timerRanOut, &context);
  if (events->timer) CFRunLoopAddTimer(CFRunLoopGetCurrent(), events->timer, kCFRunLoopDefaultMode);
}

void disarmTimer(PowerEvents* events) {
  if (!events->timer) return;
  CFRunLoopTimerInvalidate(events->timer);
  CFRelease(events->timer);
  events->timer = nullptr;
}

void runCurrentLoop(PowerEvents*) { CFRunLoopRun(); }

void releasePowerEvents(PowerEvents* events) { delete events; }

}  // namespace halvorsten
