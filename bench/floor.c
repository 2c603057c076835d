/* The memory floor: a bare program that does nothing but block on a kernel-uevent netlink
   socket, as the idle service does. */
#include <linux/netlink.h>
#include <poll.h>
#include <sys/socket.h>

int main(void) {
  int fd = socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_KOBJECT_UEVENT);
  struct sockaddr_nl address = {.nl_family = AF_NETLINK, .nl_groups = 1};
  if (fd < 0 || bind(fd, (struct sockaddr*)&address, sizeof address) != 0) return 1;
  struct pollfd watched = {fd, POLLIN, 0};
  for (;;) poll(&watched, 1, -1);
}
