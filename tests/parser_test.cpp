// Reading pmset's report: the parser's answers, and the Unicode underneath it checked against
// the Unicode Consortium's own test file. Lines, words and the name are user-perceived
// characters, so marks, joiners and CR LF pairs decide cases a byte-wise reading gets wrong.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "settings/sleep_setting.h"
#include "settings/unicode.h"

namespace halvorsten::unicode {
namespace {

constexpr std::optional<bool> T = true, F = false, kAbsent = std::nullopt;

TEST(ReportTest, Answers) {
  const std::pair<std::string, std::optional<bool>> rows[] = {
      {"System-wide power settings:\n SleepDisabled\t\t1\nCurrently in use:\n standby  1\n", T},
      {"System-wide power settings:\n SleepDisabled\t\t0\n", F},
      {"Currently in use:\n standby 1\n hibernatemode 3\n", kAbsent},
      {"", kAbsent},
      {"   sLeEpDiSaBlEd\t\t1", T},
      {"SleepDisabled\n", F},  // the name alone is its only word
      {"SleepDisabledNow 1", T},
      {"SleepDisabled 1 (forced)", F},
      {"SleepDisabled1", F},
      {"SleepDisabled 10", F},
      {"SleepDisabled 0\nSleepDisabled 1\n", F},  // the first matching line decides
      {"x SleepDisabled 1", kAbsent},
      {"\n\n SleepDisabled 1\n\n", T},
      // CR LF is one character, not a line feed: such a report is one long line.
      {" SleepDisabled\t\t1\r\n standby 0\r\n", F},
      {" SleepDisabled\t\t1\r\n", T},
      {"SleepDisabled 1\r", T},
      {"Settings:\r\n\nSleepDisabled 1", T},
      // Trimmed: the tab and the space separators (Zs), nothing else.
      {"\u3000SleepDisabled 1", T},
      {"\vSleepDisabled 1", kAbsent},
      {"\rSleepDisabled 1", kAbsent},
      {"\u2028SleepDisabled 1", kAbsent},
      {"\u200bSleepDisabled 1", kAbsent},
      // Words are separated by White_Space, which is wider than what is trimmed.
      {"SleepDisabled\v1", T},
      {"SleepDisabled\u00851", T},
      {"SleepDisabled\u16801", T},
      {"SleepDisabled\u200b1", F},
      // Marks and joiners belong to the character before them; a prepend to the one after.
      {"SleepDisabled\u0301 1", kAbsent},
      {"SleepDisabled\u0903 1", kAbsent},
      {"SleepDisabled\u200d 1", kAbsent},
      {"SleepDisabled 1\u0301", F},
      {"SleepDisabled 1\u200d", F},
      {"SleepDisabled \u0301 1", T},
      {"SleepDisabled 1 \u0301", T},
      {"SleepDisabled\t\u03011", F},
      {"SleepDisabled\u0600 1", F},
      {"SleepDisabled 1\u0600", F},
      {"SLEEPD\u0130SABLED 1", kAbsent},  // U+0130 lowers to i and a combining dot
      {std::string("SleepDisabled\0 1", 16), T},
      {std::string("SleepDisabled 1\0", 16), F},
      // Malformed UTF-8 anywhere makes the answer absent.
      {"SleepDisabled 1\n\xc0\xaf", kAbsent},
      {"SleepDisabled 1\n\xf4\x8f\xbf\xbf", T},
  };
  for (const auto& [report, expected] : rows) {
    EXPECT_EQ(sleepDisabledFromReport(report), expected) << testing::PrintToString(report);
  }
}

TEST(Utf8Test, DecodesBoundariesAndRefusesMalformedForms) {
  const std::pair<std::string, std::optional<char32_t>> rows[] = {
      {std::string(1, '\0'), 0},
      {"\x7f", 0x7F},
      {"\xc2\x80", 0x80},
      {"\xdf\xbf", 0x7FF},
      {"\xe0\xa0\x80", 0x800},
      {"\xed\x9f\xbf", 0xD7FF},
      {"\xee\x80\x80", 0xE000},
      {"\xef\xbf\xbf", 0xFFFF},
      {"\xf0\x90\x80\x80", 0x10000},
      {"\xf4\x8f\xbf\xbf", 0x10FFFF},
      {"\xc0\x80", {}},  // overlong forms, from here on
      {"\xc1\xbf", {}},
      {"\xe0\x9f\xbf", {}},
      {"\xf0\x8f\xbf\xbf", {}},
      {"\xed\xa0\x80", {}},  // surrogates
      {"\xed\xbf\xbf", {}},
      {"\xf4\x90\x80\x80", {}},  // beyond U+10FFFF
      {"\xf5\x80\x80\x80", {}},
      {"\xff", {}},
      {"\xe2\x80", {}},  // cut short or stray
      {"\xe2\x28\xa1", {}},
      {"\x80", {}},
  };
  for (const auto& [bytes, expected] : rows) {
    std::size_t pos = 0;
    EXPECT_EQ(decodeUtf8(bytes, pos), expected) << testing::PrintToString(bytes);
    EXPECT_EQ(pos, expected ? bytes.size() : 0);
  }
}

// The parser turns a line away early unless it starts with the name's letters as ASCII, which
// holds only while no other code point lowers to a lone letter of the name.
TEST(LowerCaseTest, OnlyAsciiLowersToALoneLetterOfTheName) {
  for (char32_t c = 0x80; c <= 0x10FFFF; ++c) {
    char32_t out[3];
    const std::size_t n = toLower(c, out);
    if (std::u32string_view(U"sleepdisabled").find(out[0]) == std::u32string_view::npos) continue;
    GraphemeBreaker breaker;
    breaker.breaksBefore(out[0]);
    EXPECT_TRUE(n > 1 && !breaker.breaksBefore(out[1])) << std::hex << static_cast<unsigned>(c);
  }
}

// Lines of GraphemeBreakTest.txt: "÷ 0020 × 0308 ÷ 000D ÷ # comment".
TEST(GraphemeBreakTest, AgreesWithTheUnicodeTestFile) {
  std::ifstream file("/usr/share/unicode/auxiliary/GraphemeBreakTest.txt");
  // Under CI a missing file fails the test, so that a machine without it cannot pass silently.
  if (!file && std::getenv("CI")) FAIL() << "GraphemeBreakTest.txt missing: needs unicode-data";
  if (!file) GTEST_SKIP() << "GraphemeBreakTest.txt missing: install Debian's unicode-data";
  int checked = 0;
  for (std::string line; std::getline(file, line);) {
    std::istringstream in(line.substr(0, line.find('#')));
    std::string expected, actual;  // "÷" or "×" before each code point
    GraphemeBreaker breaker;
    for (std::string token, mark; in >> token;) {
      if (token == "\u00f7" || token == "\u00d7") {
        mark = token;
      } else {
        expected += mark;
        actual += breaker.breaksBefore(std::stoul(token, nullptr, 16)) ? "\u00f7" : "\u00d7";
      }
    }
    EXPECT_EQ(actual, expected) << line;
    checked += !expected.empty();
  }
  EXPECT_GT(checked, 500);  // the 15.0 file has 602
}

}  // namespace
}  // namespace halvorsten::unicode
