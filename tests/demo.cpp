// A few seconds of the service's life on a simulated Mac, narrated: it starts on mains power,
// someone switches sleep prevention on, the adapter is pulled, and the service steps in.
#include <cstdio>
#include <string>

#include "simulated_mac.h"

namespace {

using halvorsten::test::SimulatedMac;

void show(const SimulatedMac& mac, const char* step) {
  std::printf("\n== %s\n", step);
  std::printf("   sleep prevention (disablesleep): %s\n", mac.sleepPrevention() ? "on" : "off");
  std::printf("   %s:\n", mac.logPath().c_str());
  for (const std::string& line : halvorsten::test::readLines(mac.logPath())) {
    std::printf("     %s\n", line.c_str());
  }
}

}  // namespace

int main() {
  std::string why;
  if (!halvorsten::test::enterPrivateNamespaces(why)) {
    std::fprintf(stderr, "demo: cannot simulate power events here: %s\n", why.c_str());
    return 1;
  }
  SimulatedMac mac;
  mac.start();
  if (!mac.waitStarted()) {
    std::fprintf(stderr, "demo: the service did not start\n");
    return 1;
  }
  show(mac, "The service starts on mains power: nothing to do");

  mac.setSleepPrevention(true);
  show(mac, "Someone runs 'pmset -a disablesleep 1': on mains the service leaves it alone");

  mac.unplug();
  mac.waitIdle();
  show(mac, "The adapter is pulled: the service switches sleep prevention off");

  mac.plugIn();
  mac.waitIdle();
  show(mac, "The adapter is back: nothing to do");
  std::printf("\n");
  return 0;
}
