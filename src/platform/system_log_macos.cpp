// macOS backend of the system-log seam: the unified log, seen in Console, `log stream`,
// `log show` and sysdiagnose. One log object a category for the process, never released, as the
// unified log intends. The message is marked public: it names no person and holds nothing private,
// and a private one would read "<private>" everywhere but on the Mac itself.
#include <os/log.h>

#include <string>

#include "platform/system_log.h"

namespace halvorsten {

void logToSystem(std::string_view message, bool failure) {
  static const os_log_t service = os_log_create("com.quorvani.halvorsten", "service");
  const std::string text(message);
  os_log_with_type(service, failure ? OS_LOG_TYPE_ERROR : OS_LOG_TYPE_DEFAULT, "%{public}s",
                   text.c_str());
}

void logDebug(std::string_view message) {
  static const os_log_t events = os_log_create("com.quorvani.halvorsten", "events");
  if (!os_log_debug_enabled(events)) return;  // nobody asked: not even the copy below
  const std::string text(message);
  os_log_debug(events, "%{public}s", text.c_str());
}

}  // namespace halvorsten
