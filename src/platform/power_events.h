// The seam to what can call for a pass, and the event loop that delivers it: a change of the
// power source the machine draws from, and a change of the power-management settings, where
// sleep prevention lives. A battery's level ticking down is neither. One implementation per
// platform: power_events_macos.cpp (IOKit, Libnotify and the CoreFoundation run loop) and
// power_events_linux.cpp (kernel uevents, and inotify on the folder where pmset announces).
#pragma once

namespace halvorsten {

// Called on the loop's thread after something changed that may call for a pass; `context` is
// what was registered.
using PowerEventCallback = void (*)(void* context);

// The sources of power events; what they hold is the platform's business.
struct PowerEvents;

// What the platform watches besides the power source: the power-management settings, and
// whatever tells it that notices were lost (on macOS, notifyd's exit).
struct Watches {
  bool settings, lostNotices;
};

// What calls for a pass, and the timer, as the loop delivers them to its caller. Changes that
// come close together may share one call of `powerSourceChanged` (a change of the power
// source) or `settingsChanged` (a change of the settings alone). `noticesLost` says that notices
// may have gone missing (on macOS, notifyd restarted; on Linux, the kernel's queue overran), so
// that any change may have gone unseen: the caller makes a pass once the readings are whole
// again, kReadingsWholeAfterMs later. `timerFired` comes when the timer armed below runs out.
// `watchesChanged` comes when a watch ends or comes back while the loop runs, with what is
// watched now.
struct PowerEventCallbacks {
  PowerEventCallback powerSourceChanged, settingsChanged, noticesLost, timerFired;
  void (*watchesChanged)(void* context, Watches watches);
};

// How long after `noticesLost` the platform's readings of the power source can be trusted
// again; each backend says why.
extern const long kReadingsWholeAfterMs;

// Subscribes to power events: from here on they are kept for the loop, which delivers them
// once the sources have been added to it, each as `callbacks.NAME(context)`. Null when the
// power source cannot be watched. When the settings cannot be watched, the power source is
// watched more closely instead (every change of it, battery level included).
PowerEvents* createPowerEvents(const PowerEventCallbacks& callbacks, void* context);

// What is watched now. A watch can end while the loop runs: on Linux, the settings' when the
// folder of notices is removed (the loop then calls `settingsChanged` once more, and from then
// on watches the power source as closely as when the settings could not be watched at all); on
// macOS, notifyd's when no new one is found within a minute of its exit, until one is found.
// Either way `watchesChanged` tells.
Watches watches(const PowerEvents* events);

// The loop's one timer, one-shot: armed, it calls `timerFired` once, `delayMs` milliseconds
// from now, unless it is armed again or disarmed first. While it is not armed nothing wakes the
// loop but the sources.
void armTimer(PowerEvents* events, long delayMs);
void disarmTimer(PowerEvents* events);

// Adds the sources to the calling thread's event loop.
void addToCurrentLoop(PowerEvents* events);

// Waits for events and delivers them on the calling thread, sleeping in between. Does not
// return in normal operation; returns only if the platform's loop ends or a source fails for
// good.
void runCurrentLoop(PowerEvents* events);

// Unsubscribes and releases the sources.
void releasePowerEvents(PowerEvents* events);

}  // namespace halvorsten
