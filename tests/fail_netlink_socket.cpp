// Preloaded into the service to make its notification source impossible to create: every
// netlink socket is refused, every other socket is made as usual.
#include <dlfcn.h>
#include <sys/socket.h>

#include <cerrno>

extern "C" int socket(int domain, int type, int protocol) {
  if (domain == AF_NETLINK) {
    errno = EACCES;
    return -1;
  }
  using Socket = int (*)(int, int, int);
  static const Socket real = reinterpret_cast<Socket>(::dlsym(RTLD_NEXT, "socket"));
  return real(domain, type, protocol);
}
