// Linux backend of the system-log seam: the datagram that syslog(3) would send to /dev/log
// (facility daemon, "<PRI>Mmm dd hh:mm:ss halvorsten[PID]: message"), which the journal and
// syslog daemons take in, but sent without ever waiting. syslog(3) blocks while the listener's
// queue is full, and a stalled listener would then stall the service with it; here a line that
// finds the queue full is dropped, as is one sent while nobody listens.
#include <sys/socket.h>
#include <sys/un.h>
#include <syslog.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <string>

#include "platform/fd.h"
#include "platform/system_log.h"

namespace halvorsten {
namespace {

// Connected at the first line, and again after the listener went away (a restarted journal).
Fd listener;

bool connectListener() {
  listener.reset(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::string_view("/dev/log").copy(address.sun_path, sizeof address.sun_path - 1);
  if (listener &&
      ::connect(listener.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    listener.reset();
  }
  return static_cast<bool>(listener);
}

// One datagram at `priority` (of the facility daemon).
void sendDatagram(std::string_view message, int priority) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  char stamp[sizeof "Mmm dd hh:mm:ss"] = "";
  if (::localtime_r(&now, &local)) std::strftime(stamp, sizeof stamp, "%b %e %T", &local);
  char header[64];
  std::snprintf(header, sizeof header, "<%d>%s halvorsten[%ld]: ", LOG_DAEMON | priority, stamp,
                static_cast<long>(::getpid()));
  std::string datagram = header;
  datagram.append(message);
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (!listener && !connectListener()) return;
    if (::send(listener.get(), datagram.data(), datagram.size(), MSG_NOSIGNAL) >= 0 ||
        errno == EAGAIN) {
      return;
    }
    listener.reset();
  }
}

}  // namespace

void logToSystem(std::string_view message, bool failure) {
  sendDatagram(message, failure ? LOG_ERR : LOG_NOTICE);
}

void logDebug(std::string_view message) { sendDatagram(message, LOG_DEBUG); }

}  // namespace halvorsten
