// Builds one report in memory and parses it once, for callgrind to count the parser's
// instructions (bench/run collects only inside sleepDisabledFromReport).
//   parse_driver KIND BYTES
// KIND: realistic (pmset's report, padded with its settings lines, the setting's line last),
// huge-line (one line of letters), empty-lines (line feeds only), near-misses (lines of the
// name's first twelve letters).
#include <cstdio>
#include <cstdlib>
#include <string>

#include "settings/sleep_setting.h"

int main(int argc, char* argv[]) {
  if (argc != 3) return 2;
  const std::string kind = argv[1];
  const std::size_t bytes = std::strtoull(argv[2], nullptr, 10);
  std::string report;
  report.reserve(bytes + 64);
  if (kind == "realistic") {
    report = "System-wide power settings:\nCurrently in use:\n";
    const char* lines[] = {
        " standby              1\n", " hibernatefile        /var/vm/sleepimage\n",
        " powernap             1\n", " disksleep            10\n",
        " hibernatemode        3\n", " displaysleep         10\n"};
    for (std::size_t i = 0; report.size() < bytes - 20; ++i) report += lines[i % 6];
    report += " SleepDisabled\t\t1\n";
  } else if (kind == "huge-line") {
    report.assign(bytes, 'x');
  } else if (kind == "empty-lines") {
    report.assign(bytes, '\n');
  } else if (kind == "near-misses") {
    while (report.size() + 13 <= bytes) report += "sleepdisable\n";
  } else {
    return 2;
  }
  const std::optional<bool> answer = halvorsten::sleepDisabledFromReport(report);
  std::printf("%s %zu bytes: %s\n", kind.c_str(), report.size(),
              answer ? (*answer ? "true" : "false") : "absent");
  return 0;
}
