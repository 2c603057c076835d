// Linux backend of the system-log seam: syslog(3), facility daemon, whose socket glibc opens
// close-on-exec at the first line and opens again if it was lost; a line is dropped when no
// one listens at /dev/log.
#include <syslog.h>

#include <string>

#include "platform/system_log.h"

namespace halvorsten {
namespace {

// Names the service, its process and its facility once, before the first line.
struct Opened {
  Opened() { ::openlog("halvorsten", LOG_PID, LOG_DAEMON); }
};

}  // namespace

void logToSystem(std::string_view message, bool failure) {
  static const Opened opened;
  ::syslog(failure ? LOG_ERR : LOG_NOTICE, "%s", std::string(message).c_str());
}

}  // namespace halvorsten
