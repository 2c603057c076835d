// Linux backend of the notification seam: the kernel's uevents over a netlink socket, read
// from a poll loop that sleeps until one arrives. Only privileged processes can send to the
// kernel's multicast group, and an extra pass is harmless, so any sender there is heard.
#include <linux/netlink.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <string_view>

#include "platform/fd.h"
#include "platform/power_notifications.h"

namespace halvorsten {

struct PowerNotifications {
  Fd socket;
  PowerSourceCallback callback;
  void* context;
};

namespace {

constexpr unsigned kKernelEvents = 1;  // the kernel's uevent multicast group

// A uevent is "action@devpath" followed by NUL-terminated KEY=VALUE fields.
bool isPowerSupplyEvent(std::string_view event) {
  for (std::size_t start = 0; start < event.size();) {
    const std::size_t end = std::min(event.find('\0', start), event.size());
    if (event.substr(start, end - start) == "SUBSYSTEM=power_supply") return true;
    start = end + 1;
  }
  return false;
}

enum class Drain { Quiet, PowerChanged, Failed };

// Reads every event already queued. A receive-buffer overflow (ENOBUFS) means events were
// dropped, some of which may have been power-supply changes: that counts as a change.
Drain drain(int socket) {
  bool changed = false;
  for (;;) {
    char event[8192];
    const ssize_t n = ::recv(socket, event, sizeof event, MSG_DONTWAIT);
    if (n >= 0) {
      changed = changed || isPowerSupplyEvent(std::string_view(event, static_cast<std::size_t>(n)));
    } else if (errno == ENOBUFS) {
      changed = true;
    } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
      return changed ? Drain::PowerChanged : Drain::Quiet;
    } else if (errno != EINTR) {
      return Drain::Failed;
    }
  }
}

}  // namespace

PowerNotifications* createPowerNotifications(PowerSourceCallback callback, void* context) {
  Fd socket(::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_KOBJECT_UEVENT));
  if (!socket) return nullptr;
  sockaddr_nl address{};
  address.nl_family = AF_NETLINK;
  address.nl_groups = kKernelEvents;
  if (::bind(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    return nullptr;
  }
  return new PowerNotifications{std::move(socket), callback, context};
}

// The socket is bound from creation on; the loop is the poll below.
void addToCurrentLoop(PowerNotifications*) {}

void runCurrentLoop(PowerNotifications* notifications) {
  pollfd watched{notifications->socket.get(), POLLIN, 0};
  for (;;) {
    // A socket poll cannot watch any more is gone for good; waking on it again would spin.
    if (retryOnEintr([&] { return ::poll(&watched, 1, -1); }) < 0 || (watched.revents & POLLNVAL)) {
      return;
    }
    switch (drain(watched.fd)) {
      case Drain::Quiet:
        break;
      case Drain::PowerChanged:
        notifications->callback(notifications->context);
        break;
      case Drain::Failed:
        return;
    }
  }
}

void releasePowerNotifications(PowerNotifications* notifications) { delete notifications; }

}  // namespace halvorsten
