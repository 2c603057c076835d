// The seam to the system's own log, where a Mac's people and its support tools look first:
// every line of the activity log is sent there too, without a timestamp (the system adds its
// own). One implementation per platform: system_log_macos.cpp (the unified log, subsystem
// "com.quorvani.halvorsten", category "service") and system_log_linux.cpp (syslog, facility
// daemon, which the journal takes in).
#pragma once

#include <string_view>

namespace halvorsten {

// Sends `message` to the system's log: at its default level, or at its error level when
// `failure`. Never fails towards its caller, and depends on nothing the activity log's file
// needs: a line the file cannot take still arrives here.
void logToSystem(std::string_view message, bool failure);

// Sends `message` to the system's log at its debug level, under a category of its own
// ("events"): what woke the service, and what each pass found. The unified log keeps none of it
// unless someone asks (`log stream --level debug`, or `log config`), and then this costs a
// check of a flag; the activity log's file never sees it.
void logDebug(std::string_view message);

}  // namespace halvorsten
