// The service's entry point: it starts things. The service (service.h) makes one pass at once,
// then one for every change of the power source or of the power-management settings, held back
// a while when they keep coming back, and again after any pass whose outcome was not verified,
// and once more after notices may have been lost, for the rest of the process's life. No
// arguments, environment or configuration are read, and nothing is written but the activity log
// and the system's log.
#include <fcntl.h>
#include <signal.h>

#include <cerrno>
#include <cstdlib>
#include <utility>

#include "activitylog/activity_log.h"
#include "platform/power_events.h"
#include "service/service.h"

// The log's fixed place; a test build points it elsewhere at compile time.
#ifndef HALVORSTEN_LOG
#define HALVORSTEN_LOG "/Library/Logs/Quorvani-Halvorsten.log"
#endif

namespace {

using namespace halvorsten;

PowerEvents* events = nullptr;  // held for the life of the process

// Each event of the loop, handed to the service it was registered with.
template <void (Service::*event)()>
void deliver(void* service) {
  (static_cast<Service*>(service)->*event)();
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

  Machine mac = theMac();
  mac.armTimer = [](long delayMs) { armTimer(events, delayMs); };
  mac.disarmTimer = [] { disarmTimer(events); };
  Service service(std::move(mac));
  // Subscribed first, so that what changes during the first pass is delivered right after it.
  events = createPowerEvents(
      {deliver<&Service::powerSourceChanged>, deliver<&Service::settingsChanged>,
       [](void* service) { static_cast<Service*>(service)->noticesLost(kReadingsWholeAfterMs); },
       deliver<&Service::timerRanOut>,
       [](void* service, Watches now) { static_cast<Service*>(service)->watchesChanged(now); }},
      &service);
  if (events) addToCurrentLoop(events);
  const Watches watched = events ? watches(events) : Watches{};
  if (!service.start(events ? &watched : nullptr)) std::exit(1);
  runCurrentLoop(events);
  releasePowerEvents(events);
  return 0;
}
