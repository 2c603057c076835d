// What the report parser answers, for the real tool's report and for every odd text that can
// stand in its place. Lines, words and the name are user-perceived characters, so marks,
// joiners and CR LF pairs decide cases that a byte-wise reading would get wrong.
#include <gtest/gtest.h>

#include <cctype>
#include <optional>
#include <string>

#include "settings/sleep_setting.h"

namespace halvorsten {
namespace {

constexpr std::optional<bool> kAbsent = std::nullopt;

struct Case {
  const char* name;
  std::string report;
  std::optional<bool> expected;
};

const Case kCases[] = {
    // The real tool's shape.
    {"real report, on",
     "System-wide power settings:\n SleepDisabled\t\t1\nCurrently in use:\n standby  1\n", true},
    {"real report, off", "System-wide power settings:\n SleepDisabled\t\t0\n", false},
    {"no line for the setting", "Currently in use:\n standby 1\n hibernatemode 3\n", kAbsent},
    {"empty report", "", kAbsent},
    {"only line feeds", "\n\n\n", kAbsent},
    {"mixed case, leading blanks, two tabs", "   sLeEpDiSaBlEd\t\t1", true},
    {"the name alone", "SleepDisabled\n", false},
    {"the name with further letters", "SleepDisabledNow 1", true},
    {"a trailing comment word", "SleepDisabled 1 (forced)", false},
    {"the value glued to the name", "SleepDisabled1", false},
    {"the first matching line decides", "SleepDisabled 0\nSleepDisabled 1\n", false},
    {"another word before the name", "x SleepDisabled 1", kAbsent},
    {"empty lines are skipped", "\n\n SleepDisabled 1\n\n", true},
    {"a value of 10 is not 1", "SleepDisabled 10", false},
    // CR LF is one character, not a line feed: such a report is one long line.
    {"CR LF report, setting first", " SleepDisabled\t\t1\r\n standby 0\r\n", false},
    {"CR LF report ending in 1", " SleepDisabled\t\t1\r\n", true},
    {"CR LF report, setting second", "Settings:\r\n SleepDisabled 1\r\n", kAbsent},
    {"a lone CR separates words", "SleepDisabled 1\r", true},
    {"CR LF then LF splits", "Settings:\r\n\nSleepDisabled 1", true},
    // Trimming removes the tab and the space separators (Zs) only.
    {"leading no-break space", "\u00a0SleepDisabled 1", true},
    {"leading ideographic space", "\u3000SleepDisabled 1", true},
    {"leading narrow no-break space", "\u202fSleepDisabled 1", true},
    {"leading vertical tab is kept", "\vSleepDisabled 1", kAbsent},
    {"leading CR is kept", "\rSleepDisabled 1", kAbsent},
    {"leading line separator is kept", "\u2028SleepDisabled 1", kAbsent},
    {"leading byte-order mark is a character", "\ufeffSleepDisabled 1", kAbsent},
    {"leading zero-width space is not white space", "\u200bSleepDisabled 1", kAbsent},
    // Words are separated by White_Space, which is wider than what is trimmed.
    {"vertical tab separates", "SleepDisabled\v1", true},
    {"form feed separates", "SleepDisabled\f1", true},
    {"next line U+0085 separates", "SleepDisabled\u00851", true},
    {"paragraph separator separates", "SleepDisabled\u20291", true},
    {"ogham space mark separates", "SleepDisabled\u16801", true},
    {"zero-width space does not separate", "SleepDisabled\u200b1", false},
    // Marks and joiners: which character they belong to decides.
    {"combining mark after the name", "SleepDisabled\u0301 1", kAbsent},
    {"spacing mark after the name", "SleepDisabled\u0903 1", kAbsent},
    {"zero-width joiner after the name", "SleepDisabled\u200d 1", kAbsent},
    {"combining mark after the 1", "SleepDisabled 1\u0301", false},
    {"joiner after the 1", "SleepDisabled 1\u200d", false},
    {"marks after a blank belong to the separator", "SleepDisabled \u0301 1", true},
    {"trailing blank with a mark", "SleepDisabled 1 \u0301", true},
    {"a mark after a tab stands alone and joins the word", "SleepDisabled\t\u03011", false},
    {"a prepend character pulls the blank into its word", "SleepDisabled\u0600 1", false},
    {"a prepend character after the value", "SleepDisabled 1\u0600", false},
    // Full lower-case mapping: U+0130 lowers to i and a combining dot, which is not "i".
    {"capital I with dot above is not i", "SLEEPD\u0130SABLED 1", kAbsent},
    {"upper-case name", "SLEEPDISABLED 1", true},
    // NUL is an ordinary character.
    {"NUL inside the name's word", std::string("SleepDisabled\0 1", 16), true},
    {"NUL after the value", std::string("SleepDisabled 1\0", 16), false},
    // Strict UTF-8 (every malformed form is in unicode_test): anything malformed anywhere makes
    // the answer absent.
    {"invalid byte after the deciding line", "SleepDisabled 1\n\xff", kAbsent},
    {"overlong slash", "SleepDisabled 1\n\xc0\xaf", kAbsent},
    {"truncated sequence at the end", "SleepDisabled 1\n\xe2\x80", kAbsent},
    {"largest code point is fine", "SleepDisabled 1\n\xf4\x8f\xbf\xbf", true},
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class ReportTest : public testing::TestWithParam<Case> {};

TEST_P(ReportTest, Answers) {
  EXPECT_EQ(sleepDisabledFromReport(GetParam().report), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Reports, ReportTest, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<Case>& info) {
                           std::string name;
                           for (const char* c = info.param.name; *c; ++c) {
                             name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
                           }
                           return name;
                         });

TEST(ReportTest, DecidingLineAfterAMillionNearMisses) {
  std::string report;
  for (int i = 0; i < 1'000'000; ++i) report += "sleepdisable 1\n";
  report += "SleepDisabled 1\n";
  EXPECT_EQ(sleepDisabledFromReport(report), true);
}

}  // namespace
}  // namespace halvorsten
