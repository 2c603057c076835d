// Small POSIX helpers shared by every part of the service: an owned file descriptor, the
// retry that every blocking call needs when a signal interrupts it, and the clock that
// deadlines are measured on.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

namespace halvorsten {

// Owns one file descriptor and closes it exactly once.
class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  Fd(Fd&& other) noexcept : fd_(other.release()) {}
  Fd& operator=(Fd&& other) noexcept {
    reset(other.release());
    return *this;
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() { reset(); }

  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
  // Not retried on EINTR: the descriptor is gone whatever close reports, and a second close
  // could hit a descriptor that has been reused meanwhile.
  void reset(int fd = -1) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }

 private:
  int fd_ = -1;
};

// Calls `call` until it is not interrupted by a signal; returns its last result.
template <typename Call>
auto retryOnEintr(Call call) {
  decltype(call()) result;
  do {
    result = call();
  } while (result == -1 && errno == EINTR);
  return result;
}

// Marks a descriptor close-on-exec, for calls that cannot create it so (pipe). Every child the
// service starts is started from its main thread, where this runs too; the only other threads
// (libdispatch's, on macOS) run Libnotify's own code, which starts none. So no child can be
// started between creation and this call.
inline bool setCloseOnExec(int fd) {
  const int flags = ::fcntl(fd, F_GETFD);
  return flags != -1 && ::fcntl(fd, F_SETFD, flags | FD_CLOEXEC) != -1;
}

// Milliseconds on a clock that only ever moves forward, for measuring how long is left.
inline long long monotonicMs() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / (1000 * 1000);
}

}  // namespace halvorsten
