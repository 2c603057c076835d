#include "activitylog/activity_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/fd.h"
#include "platform/system_log.h"

namespace halvorsten {

std::string logURL;

std::string logLine(std::string_view message, std::time_t when) {
  std::tm utc{};
  char stamp[sizeof "YYYY-MM-DDTHH:MM:SSZ"] = "";
  if (::gmtime_r(&when, &utc)) std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", &utc);
  std::string line;
  line.reserve(sizeof stamp + message.size() + 3);
  line.append("[").append(stamp).append("] ").append(message).append("\n");
  return line;
}

namespace {

void appendToFile(std::string_view message) {
  const std::string line = logLine(message, std::time(nullptr));
  // O_APPEND puts every write at the end, even when another process appends meanwhile, and
  // O_CREAT without O_TRUNC never destroys what is there. O_NOFOLLOW refuses a symbolic link
  // and O_NONBLOCK keeps a FIFO from stalling the service; fstat then refuses anything but a
  // plain file of its own.
  const Fd fd(retryOnEintr([&] {
    return ::open(logURL.c_str(),
                  O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0644);
  }));
  struct stat st;
  if (!fd || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1) return;
  for (std::string_view rest = line; !rest.empty();) {
    const ssize_t n = retryOnEintr([&] { return ::write(fd.get(), rest.data(), rest.size()); });
    if (n <= 0) return;
    rest.remove_prefix(static_cast<std::size_t>(n));
  }
}

}  // namespace

void log(std::string_view message) {
  appendToFile(message);
  logToSystem(message, false);
}

void logFailure(std::string_view message) {
  appendToFile(message);
  logToSystem(message, true);
}

}  // namespace halvorsten
