// macOS backend of the spawn seam:
// - with POSIX_SPAWN_CLOEXEC_DEFAULT the child keeps only the descriptors that a file action
//   names. Standard output and error are redirected by actions already; standard input is
//   inherited as it is, so it is named here;
// - one kqueue watches the child's exit, its output and the deadline together.
#include <sys/event.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/fd.h"
#include "platform/spawn.h"

namespace halvorsten {

int keepOnlyStandardDescriptors(posix_spawnattr_t* attributes,
                                posix_spawn_file_actions_t* actions) {
  short flags = 0;
  if (const int error = posix_spawnattr_getflags(attributes, &flags)) return error;
  if (const int error = posix_spawnattr_setflags(
          attributes, static_cast<short>(flags | POSIX_SPAWN_CLOEXEC_DEFAULT))) {
    return error;
  }
  return posix_spawn_file_actions_addinherit_np(actions, STDIN_FILENO);
}

namespace {

// Adds or removes one filter of `queue`; false, with errno set, when the kernel refuses.
bool change(int queue, uintptr_t ident, short filter, unsigned short flags, unsigned fflags,
            intptr_t data) {
  struct kevent event;
  EV_SET(&event, ident, filter, flags, fflags, data, nullptr);
  return ::kevent(queue, &event, 1, nullptr, 0, nullptr) == 0;
}

}  // namespace

ChildEnd watchChild(pid_t child, int output, std::string* text, std::size_t capBytes,
                    int deadlineMs) {
  const Fd queue(::kqueue());
  if (!queue || !setCloseOnExec(queue.get())) return ChildEnd::Failed;
  // A timer counts in milliseconds unless told otherwise, on mach absolute time, which stands
  // still while the Mac sleeps unless NOTE_MACH_CONTINUOUS_TIME is asked for (xnu,
  // bsd/kern/kern_event.c, filt_timervalidate).
  if (!change(queue.get(), 0, EVFILT_TIMER, EV_ADD | EV_ONESHOT, 0, deadlineMs))
    return ChildEnd::Failed;
  // The exit filter sees only an exit that comes after it is attached (filt_procattach), and
  // a child that has ended already may not be found at all (ESRCH): waitid without reaping
  // tells of one that ended first.
  bool ended = false;
  if (!change(queue.get(), static_cast<uintptr_t>(child), EVFILT_PROC, EV_ADD | EV_ONESHOT,
              NOTE_EXIT, 0)) {
    if (errno != ESRCH) return ChildEnd::Failed;
    ended = true;
  }
  siginfo_t gone{};
  ended = ended ||
          (::waitid(P_PID, static_cast<id_t>(child), &gone, WEXITED | WNOHANG | WNOWAIT) == 0 &&
           gone.si_pid == child);
  bool drained = output < 0;
  if (!drained && !change(queue.get(), static_cast<uintptr_t>(output), EVFILT_READ, EV_ADD, 0, 0))
    return ChildEnd::Failed;
  while (!ended || !drained) {
    struct kevent news;
    const int got = ::kevent(queue.get(), nullptr, 0, &news, 1, nullptr);
    if (got < 0 && errno != EINTR) return ChildEnd::Failed;
    if (got <= 0) continue;
    if (news.filter == EVFILT_TIMER) return ChildEnd::TimedOut;
    if (news.filter == EVFILT_PROC) ended = true;
    if (news.filter != EVFILT_READ) continue;
    if (const std::optional<ChildEnd> end = takeOutput(output, *text, capBytes, drained))
      return *end;
    // At end of file the filter would report the same for ever.
    if (drained) change(queue.get(), static_cast<uintptr_t>(output), EVFILT_READ, EV_DELETE, 0, 0);
  }
  return ChildEnd::Ended;
}

}  // namespace halvorsten
