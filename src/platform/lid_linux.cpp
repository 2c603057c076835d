// Linux backend of the lid seam: the ACPI lid button, whose "state" file reads
// "state:      closed" or "state:      open". Linux has no notion of a closed lid that should
// not sleep the machine, so a closed lid is the whole answer.
#include <string_view>

#include "platform/lid.h"
#include "platform/readings_linux.h"

// The ACPI lid buttons' folder; a test build points it elsewhere at compile time.
#ifndef HALVORSTEN_LID
#define HALVORSTEN_LID "/proc/acpi/button/lid"
#endif

namespace halvorsten {

bool lidClosedIn(const char* folder) {
  bool closed = false;
  forEachDevice(folder, [&](int lid) {
    const std::optional<std::string> state = attribute(lid, "state");
    if (!state || state->rfind("state:", 0) != 0) return;
    std::string_view value = std::string_view(*state).substr(6);
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
    closed = closed || value == "closed";
  });
  return closed;
}

bool closedLidShouldSleep() { return lidClosedIn(HALVORSTEN_LID); }

}  // namespace halvorsten
