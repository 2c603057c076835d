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
  using halvorsten::Setting, halvorsten::sleepDisabled;
  int failed = 0;
  const auto check = [&](bool holds, const char* what) {
    std::printf("%s: %s\n", holds ? "ok" : "FAILED", what);
    failed += !holds;
  };
  const std::string source = halvorsten::providingPowerSourceType(false).value_or("(none)");
  const std::string powerd = halvorsten::providingPowerSourceType(true).value_or("(none)");
  std::printf("closed lid should sleep: %d; power source: %s; after lost notices: %s\n",
              halvorsten::closedLidShouldSleep(), source.c_str(), powerd.c_str());
  check(source == "AC Power" || source == "Battery Power" || source == "UPS Power", "its name");
  check((source == "Battery Power") == (powerd == "Battery Power"), "both readings agree");

  const Setting found = sleepDisabled();
  const char* const names[] = {"on", "off", "never set", "unknown"};
  std::printf("sleep prevention found: %s\n", names[static_cast<int>(found)]);
  check(found != Setting::Unknown, "the real report is read whole");
  check(std::system("/usr/bin/pmset -a disablesleep 1") == 0, "pmset -a disablesleep 1");
  check(sleepDisabled() == Setting::On, "with the setting on, the real report says on");
  check(halvorsten::clearDisableSleep(), "clearDisableSleep() switches it off");
  // pmset prints the line whenever the key is stored (pmset.m, show_system_power_settings).
  check(sleepDisabled() == Setting::Off, "with the setting off, the real report says off");
  if (found == Setting::On)
    check(std::system("/usr/bin/pmset -a disablesleep 1") == 0, "put back on");
  return failed == 0 ? 0 : 1;
}
