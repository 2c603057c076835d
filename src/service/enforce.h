// The enforcement pass: the one decision the service exists to make.
#pragma once

#include "service/machine.h"

namespace halvorsten {

// What a pass found and did. Only two outcomes are verified: nothing to clear (off battery, or
// the setting read off or never set from a whole report), and a clear seen to hold. The others
// are tried again: a clear that failed or did not hold, and a pass that could not tell (the
// power source or the setting could not be read).
enum class PassOutcome { NothingToClear, Cleared, ClearFailed, CouldNotTell };

// One pass: when the machine runs from its battery and the sleep-prevention setting is on,
// switch the setting off and log the intention and the outcome; after a clear, when the lid is
// closed and a closed lid should sleep the machine, ask the system to sleep and log that. Keeps
// no state between passes, never fails towards its caller, and on mains power starts no
// process and writes nothing. Blocks while pmset runs. `afterLostNotices` is handed to the
// reading of the power source.
PassOutcome enforce(const Machine& machine, bool afterLostNotices);

}  // namespace halvorsten
