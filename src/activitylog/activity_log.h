// The activity log: a plain-text file of timestamped lines, each also sent to the system's
// log; the service's only output.
#pragma once

#include <ctime>
#include <string>
#include <string_view>

namespace halvorsten {

// Path of the activity log. Set once at start-up, before the first line is written.
extern std::string logURL;

// Appends "[<UTC time>] <message>\n" to the file at logURL, creating it (mode 0644) when it is
// missing, and sends the message to the system's log as well, at its default level. Never
// fails towards the caller: a line that cannot be written is lost silently, in one place or
// both. The file is only ever appended to, and only when it is a regular file with a single
// link, so nothing planted at the path (a symbolic or hard link, a FIFO, a directory) can
// redirect or block the write.
void log(std::string_view message);

// The same for a failure: the system's log takes it at its error level.
void logFailure(std::string_view message);

// The line for `message` at `when`: "[YYYY-MM-DDTHH:MM:SSZ] message\n", in UTC whatever the
// machine's time zone. The message is written as it is, line feeds included.
std::string logLine(std::string_view message, std::time_t when);

}  // namespace halvorsten
