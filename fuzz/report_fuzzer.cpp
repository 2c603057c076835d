// libFuzzer target over the report decoder and parser: bytes in, answer out. Besides surviving
// every input under the sanitizers, the answer must obey rules that hold for any report.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "settings/sleep_setting.h"
#include "settings/unicode.h"

using halvorsten::sleepDisabledFromReport;

static void require(bool holds) {
  if (!holds) std::abort();
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const auto answer = sleepDisabledFromReport(input);
  if (!halvorsten::unicode::validUtf8(input)) {
    require(!answer);
    return 0;
  }
  // The input's first line serves as material for the other rules. A CR at a joint would pair
  // with the joining line feed into one character, so such joints are left out.
  const std::size_t end = std::min(input.find('\n'), input.size());
  const std::string line = input.substr(0, end), rest = input.substr(std::min(end + 1, size));
  const bool crAtJoint = !line.empty() && line.back() == '\r';

  // Lines appended after the deciding line never change the answer.
  if (answer && !input.empty() && input.back() != '\r') {
    require(sleepDisabledFromReport(input + "\n" + line) == answer);
  }
  // Upper-casing the ASCII letters never changes it.
  std::string upper = input;
  for (char& c : upper) c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
  require(sleepDisabledFromReport(upper) == answer);
  // A line that is not the setting's, put in front, never changes it.
  if (!sleepDisabledFromReport(line) && !crAtJoint) {
    require(sleepDisabledFromReport(line + "\n" + rest) == sleepDisabledFromReport(rest));
  }
  // A tab always separates (it is a character of its own), so a setting's line ending in a lone
  // "1" gives true whatever stands before it.
  require(sleepDisabledFromReport("SleepDisabled\t" + line + "\t1") == true);
  return 0;
}
