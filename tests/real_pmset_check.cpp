// The service's own readings and commands on a real Mac, as root: the two IOKit readers, and
// the query and clear against the real /usr/bin/pmset. The Mac check (scripts/check-on-mac) runs
// it while no daemon is installed, so that the two never race. Puts the setting back as it found
// it; exit status 0 when every check held.
#include <cstdio>
#include <cstdlib>

#include "platform/lid.h"
#include "platform/power_source.h"
#include "settings/sleep_setting.h"

int main() {
  using halvorsten::sleepDisabled;
  int failed = 0;
  const auto check = [&](bool holds, const char* what) {
    std::printf("%s: %s\n", holds ? "ok" : "FAILED", what);
    failed += !holds;
  };
  const std::string source = halvorsten::providingPowerSourceType().value_or("(none)");
  std::printf("closed lid should sleep: %d; power source: %s\n", halvorsten::closedLidShouldSleep(),
              source.c_str());
  check(source == "AC Power" || source == "Battery Power" || source == "UPS Power", "its name");

  const std::optional<bool> found = sleepDisabled();
  std::printf("sleep prevention found: %s\n", !found ? "never set" : *found ? "on" : "off");
  check(std::system("/usr/bin/pmset -a disablesleep 1") == 0, "pmset -a disablesleep 1");
  check(sleepDisabled() == true, "with the setting on, the real report answers true");
  check(halvorsten::clearDisableSleep(), "clearDisableSleep() switches it off");
  // pmset prints the line whenever the key is stored (pmset.m, show_system_power_settings).
  check(sleepDisabled() == false, "with the setting off, the real report answers false");
  if (found == true) check(std::system("/usr/bin/pmset -a disablesleep 1") == 0, "put back on");
  return failed == 0 ? 0 : 1;
}
