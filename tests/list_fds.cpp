// Prints the descriptors this process holds, e.g. "0 1 2". The stand-in pmset runs it, so
// that a test sees exactly which descriptors the service handed to its child. It opens
// nothing itself.
#include <fcntl.h>

#include <cstdio>

int main() {
  const char* separator = "";
  for (int fd = 0; fd < 1024; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1) {
      std::printf("%s%d", separator, fd);
      separator = " ";
    }
  }
  std::printf("\n");
}
