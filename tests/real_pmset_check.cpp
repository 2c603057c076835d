// The service's own commands against the real /usr/bin/pmset, as root on a Mac. The Mac check
// (scripts/check-on-mac) runs it while no daemon is installed, so that the two never race.
// Leaves sleep prevention off; exit status 0 when every check held.
#include <cstdio>
#include <cstdlib>

#include "settings/sleep_setting.h"

int main() {
  using halvorsten::sleepDisabled;
  int failed = 0;
  const auto check = [&](bool holds, const char* what) {
    std::printf("%s: %s\n", holds ? "ok" : "FAILED", what);
    failed += !holds;
  };
  check(std::system("/usr/bin/pmset -a disablesleep 1") == 0, "pmset -a disablesleep 1");
  check(sleepDisabled() == true, "with the setting on, the real report answers true");
  check(halvorsten::clearDisableSleep(), "clearDisableSleep() switches it off");
  const std::optional<bool> after = sleepDisabled();
  check(after != true, "with the setting off, the real report does not answer true");
  std::printf("  (it answers %s)\n", !after ? "nothing" : *after ? "true" : "false");
  (void)std::system("/usr/bin/pmset -a disablesleep 0");
  return failed == 0 ? 0 : 1;
}
