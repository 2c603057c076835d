// The service's entry point: one pass at once, then one pass for every change of the power
// source or of the power-management settings, for the rest of the process's life. No arguments,
// environment or configuration are read, and nothing is written but the activity log.
#include <fcntl.h>
#include <signal.h>

#include <cerrno>
#include <cstdlib>

#include "activitylog/activity_log.h"
#include "platform/power_events.h"
#include "service/enforce.h"

// The log's fixed place; a test build points it elsewhere at compile time.
#ifndef HALVORSTEN_LOG
#define HALVORSTEN_LOG "/Library/Logs/Quorvani-Halvorsten.log"
#endif

namespace {

// Whether the last pass found the setting on and could not switch it off. pmset announces its
// attempt like any other change of the settings, and acting on that announcement would only try
// the same again, and again: after a failed clear, only a change of the power source runs a pass.
bool clearFailed = false;

void powerSourceChanged(void*) { clearFailed = !halvorsten::enforce(); }

void settingsChanged(void*) {
  if (!clearFailed) clearFailed = !halvorsten::enforce();
}

// Opens the null device on any of standard input, output and error that came closed, so that
// no descriptor the service opens later can land there and be handed to pmset as one of them.
// These three are meant to reach children, so they are not close-on-exec.
void openMissingStandardDescriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) == -1 && errno == EBADF) ::open("/dev/null", O_RDWR);
  }
}

// An ignored SIGCHLD survives exec, and with it the kernel reaps pmset by itself, so that no
// run of the tool could be waited for and every query would come back empty. Whoever started
// the service, children are its own to reap. Every other signal stays as it came.
void reapOwnChildren() {
  struct sigaction reap {};
  reap.sa_handler = SIG_DFL;
  sigemptyset(&reap.sa_mask);
  ::sigaction(SIGCHLD, &reap, nullptr);
}

}  // namespace

int main() {
  using namespace halvorsten;
  logURL = HALVORSTEN_LOG;
  openMissingStandardDescriptors();
  reapOwnChildren();

  // Subscribed first, so that what changes during the first pass is delivered right after it.
  // Held for the life of the process.
  PowerEvents* const events = createPowerEvents(powerSourceChanged, settingsChanged, nullptr);
  if (events) addToCurrentLoop(events);

  // A machine already on battery with the setting on is corrected at once.
  powerSourceChanged(nullptr);

  if (!events) {
    log("Failed to create power-source notification source — exiting.");
    std::exit(1);
  }
  if (!watchesSettings(events)) {
    log("Cannot watch the power-management settings — checking at every power-source update "
        "instead.");
  }
  log("Halvorsten started; watching power source (event-driven, no polling).");
  runCurrentLoop(events);
  releasePowerEvents(events);
  return 0;
}
