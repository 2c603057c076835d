// macOS backend of the power-event seam, run by the main thread's CoreFoundation run loop:
// - IOKit's limited-power notification, which the power manager posts when the Mac moves
//   between external power and its battery (PowerManagement, pmconfigd/BatteryTimeRemaining.m,
//   HandlePublishAllPowerSources: kIOPSNotifyPowerSource when the adapter's state changed);
// - the power-management settings' Darwin notification, delivered to the main dispatch queue,
//   which the main thread's run loop drains between its other sources;
// - a one-shot CFRunLoopTimer on the same loop, made when armed and gone once it has fired;
// - notifyd's exit, as a dispatch source on the main queue (below).
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
//
// What regeneration cannot bring back is a notice posted while notifyd was gone: notifyd
// drops it (Libnotify, notifyd/notify_proc.c: __notify_server_regenerate posts nothing), and
// until the power manager's own registration is regenerated, the state that IOKit reads the
// power source from (IOKitUser, ps.subproj/IOPowerSources.c: IOPSGetSupportedPowerSources,
// notify_register_check and notify_get_state) is not back either, and reads as "AC Power". So
// the service watches notifyd itself, by its path, and once a new notifyd is there says that
// notices may have been lost, for a pass when the state is back (kReadingsWholeAfterMs).
#include <CoreFoundation/CoreFoundation.h>
#include <IOKit/ps/IOPowerSources.h>
#include <dispatch/dispatch.h>
#include <notify.h>

#include <cstring>
#include <memory>
#include <type_traits>
#include <vector>

#if __has_include(<libproc.h>)
#include <libproc.h>
#else
// The type checker's headers have no libproc: the two calls as xnu declares them
// (libsyscall/wrappers/libproc/libproc.h), and the longest path they answer
// (bsd/sys/proc_info.h: 4 * MAXPATHLEN, which is 1024 on Darwin).
extern "C" int proc_listallpids(void* buffer, int buffersize);
extern "C" int proc_pidpath(int pid, void* buffer, uint32_t buffersize);
#define PROC_PIDPATHINFO_MAXSIZE (4 * 1024)
#endif

#include "platform/power_events.h"
#include "platform/system_log.h"

namespace halvorsten {
namespace {

// kIOPMPrefsChangeNotify (IOKitUser, pwr_mgt.subproj/IOPMLibPrivate.h). IOPMSetSystemPowerSetting
// posts it right after storing a setting (pwr_mgt.subproj/IOPMEnergyPrefs.c), and that is how
// pmset stores "disablesleep" (PowerManagement, pmset/pmset.m); "pmset -g" reports those stored
// settings, so every change the query can see is announced here.
constexpr char kSettingsChanged[] = "com.apple.system.powermanagement.prefschange";

// Where launchd starts notifyd from (Libnotify, notifyd/com.apple.notifyd.plist).
constexpr char kNotifyd[] = "/usr/sbin/notifyd";
// While notifyd is gone, how often to look for the new one, and for how long at most. launchd
// starts it again at the first message to its port, which every process's Libnotify sends at
// once to regenerate (notify_client.c, _notify_lib_server_restart_handler), so it is back
// within a look or two.
constexpr long kNotifydLookMs = 1000;
constexpr int kNotifydLooks = 60;

}  // namespace

// The power manager's state is back once its own registrations are: Libnotify regenerates each
// registration as soon as the new notifyd answers, trying for at most 50 times 100 ms
// (notify_client.c, _notify_lib_regenerate_registration: NOTIFY_SERVER_RETRY_NUMBER,
// NOTIFY_SERVER_RETRY_WAIT_US), and that brings back the state the power manager set, which
// IOKit reads the power source from (notifyd/notify_proc.c, __notify_server_regenerate:
// prev_state). So 5 s after the new notifyd is seen, every regeneration that succeeds at all
// has done so; the service looks at most a second after notifyd is back, which adds to it.
const long kReadingsWholeAfterMs = 5000;

struct PowerEvents {
  PowerEventCallbacks callbacks;
  void* context;
  CFRunLoopSourceRef powerSource = nullptr;  // one reference, from the creating call
  int settingsToken = 0;                     // Libnotify's registration of the settings
  bool watchingSettings = false;
  CFRunLoopTimerRef timer = nullptr;  // one reference, from the creating call, while armed
  // notifyd's exit while it runs, or the look for the new one while it is gone; one reference,
  // from the creating call. Null when neither can be had.
  dispatch_source_t notifyd = nullptr;
  int looksLeft = 0;

  PowerEvents(const PowerEventCallbacks& callbacks, void* context)
      : callbacks(callbacks), context(context) {}
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
  events->callbacks.timerFired(events->context);
}

// Registers for the settings' notification, delivered on the main queue. The main thread's run
// loop drains that queue in its common modes, the default mode among them (CF, CFRunLoop.c,
// __CFRunLoopRun: the main queue's port is waited on when pthread_main_np() and the mode is
// common). False, holding nothing, when Libnotify refuses.
bool watchSettings(PowerEvents& events) {
  PowerEvents* const watched = &events;
  events.watchingSettings =
      notify_register_dispatch(kSettingsChanged, &events.settingsToken, dispatch_get_main_queue(),
                               ^(int) {
                                 watched->callbacks.settingsChanged(watched->context);
                               }) == NOTIFY_STATUS_OK;
  return events.watchingSettings;
}

// notifyd's pid, from the process table by its path; 0 when it is not running.
pid_t notifydPid() {
  // Asked without a buffer, libproc answers the count of processes and 20 more (xnu,
  // bsd/kern/proc_info.c, proc_listpids).
  const int most = proc_listallpids(nullptr, 0);
  if (most <= 0) return 0;
  std::vector<int> pids(static_cast<std::size_t>(most));
  const int count = proc_listallpids(pids.data(), static_cast<int>(pids.size() * sizeof(int)));
  for (int i = 0; i < count && i < most; ++i) {
    char path[PROC_PIDPATHINFO_MAXSIZE];
    if (pids[i] > 0 && proc_pidpath(pids[i], path, sizeof path) > 0 &&
        std::strcmp(path, kNotifyd) == 0) {
      return pids[i];
    }
  }
  return 0;
}

void unwatchNotifyd(PowerEvents& events) {
  if (!events.notifyd) return;
  dispatch_source_cancel(events.notifyd);
  dispatch_release(events.notifyd);
  events.notifyd = nullptr;
}

void lookForNotifyd(PowerEvents& events);

// Watches notifyd's exit, on the main queue like everything else, in place of what watched
// before (the look for it); false, with that left as it was, when notifyd is not running or
// cannot be watched.
bool watchNotifyd(PowerEvents& events) {
  const pid_t pid = notifydPid();
  if (pid <= 0) return false;
  const dispatch_source_t exit =
      dispatch_source_create(DISPATCH_SOURCE_TYPE_PROC, static_cast<uintptr_t>(pid),
                             DISPATCH_PROC_EXIT, dispatch_get_main_queue());
  if (!exit) return false;
  unwatchNotifyd(events);
  events.notifyd = exit;
  PowerEvents* const watched = &events;
  dispatch_source_set_event_handler(events.notifyd, ^{
    logDebug("Woken: notifyd ended.");
    lookForNotifyd(*watched);
  });
  dispatch_resume(events.notifyd);
  return true;
}

// notifyd ended: looks for the new one every kNotifydLookMs; once it is there (or the looks
// run out), watches it and says that notices may have been lost.
void lookForNotifyd(PowerEvents& events) {
  unwatchNotifyd(events);
  events.looksLeft = kNotifydLooks;
  events.notifyd =
      dispatch_source_create(DISPATCH_SOURCE_TYPE_TIMER, 0, 0, dispatch_get_main_queue());
  if (!events.notifyd) {
    events.callbacks.noticesLost(events.context);
    return;
  }
  PowerEvents* const watched = &events;
  dispatch_source_set_timer(events.notifyd,
                            dispatch_time(DISPATCH_TIME_NOW, kNotifydLookMs * NSEC_PER_MSEC),
                            kNotifydLookMs * NSEC_PER_MSEC, 100 * NSEC_PER_MSEC);
  dispatch_source_set_event_handler(events.notifyd, ^{
    if (!watchNotifyd(*watched)) {
      if (--watched->looksLeft > 0) return;
      unwatchNotifyd(*watched);  // gone for good: nothing more to watch
    }
    watched->callbacks.noticesLost(watched->context);
  });
  dispatch_resume(events.notifyd);
}

}  // namespace

PowerEvents::~PowerEvents() {
  disarmTimer(this);
  unwatchNotifyd(*this);
  // Invalidated, IOKit's source leaves every run loop, so that nothing of it runs after this.
  // Its context still holds IOKit's CFMachPort, which holds the source (CF, CFRunLoop.c:
  // CFRunLoopSourceInvalidate keeps the context; CFMachPort.c: CFMachPortCreateRunLoopSource
  // keeps the source), so the pair, and IOKit's registration with notifyd, last until the
  // process ends, which follows at once. The port is IOKit's to invalidate: its release
  // callback (IOPowerSources.c, IOPSRLSMachPortRelease) releases the port once more.
  if (powerSource) {
    CFRunLoopSourceInvalidate(powerSource);
    CFRelease(powerSource);
  }
  if (watchingSettings) notify_cancel(settingsToken);
}

PowerEvents* createPowerEvents(const PowerEventCallbacks& callbacks, void* context) {
  static_assert(std::is_same_v<PowerEventCallback, IOPowerSourceCallbackType>);
  auto events = std::make_unique<PowerEvents>(callbacks, context);
  // Without the settings' notification, a switch-on on battery would go unseen until the
  // adapter changes; IOKit's every-change notification (each percent or minute of the
  // battery) at least sees it at the next tick.
  events->powerSource =
      watchSettings(*events)
          ? IOPSCreateLimitedPowerNotification(callbacks.powerSourceChanged, context)
          : IOPSNotificationCreateRunLoopSource(callbacks.powerSourceChanged, context);
  if (!events->powerSource) return nullptr;
  // Without it, a notice lost to a restart of notifyd waits for the next change.
  watchNotifyd(*events);
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
