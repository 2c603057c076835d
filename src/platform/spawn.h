// The seam to the platform's ways of running a child process: keeping it to its three standard
// descriptors, and watching it until it ends, but not for ever. One implementation per
// platform: spawn_macos.cpp (Darwin's spawn extensions and kqueue) and spawn_linux.cpp (glibc's
// spawn extension and a pidfd with poll).
#pragma once

#include <spawn.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <optional>
#include <string>

#include "platform/fd.h"

namespace halvorsten {

// Sets up `attributes` and `actions`, after every redirection of the standard descriptors has
// been added to `actions` and every other flag set in `attributes`, so that the child starts
// with descriptors 0 to 2 only. Returns 0 or an errno value.
int keepOnlyStandardDescriptors(posix_spawnattr_t* attributes, posix_spawn_file_actions_t* actions);

// How watching a child went.
enum class ChildEnd {
  Ended,         // it ended, and its output (if any) was read to end of file
  TimedOut,      // the deadline came first
  WroteTooMuch,  // its output would have grown beyond the cap
  Failed,        // the platform could not watch it, or its output could not be read
};

// Reads the child's output from `output` (a pipe's read end, or -1 when there is none) into
// `text` until end of file, and waits until `child` has ended: until both have happened, or
// until `deadlineMs` milliseconds have passed on a clock that stands still while the machine
// sleeps (a child may outlive the machine's sleep, which is no hang), or `text` would grow
// beyond `capBytes`. Reaps nothing and stops nothing: the child is the caller's to stop and to
// reap, whatever the answer.
ChildEnd watchChild(pid_t child, int output, std::string* text, std::size_t capBytes,
                    int deadlineMs);

// One read of the child's output for watchChild, once `output` may be read: appends what it
// holds to `text` and goes on (nothing), sets `drained` at end of file and goes on, or ends the
// watch when `text` would grow beyond `capBytes` or the read fails.
inline std::optional<ChildEnd> takeOutput(int output, std::string& text, std::size_t capBytes,
                                          bool& drained) {
  char buffer[64 * 1024];
  const ssize_t n = retryOnEintr([&] { return ::read(output, buffer, sizeof buffer); });
  if (n < 0 && errno != EAGAIN) return ChildEnd::Failed;
  if (n <= 0) {
    drained = n == 0;
    return std::nullopt;
  }
  if (text.size() + static_cast<std::size_t>(n) > capBytes) return ChildEnd::WroteTooMuch;
  text.append(buffer, static_cast<std::size_t>(n));
  return std::nullopt;
}

}  // namespace halvorsten
