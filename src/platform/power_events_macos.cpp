// macOS backend of the power-event seam, run by the main thread's CoreFoundation run loop:
// - IOKit's limited-power notification, which the power manager posts when the Mac moves
//   between external power and its battery (PowerManagement, pmconfigd/BatteryTimeRemaining.m,
//   HandlePublishAllPowerSources: kIOPSNotifyPowerSource when the adapter's state changed);
// - the power-management settings' Darwin notification, on a mach port wrapped as a CFMachPort,
//   as IOKitUser's ps.subproj/IOPowerSources.c (doCreatePSRLS) wraps its own.
// - a one-shot CFRunLoopTimer on the same loop, made when armed and gone once it has fired.
// Callbacks arrive only while the loop runs, and the pass waits for pmset with kqueue, outside
// the loop, so passes never nest: what arrives meanwhile is delivered after the pass.
#include <CoreFoundation/CFMachPort.h>
#include <CoreFoundation/CoreFoundation.h>
#include <IOKit/ps/IOPowerSources.h>
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
  CFRunLoopSourceRef powerSource = nullptr;  // each: one reference, from the creating call
  CFMachPortRef settingsPort = nullptr;
  CFRunLoopSourceRef settingsSource = nullptr;
  int settingsToken = 0;  // Libnotify's registration, which owns the mach port
  bool registered = false;
  CFRunLoopTimerRef timer = nullptr;  // one reference, from the creating call, while armed

  PowerEvents(PowerEventCallback settingsChanged, PowerEventCallback timerFired, void* context)
      : settingsChanged(settingsChanged), timerFired(timerFired), context(context) {}
  PowerEvents(const PowerEvents&) = delete;
  PowerEvents& operator=(const PowerEvents&) = delete;
  ~PowerEvents();
};

namespace {

// The CFMachPort callback: the message is an empty notice, and the port's context is the
// PowerEvents that registered it.
void noticeArrived(CFMachPortRef, void*, CFIndex, void* info) {
  const PowerEvents* const events = static_cast<const PowerEvents*>(info);
  events->settingsChanged(events->context);
}

// The timer's callback. The run loop holds the timer while it fires and invalidates a one-shot
// timer afterwards (CF, CFRunLoop.c, __CFRunLoopDoTimer), so ours can go first.
void timerRanOut(CFRunLoopTimerRef, void* info) {
  PowerEvents* const events = static_cast<PowerEvents*>(info);
  CFRelease(events->timer);
  events->timer = nullptr;
  events->timerFired(events->context);
}

// Releases whatever part of the settings' watch is held.
void unwatchSettings(PowerEvents& events) {
  if (events.settingsSource) CFRelease(events.settingsSource);
  // Taken off the loop before Libnotify destroys the port under it.
  if (events.settingsPort) {
    CFMachPortInvalidate(events.settingsPort);
    CFRelease(events.settingsPort);
  }
  if (events.registered) notify_cancel(events.settingsToken);
  events.settingsSource = nullptr;
  events.settingsPort = nullptr;
  events.registered = false;
}

// Registers for the settings' notification on a new mach port and makes the port a run-loop
// source. False, holding nothing of it, when any step fails.
bool watchSettings(PowerEvents& events) {
  mach_port_t port = MACH_PORT_NULL;
  events.registered = notify_register_mach_port(kSettingsChanged, &port, 0,
                                                &events.settingsToken) == NOTIFY_STATUS_OK;
  if (!events.registered) return false;
  CFMachPortContext context{0, &events, nullptr, nullptr, nullptr};
  Boolean reused = false;
  const CFMachPortRef made =
      CFMachPortCreateWithPort(kCFAllocatorDefault, port, noticeArrived, &context, &reused);
  // A CFMachPort that already existed for this port calls someone else's callback: it is
  // released, never invalidated, and the settings go unwatched.
  if (made && reused) CFRelease(made);
  events.settingsPort = reused ? nullptr : made;
  if (events.settingsPort) {
    events.settingsSource =
        CFMachPortCreateRunLoopSource(kCFAllocatorDefault, events.settingsPort, 0);
  }
  if (!events.settingsSource) unwatchSettings(events);
  return events.settingsSource != nullptr;
}

}  // namespace

PowerEvents::~PowerEvents() {
  disarmTimer(this);
  if (powerSource) CFRelease(powerSource);
  unwatchSettings(*this);
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

bool watchesSettings(const PowerEvents* events) { return events->settingsSource != nullptr; }

void addToCurrentLoop(PowerEvents* events) {
  const CFRunLoopRef loop = CFRunLoopGetCurrent();  // borrowed
  CFRunLoopAddSource(loop, events->powerSource, kCFRunLoopDefaultMode);
  if (events->settingsSource)
    CFRunLoopAddSource(loop, events->settingsSource, kCFRunLoopDefaultMode);
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
