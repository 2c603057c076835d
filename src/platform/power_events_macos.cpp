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
// drops it (Libnotify, notifyd/notify_proc.c: __notify_server_regenerate posts nothing). Nor
// can the power source be read meanwhile: IOPSGetProvidingPowerSourceType reads notifyd's state
// for kIOPSTimeRemainingNotificationKey, which the power manager set, and says "AC Power" when
// it cannot (IOKitUser, ps.subproj/IOPowerSources.c: IOPSGetSupportedPowerSources,
// notify_register_check and notify_get_state). So the service watches notifyd's exit itself
// and says at once that notices may have been lost, for a pass once the power manager's
// registration, and with it that state, is back (kReadingsWholeAfterMs); then it looks for the
// new notifyd, to watch the next exit. When it is not found within a minute, the service is told
// that notifyd is not watched, and the look goes on, ever less often.
#include <CoreFoundation/CoreFoundation.h>
#include <IOKit/ps/IOPowerSources.h>
#include <dispatch/dispatch.h>
#include <notify.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <type_traits>
#include <vector>

#if __has_include(<libproc.h>)
#include <libproc.h>
#else
// The type checker's headers have no libproc: the three calls as xnu declares them
// (libsyscall/wrappers/libproc/libproc.h), and the longest path they answer
// (bsd/sys/proc_info.h: 4 * MAXPATHLEN, which is 1024 on Darwin).
extern "C" int proc_listallpids(void* buffer, int buffersize);
extern "C" int proc_name(int pid, void* buffer, uint32_t buffersize);
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

// Where launchd starts notifyd from (Libnotify, notifyd/com.apple.notifyd.plist), and its name,
// which the process table answers without the path lookup that a hung volume can block (xnu,
// bsd/kern/proc_info.c: PROC_PIDTBSDINFO copies the name; proc_pidpathinfo_internal looks up
// the executable's vnode).
constexpr char kNotifyd[] = "/usr/sbin/notifyd", kNotifydName[] = "notifyd";
// While notifyd is gone, how often to look for the new one. launchd starts it again at the first
// message to its port, which every process's Libnotify sends at once to regenerate
// (notify_client.c, _notify_lib_server_restart_handler), so it is back within a look or two.
// After a minute of looks it is not watched; the looks go on at the pace the service tries a
// pass again at: the interval doubles up to five minutes.
constexpr long kNotifydLookMs = 1000, kNotifydLongestLookMs = 5 * 60 * 1000;
constexpr int kNotifydLooks = 60;

}  // namespace

// The power manager's state is back once its own registration is. Every process's Libnotify
// starts regenerating at notifyd's exit, from an exit source of its own, and sends each
// registration again (which has launchd start the new notifyd), trying 51 times, 100 ms apart,
// only while a send fails (notify_client.c, _notify_lib_regenerate_registration:
// NOTIFY_SERVER_RETRY_NUMBER, NOTIFY_SERVER_RETRY_WAIT_US). The regenerated registration brings
// back the state the power manager set (notifyd/notify_proc.c, __notify_server_regenerate:
// prev_state). So 5.1 s after the exit every regeneration that succeeds at all has succeeded.
const long kReadingsWholeAfterMs = 6000;

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
  bool notifydWatched = false;  // false once a look found no notifyd for a minute
  int looksLeft = 0;            // at the first pace
  long lookMs = 0;

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

// notifyd's pid, from the process table by its name, then its path; 0 when it is not running.
pid_t notifydPid() {
  // Asked without a buffer, libproc answers the count of processes and 20 more (xnu,
  // bsd/kern/proc_info.c, proc_listpids).
  const int most = proc_listallpids(nullptr, 0);
  if (most <= 0) return 0;
  std::vector<int> pids(static_cast<std::size_t>(most));
  const int count = proc_listallpids(pids.data(), static_cast<int>(pids.size() * sizeof(int)));
  for (int i = 0; i < count && i < most; ++i) {
    char name[64] = {};  // proc_name wants room for the 32 bytes of pbi_name (xnu, libproc.c)
    char path[PROC_PIDPATHINFO_MAXSIZE];
    if (pids[i] > 0 && proc_name(pids[i], name, sizeof name - 1) > 0 &&
        std::strcmp(name, kNotifydName) == 0 && proc_pidpath(pids[i], path, sizeof path) > 0 &&
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

// Tells the service when whether notifyd is watched changes.
void setNotifydWatched(PowerEvents& events, bool watched) {
  if (events.notifydWatched == watched) return;
  events.notifydWatched = watched;
  events.callbacks.watchesChanged(events.context, watches(&events));
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
    watched->callbacks.noticesLost(watched->context);
  });
  dispatch_resume(events.notifyd);
  return true;
}

void lookEvery(dispatch_source_t look, long ms) {
  dispatch_source_set_timer(look, dispatch_time(DISPATCH_TIME_NOW, ms * NSEC_PER_MSEC),
                            ms * NSEC_PER_MSEC, ms / 10 * NSEC_PER_MSEC);
}

// notifyd ended, or was not there at the start: looks for the new one every kNotifydLookMs,
// kNotifydLooks times, then ever less often, and watches it once it is there.
void lookForNotifyd(PowerEvents& events) {
  unwatchNotifyd(events);
  events.looksLeft = kNotifydLooks;
  events.lookMs = kNotifydLookMs;
  events.notifyd =
      dispatch_source_create(DISPATCH_SOURCE_TYPE_TIMER, 0, 0, dispatch_get_main_queue());
  if (!events.notifyd) return setNotifydWatched(events, false);
  PowerEvents* const watched = &events;
  lookEvery(events.notifyd, events.lookMs);
  dispatch_source_set_event_handler(events.notifyd, ^{
    if (watchNotifyd(*watched)) return setNotifydWatched(*watched, true);
    if (--watched->looksLeft > 0) return;
    setNotifydWatched(*watched, false);
    watched->lookMs = std::min(2 * watched->lookMs, kNotifydLongestLookMs);
    lookEvery(watched->notifyd, watched->lookMs);
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
  // Not there yet: looked for, and watched once found; the service hears of it then.
  events->notifydWatched = watchNotifyd(*events);
  if (!events->notifydWatched) lookForNotifyd(*events);
  return events.release();
}

Watches watches(const PowerEvents* events) {
  return {events->watchingSettings, events->notifydWatched};
}

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
