// The system-wide sleep-prevention setting ("disablesleep"), read and switched off through the
// platform's power-management tool, run as a child process. The setting belongs to the
// platform; nothing here keeps any of it between calls.
#pragma once

#include <optional>
#include <string_view>

namespace halvorsten {

// The power-management tool, at its fixed place; no search path is ever consulted. A test
// build points it elsewhere at compile time.
#ifndef HALVORSTEN_PMSET
#define HALVORSTEN_PMSET "/usr/bin/pmset"
#endif
inline constexpr char kPmsetPath[] = HALVORSTEN_PMSET;

// Every run of the tool is watched for at most ten seconds of the time the machine is awake
// and a mebibyte of output; past either it is stopped, with whatever it started, and counts as
// failed. A run that fails that way, a query whose tool cannot start or ends badly, and a report
// that is not UTF-8 are logged, each once until a run goes well again.

// What the settings report says of the setting. Off and NeverSet (pmset prints the line only
// once the setting was ever stored) are answers only from a report read whole from a run that
// exited 0; On is taken from any report read whole, since acting on it is checked anyway.
// Unknown: the tool could not be started or was stopped, or the report was not UTF-8, or the run
// ended badly without saying the setting is on.
enum class Setting { On, Off, NeverSet, Unknown };

// Reads the setting from the tool's settings report ("pmset -g"). Blocks until the tool has
// ended. `tool` is the tool's path; every caller but a test leaves it at the fixed place.
Setting sleepDisabled(const char* tool = kPmsetPath);

// Switches the setting off for every power source ("pmset -a disablesleep 0"). True only when
// the tool exited normally with status 0 and a fresh query then reads the setting off: the tool
// also exits 0 when it could not make the change, and a program may switch the setting on again
// at any moment. Logs one line when the tool cannot be started. Blocks until the tool has ended.
bool clearDisableSleep(const char* tool = kPmsetPath);

// Asks the system to sleep now ("pmset sleepnow"). True when the tool exited normally with
// status 0; a refusal is asked again, up to five times in all with growing pauses between, about
// two seconds together. Logs one line when the tool cannot be started, and then does not ask
// again, nor after a run that was stopped. Blocks until the last run of the tool has ended.
bool requestSleep(const char* tool = kPmsetPath);

// The answer of sleepDisabled for a given report: the bytes are first decoded as strict UTF-8
// (nothing when that fails), then the first line that, trimmed and lower-cased, begins with
// "sleepdisabled" decides: true exactly when its last word is "1". Nothing when no line does.
// Lines, words and that prefix are taken as user-perceived characters. No side effects.
std::optional<bool> sleepDisabledFromReport(std::string_view report);

}  // namespace halvorsten
