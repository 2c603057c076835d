// Linux backend of the power-event seam, read from one poll loop that sleeps until something
// arrives:
// - the kernel's uevents over a netlink socket. Only privileged processes can send to the
//   kernel's multicast group;
// - inotify on the folder where pmset announces a change of its settings, as pmset on a Mac
//   posts a Darwin notification after storing one.
#include <linux/netlink.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <string>
#include <string_view>

#include "platform/fd.h"
#include "platform/power_events.h"
#include "platform/readings_linux.h"

// The folder where pmset announces a change of its settings by writing a file there; a test
// build points it into the simulated Mac at compile time.
#ifndef HALVORSTEN_SETTINGS_NOTICES
#define HALVORSTEN_SETTINGS_NOTICES "/run/pmset"
#endif

namespace halvorsten {

struct PowerEvents {
  Fd uevents;
  Fd settings;  // none when the settings cannot be watched
  PowerEventCallbacks callbacks;
  void* context;
  SupplyMemory supplies;
  long long timerDueMs = -1;  // on monotonicMs(); -1 while the timer is not armed
};

// The power source is read from sysfs at each pass, always as it is now: a lost uevent loses
// only the news of a change, so the pass after it can come at once.
const long kReadingsWholeAfterMs = 0;

namespace {

constexpr unsigned kKernelEvents = 1;  // the kernel's uevent multicast group
// More supplies than a machine has; past it the memory starts afresh, which costs a pass each.
constexpr std::size_t kMostSupplies = 32;

}  // namespace

bool mayChangePowerSource(std::string_view event, SupplyMemory* supplies) {
  std::string_view header, subsystem;
  std::string decisive;
  for (std::size_t start = 0; start < event.size();) {
    const std::size_t end = std::min(event.find('\0', start), event.size());
    const std::string_view field = event.substr(start, end - start);
    if (start == 0) header = field;
    if (field.starts_with("SUBSYSTEM=")) subsystem = field.substr(10);
    if (field.starts_with("POWER_SUPPLY_ONLINE=") || field.starts_with("POWER_SUPPLY_STATUS=")) {
      decisive.append(field).push_back('\n');
    }
    start = end + 1;
  }
  if (subsystem != "power_supply") return false;
  if (!supplies) return true;
  const std::size_t at = header.find('@');
  const std::string_view devpath = header.substr(at + 1);
  if (at == std::string_view::npos || header.substr(0, at) != "change") {
    if (const auto known = supplies->find(devpath); known != supplies->end())
      supplies->erase(known);
    return true;
  }
  if (supplies->size() >= kMostSupplies) supplies->clear();
  const auto [known, isNew] = supplies->try_emplace(std::string(devpath), decisive);
  if (isNew) return true;
  if (known->second == decisive) return false;
  known->second = std::move(decisive);
  return true;
}

int pollTimeoutMs(long long dueMs, long long nowMs) {
  if (dueMs < 0) return -1;
  return static_cast<int>(std::clamp(dueMs - nowMs, 0LL, static_cast<long long>(INT_MAX)));
}

namespace {

enum class Drain { Quiet, PassCalledFor, Lost, Failed };

// Reads every message already queued on the non-blocking `fd`; `callsForPass` judges each. A
// receive-buffer overflow (ENOBUFS) means messages were dropped, any of which may have called
// for a pass: Lost.
template <typename Judge>
Drain drain(int fd, Judge callsForPass) {
  bool called = false, lost = false;
  for (;;) {
    char message[8192];
    const ssize_t n = ::read(fd, message, sizeof message);
    if (n >= 0) {
      called = callsForPass(std::string_view(message, static_cast<std::size_t>(n))) || called;
    } else if (errno == ENOBUFS) {
      lost = true;
    } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
      return lost ? Drain::Lost : called ? Drain::PassCalledFor : Drain::Quiet;
    } else if (errno != EINTR) {
      return Drain::Failed;
    }
  }
}

// Whether a batch of inotify events says that the watch itself has ended (IN_IGNORED: the
// folder was removed or its file system unmounted).
bool watchEnded(std::string_view batch) {
  for (std::size_t at = 0; at + sizeof(inotify_event) <= batch.size();) {
    inotify_event event;
    batch.copy(reinterpret_cast<char*>(&event), sizeof event, at);
    if (event.mask & IN_IGNORED) return true;
    at += sizeof event + event.len;
  }
  return false;
}

Fd watchSettings() {
  Fd watch(::inotify_init1(IN_CLOEXEC | IN_NONBLOCK));
  if (watch && ::inotify_add_watch(watch.get(), HALVORSTEN_SETTINGS_NOTICES,
                                   IN_CLOSE_WRITE | IN_MOVED_TO) < 0) {
    watch.reset();
  }
  return watch;
}

}  // namespace

PowerEvents* createPowerEvents(const PowerEventCallbacks& callbacks, void* context) {
  Fd uevents(
      ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_KOBJECT_UEVENT));
  if (!uevents) return nullptr;
  sockaddr_nl address{};
  address.nl_family = AF_NETLINK;
  address.nl_groups = kKernelEvents;
  if (::bind(uevents.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    return nullptr;
  }
  return new PowerEvents{std::move(uevents), watchSettings(), callbacks, context, {}};
}

// The kernel's queue tells of its own overruns (ENOBUFS), so lost notices are always seen.
Watches watches(const PowerEvents* events) { return {static_cast<bool>(events->settings), true}; }

// Both sources are watched from creation on; the loop is the poll below.
void addToCurrentLoop(PowerEvents*) {}

void armTimer(PowerEvents* events, long delayMs) { events->timerDueMs = monotonicMs() + delayMs; }

void disarmTimer(PowerEvents* events) { events->timerDueMs = -1; }

void runCurrentLoop(PowerEvents* events) {
  for (;;) {
    // poll skips a negative descriptor: without the settings' watch, only uevents are watched.
    pollfd watched[] = {{events->uevents.get(), POLLIN, 0}, {events->settings.get(), POLLIN, 0}};
    const int timeoutMs = pollTimeoutMs(events->timerDueMs, monotonicMs());
    // A descriptor poll cannot watch any more is gone for good; waking on it again would spin.
    if (retryOnEintr([&] { return ::poll(watched, 2, timeoutMs); }) < 0 ||
        ((watched[0].revents | watched[1].revents) & POLLNVAL)) {
      return;
    }
    // Without the settings' watch, every power supply's uevent runs a pass, level ticks
    // included, so that a switch-on on battery is still seen at the next one.
    SupplyMemory* const supplies = events->settings ? &events->supplies : nullptr;
    const Drain power = drain(watched[0].fd, [&](std::string_view event) {
      return mayChangePowerSource(event, supplies);
    });
    // Any notice in the folder is a change of the settings; the watch's own end counts as one,
    // after which the watch is gone.
    bool watchGone = false;
    const Drain settings = events->settings ? drain(watched[1].fd,
                                                    [&](std::string_view batch) {
                                                      watchGone = watchGone || watchEnded(batch);
                                                      return true;
                                                    })
                                            : Drain::Quiet;
    if (watchGone) {
      events->settings.reset();
      events->callbacks.watchesChanged(events->context, watches(events));
    }
    if (power == Drain::Failed || (settings == Drain::Failed && !watchGone)) return;
    // What was lost may have been anything: its pass answers whatever came with it.
    if (power == Drain::Lost) {
      events->callbacks.noticesLost(events->context);
    } else if (power == Drain::PassCalledFor) {
      events->callbacks.powerSourceChanged(events->context);
    } else if (settings == Drain::PassCalledFor) {
      events->callbacks.settingsChanged(events->context);
    }
    if (events->timerDueMs >= 0 && monotonicMs() >= events->timerDueMs) {
      events->timerDueMs = -1;
      events->callbacks.timerFired(events->context);
    }
  }
}

void releasePowerEvents(PowerEvents* events) { delete events; }

}  // namespace halvorsten
