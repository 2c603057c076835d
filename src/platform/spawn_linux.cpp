// Linux backend of the spawn seam: glibc closes every descriptor from 3 on in the child, after
// the redirections; a pidfd tells poll when the child has ended, and poll's timeout runs on
// CLOCK_MONOTONIC, which stands still while the machine is suspended.
#include <poll.h>
#include <sys/syscall.h>

#include "platform/fd.h"
#include "platform/spawn.h"

namespace halvorsten {

int keepOnlyStandardDescriptors(posix_spawnattr_t*, posix_spawn_file_actions_t* actions) {
  return posix_spawn_file_actions_addclosefrom_np(actions, 3);
}

ChildEnd watchChild(pid_t child, int output, std::string* text, std::size_t capBytes,
                    int deadlineMs) {
  // Readable once the child has ended, reaped or not; close-on-exec from birth. Called
  // directly: Debian 12's glibc declares pidfd_open for C only.
  const Fd ended(static_cast<int>(::syscall(SYS_pidfd_open, child, 0)));
  if (!ended) return ChildEnd::Failed;
  const long long dueMs = monotonicMs() + deadlineMs;
  // poll skips a negative descriptor: each is set to -1 once it has told what it had to.
  pollfd watched[] = {{ended.get(), POLLIN, 0}, {output, POLLIN, 0}};
  while (watched[0].fd >= 0 || watched[1].fd >= 0) {
    const long long leftMs = dueMs - monotonicMs();
    const int ready = leftMs > 0 ? ::poll(watched, 2, static_cast<int>(leftMs)) : 0;
    if (ready == 0) return ChildEnd::TimedOut;
    if (ready < 0) {
      if (errno == EINTR) continue;
      return ChildEnd::Failed;
    }
    if (watched[0].revents) watched[0].fd = -1;
    if (watched[1].revents) {
      bool drained = false;
      if (const std::optional<ChildEnd> end = takeOutput(output, *text, capBytes, drained))
        return *end;
      if (drained) watched[1].fd = -1;
    }
  }
  return ChildEnd::Ended;
}

}  // namespace halvorsten
