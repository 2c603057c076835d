// The seam to what can call for a pass, and the event loop that delivers it: a change of the
// power source the machine draws from, and a change of the power-management settings, where
// sleep prevention lives. A battery's level ticking down is neither. One implementation per
// platform: power_events_macos.cpp (IOKit, Libnotify and the CoreFoundation run loop) and
// power_events_linux.cpp (kernel uevents, and inotify on the folder where pmset announces).
#pragma once

namespace halvorsten {

// Called on the loop's thread after something changed that may call for a pass; `context` is
// what was registered. Changes that come close together may share one call.
using PowerEventCallback = void (*)(void* context);

// The sources of power events; what they hold is the platform's business.
struct PowerEvents;

// Subscribes to power events: from here on they are kept for the loop, which delivers them
// once the sources have been added to it, as `powerSourceChanged(context)` after a change of
// the power source and as `settingsChanged(context)` after a change of the settings alone, and
// calls `timerFired(context)` when the timer armed below runs out. Null when the power source
// cannot be watched. When the settings cannot be watched, the power source is watched more
// closely instead (every change of it, battery level included), and watchesSettings says so.
PowerEvents* createPowerEvents(PowerEventCallback powerSourceChanged,
                               PowerEventCallback settingsChanged, PowerEventCallback timerFired,
                               void* context);

// Whether changes of the power-management settings are delivered. The watch can also end while
// the loop runs (on Linux, when the folder of notices is removed): the loop then calls
// `settingsChanged` once more, and from then on watches the power source as closely as when
// the settings could not be watched at all.
bool watchesSettings(const PowerEvents* events);

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
