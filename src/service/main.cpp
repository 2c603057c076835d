// The service's entry point: one pass at once, then one pass for every change of the power
// source or of the power-management settings (held back a while when they keep coming back),
// and again after a clear that failed, until one holds, and once more after notices may have been
// lost, for the rest of the process's life. No arguments, environment or configuration are read,
// and nothing is written but the activity log and the system's log. What wakes it, and what each
// pass finds, goes to the system's log at its debug level only.
#include <fcntl.h>
#include <signal.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <string>

#include "activitylog/activity_log.h"
#include "platform/fd.h"
#include "platform/power_events.h"
#include "platform/system_log.h"
#include "service/enforce.h"
#include "service/hold_off.h"

// The log's fixed place; a test build points it elsewhere at compile time.
#ifndef HALVORSTEN_LOG
#define HALVORSTEN_LOG "/Library/Logs/Quorvani-Halvorsten.log"
#endif

namespace {

using namespace halvorsten;

PowerEvents* events = nullptr;  // held for the life of the process
bool watchingSettings = false;
HoldOff holdOff;

void logSettingsUnwatched() {
  logFailure(
      "Cannot watch the power-management settings — checking at every power-source update "
      "instead.");
}

// One pass, and what it found, for the debug log.
PassOutcome pass() {
  const long long startMs = monotonicMs();
  const PassOutcome outcome = enforce();
  const char* const found = outcome == PassOutcome::Cleared       ? "cleared"
                            : outcome == PassOutcome::ClearFailed ? "clear failed"
                                                                  : "nothing to clear";
  logDebug(std::string("Pass: ") + found + " (" + std::to_string(monotonicMs() - startMs) +
           " ms).");
  return outcome;
}

// Does what the hold-off answered, with the loop's timer; the hold-off counts from the end of
// the pass.
void act(const HoldOffAnswer& answer) {
  if (answer.line == HoldOffAnswer::KeepsComingBack) {
    log("Sleep prevention keeps being switched on again — switching it off at most every 5 "
        "minutes.");
  } else if (answer.line == HoldOffAnswer::TryingAgain) {
    log("Trying again after 1 s, then at longer and longer intervals, up to 5 minutes apart.");
  }
  switch (answer.act) {
    case HoldOffAnswer::Nothing:
      return;
    case HoldOffAnswer::HoldUntil:
      armTimer(events, static_cast<long>(std::max(answer.untilMs - monotonicMs(), 0LL)));
      return;
    case HoldOffAnswer::RunPass: {
      disarmTimer(events);
      const PassOutcome outcome = pass();
      act(holdOff.passEnded(monotonicMs(), outcome));
      return;
    }
  }
}

// On Linux the settings' watch can end while the service runs; the service then checks at
// every power-source update, and says so once.
void noticeUnwatchedSettings() {
  if (!watchingSettings || watchesSettings(events)) return;
  watchingSettings = false;
  logSettingsUnwatched();
}

void powerSourceChanged(void*) {
  logDebug("Woken: power-source notice.");
  noticeUnwatchedSettings();
  act(holdOff.powerSourceChanged());
}

void settingsChanged(void*) {
  logDebug("Woken: settings notice.");
  noticeUnwatchedSettings();
  act(holdOff.settingsChanged(monotonicMs()));
}

void noticesLost(void*) {
  logDebug("Woken: notices may have been lost; a pass follows in " +
           std::to_string(kReadingsWholeAfterMs) + " ms.");
  act(holdOff.noticesLost(monotonicMs(), kReadingsWholeAfterMs));
}

void timerRanOut(void*) {
  logDebug("Woken: timer.");
  act(holdOff.timerRanOut(monotonicMs()));
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
  logURL = HALVORSTEN_LOG;
  openMissingStandardDescriptors();
  reapOwnChildren();

  // Subscribed first, so that what changes during the first pass is delivered right after it.
  events =
      createPowerEvents({powerSourceChanged, settingsChanged, noticesLost, timerRanOut}, nullptr);
  if (events) addToCurrentLoop(events);

  // A machine already on battery with the setting on is corrected at once.
  const PassOutcome first = pass();

  if (!events) {
    logFailure("Failed to create power-source notification source — exiting.");
    std::exit(1);
  }
  act(holdOff.passEnded(monotonicMs(), first));  // a failed clear is tried again from here on
  watchingSettings = watchesSettings(events);
  if (!watchingSettings) logSettingsUnwatched();
  log("Halvorsten started; watching power source (event-driven, no polling).");
  runCurrentLoop(events);
  releasePowerEvents(events);
  return 0;
}
