// Reading pmset's settings report. The real tool prints the setting, when it is set, as
// " SleepDisabled\t\t1" under "System-wide power settings:"; the rules below accept that line
// and decide every other text the same way on every run, however odd.
#include <cstddef>
#include <string_view>

#include "settings/sleep_setting.h"
#include "settings/unicode.h"

namespace halvorsten {
namespace {

using unicode::decodeUtf8;

constexpr std::u32string_view kName = U"sleepdisabled";

// Where the line that starts at `start` ends: at the next line feed that stands alone as a
// character. A line feed right after a carriage return is part of a CR LF character, which is
// not a line feed, so a report with CR LF line ends reads as one long line.
std::size_t lineEnd(std::string_view report, std::size_t start) {
  for (std::size_t pos = report.find('\n', start); pos != std::string_view::npos;
       pos = report.find('\n', pos + 1)) {
    if (pos == 0 || report[pos - 1] != '\r') return pos;
  }
  return report.size();
}

// The line without tabs and space separators at either end, one code point at a time.
std::string_view trimmed(std::string_view line) {
  std::size_t first = 0;
  while (first < line.size()) {
    std::size_t next = first;
    if (!unicode::isHorizontalSpace(*decodeUtf8(line, next))) break;
    first = next;
  }
  std::size_t end = line.size();
  while (end > first) {
    std::size_t start = end - 1;
    while ((static_cast<unsigned char>(line[start]) & 0xC0) == 0x80) --start;
    std::size_t next = start;
    if (!unicode::isHorizontalSpace(*decodeUtf8(line, next))) break;
    end = start;
  }
  return line.substr(first, end - first);
}

// A user-perceived character of the lowered line: its first code point and its length.
struct Cluster {
  char32_t first = 0;
  std::size_t length = 0;

  bool is(char32_t c) const { return length == 1 && first == c; }
};

// Follows one lowered line cluster by cluster: whether it begins with the name, and whether
// its last word is exactly "1". A cluster whose first code point is white space separates
// words, together with any marks that it carries.
class LineReading {
 public:
  // False as soon as the line turns out not to begin with the name.
  bool take(const Cluster& c) {
    if (seen_ < kName.size() && !c.is(kName[seen_])) return false;
    ++seen_;
    if (unicode::isWhiteSpace(c.first)) {
      inWord_ = false;
    } else {
      lastWordIsOne_ = !inWord_ && c.is(U'1');
      inWord_ = true;
    }
    return true;
  }

  // The line's answer, or nothing when it does not begin with the name.
  std::optional<bool> answer() const {
    if (seen_ < kName.size()) return std::nullopt;
    return lastWordIsOne_;
  }

 private:
  std::size_t seen_ = 0;
  bool inWord_ = false;
  bool lastWordIsOne_ = false;
};

// Whether the line starts with the name's thirteen letters in any letter case: a condition
// that every line beginning with the name meets, tested cheaply on bytes. Only ASCII letters
// lower-case to the name's letters: the Kelvin sign lowers to "k", which the name lacks, and
// U+0130 to "i" followed by a combining dot, which is not "i" (parser_test checks this over
// every code point).
bool mayBeginWithName(std::string_view line) {
  if (line.size() < kName.size()) return false;
  for (std::size_t i = 0; i < kName.size(); ++i) {
    if ((line[i] | 0x20) != static_cast<char>(kName[i])) return false;
  }
  return true;
}

// The answer of one trimmed line, or nothing when it is not the setting's line. The line is
// lowered and segmented as it is read, and left at the first cluster that departs from the
// name, so no line costs more than one pass over its bytes.
std::optional<bool> readLine(std::string_view line) {
  if (!mayBeginWithName(line)) return std::nullopt;
  unicode::GraphemeBreaker breaker;
  LineReading reading;
  Cluster cluster;
  for (std::size_t pos = 0; pos < line.size();) {
    char32_t lowered[3];
    const std::size_t count = unicode::toLower(*decodeUtf8(line, pos), lowered);
    for (std::size_t i = 0; i < count; ++i) {
      if (breaker.breaksBefore(lowered[i]) && cluster.length > 0) {
        if (!reading.take(cluster)) return std::nullopt;
        cluster = Cluster{};
      }
      if (cluster.length++ == 0) cluster.first = lowered[i];
    }
  }
  if (cluster.length > 0 && !reading.take(cluster)) return std::nullopt;
  return reading.answer();
}

}  // namespace

std::optional<bool> sleepDisabledFromReport(std::string_view report) {
  if (!unicode::validUtf8(report)) return std::nullopt;
  for (std::size_t start = 0; start < report.size();) {
    if (report[start] == '\n') {  // an empty line; a line feed after one never pairs with CR
      ++start;
      continue;
    }
    const std::size_t end = lineEnd(report, start);
    if (const std::optional<bool> answer = readLine(trimmed(report.substr(start, end - start)))) {
      return answer;
    }
    start = end + 1;
  }
  return std::nullopt;
}

}  // namespace halvorsten
