// libFuzzer target over the report decoder and parser: bytes in, answer out. Besides surviving
// every input under the sanitizers, the answer must obey rules that hold for any report:
//   - lines appended after the deciding line never change the answer;
//   - upper-casing the ASCII letters never changes it;
//   - a line that does not begin with the name, put in front, never changes it;
//   - a setting's line that ends in a lone "1" gives true whatever stands before it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "settings/sleep_setting.h"
#include "settings/unicode.h"

namespace {

using halvorsten::sleepDisabledFromReport;

void require(bool holds) {
  if (!holds) std::abort();
}

// The input's first line (up to the first line feed) and the rest.
std::pair<std::string_view, std::string_view> firstLine(std::string_view text) {
  const std::size_t end = text.find('\n');
  if (end == std::string_view::npos) return {text, {}};
  return {text.substr(0, end), text.substr(end + 1)};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::optional<bool> answer = sleepDisabledFromReport(input);
  if (!halvorsten::unicode::validUtf8(input)) {
    require(!answer);
    return 0;
  }

  // The first line of the input serves as material for the other three rules.
  const auto [line, rest] = firstLine(input);

  // A CR at the end would pair with the joining line feed into one character.
  if (answer && !input.empty() && input.back() != '\r') {
    require(sleepDisabledFromReport(std::string(input) + "\n" + std::string(line)) == answer);
  }

  std::string upper(input);
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  require(sleepDisabledFromReport(upper) == answer);

  if (!sleepDisabledFromReport(line) && (line.empty() || line.back() != '\r')) {
    require(sleepDisabledFromReport(std::string(line) + "\n" + std::string(rest)) ==
            sleepDisabledFromReport(rest));
  }

  // A tab stands alone as a character (a control), so it always separates: the name stays
  // whole before it and the "1" stands alone after it.
  require(sleepDisabledFromReport("SleepDisabled\t" + std::string(line) + "\t1") == true);
  return 0;
}
