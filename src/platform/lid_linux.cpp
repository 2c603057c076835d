// Linux backend of the lid seam: the ACPI lid button, whose "state" file reads
// "state:      closed" or "state:      open". The button tells only whether the lid is closed,
// so on Linux a closed lid is the whole answer.
#include <algorithm>
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
    value.remove_prefix(std::min(value.find_first_not_of(" \t"), value.size()));
    closed = closed || value == "closed";
  });
  return closed;
}

bool closedLidShouldSleep() { return lidClosedIn(HALVORSTEN_LID); }

}  // namespace halvorsten
