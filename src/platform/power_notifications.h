// The seam to the platform's power-source change notifications and the event loop that
// delivers them. One implementation per platform: power_notifications_macos.cpp (IOKit and
// the CoreFoundation run loop) and power_notifications_linux.cpp (kernel uevents).
#pragma once

namespace halvorsten {

// Called on the loop's thread after the power sources changed; `context` is what was
// registered with the source. Changes that come close together may share one call.
using PowerSourceCallback = void (*)(void* context);

// A notification source; what it holds is the platform's business.
struct PowerNotifications;

// Creates a source that will call `callback(context)` after each change of the power sources,
// once it has been added to the loop. Null when it cannot be created.
PowerNotifications* createPowerNotifications(PowerSourceCallback callback, void* context);

// Adds the source to the calling thread's event loop.
void addToCurrentLoop(PowerNotifications* notifications);

// Waits for changes and delivers them on the calling thread, sleeping in between. Does not
// return in normal operation; returns only if the platform's loop ends or its source fails
// for good.
void runCurrentLoop(PowerNotifications* notifications);

// Releases the source.
void releasePowerNotifications(PowerNotifications* notifications);

}  // namespace halvorsten
