// The enforcement pass: the one decision the service exists to make.
#pragma once

#include <optional>
#include <string>

namespace halvorsten {

// What a pass found and did: nothing to clear (off battery, the setting off, or no answer), or
// the setting on, and then cleared, or a clear that failed.
enum class PassOutcome { NothingToClear, Cleared, ClearFailed };

// One pass: when the machine runs from its battery and the sleep-prevention setting is on,
// switch the setting off and log the intention and the outcome; after a clear, when the lid is
// closed and a closed lid should sleep the machine, ask the system to sleep and log that. Keeps
// no state between passes, never fails towards its caller, and on mains power starts no
// process and writes nothing. Blocks while pmset runs.
PassOutcome enforce();

// The same pass for a power-source type already read from the platform, the tool at `tool`
// and the lid as `lidShouldSleep` tells of it: the seam through which tests drive the
// decision. The lid is asked only after a clear that worked.
PassOutcome enforce(const std::optional<std::string>& powerSourceType, const char* tool,
                    bool (*lidShouldSleep)());

}  // namespace halvorsten
