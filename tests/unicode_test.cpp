// The Unicode pieces under the report parser: strict UTF-8, the lower-case mapping, and
// grapheme cluster boundaries checked against the Unicode Consortium's own test file.
#include "settings/unicode.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace halvorsten::unicode {
namespace {

struct Utf8Case {
  std::string bytes;
  std::optional<char32_t> expected;  // the first code point, or nothing when malformed
};

TEST(Utf8Test, DecodesBoundariesAndRefusesMalformedForms) {
  const Utf8Case cases[] = {
      {std::string(1, '\0'), U'\0'},
      {"\x7f", 0x7F},
      {"\xc2\x80", 0x80},
      {"\xdf\xbf", 0x7FF},
      {"\xe0\xa0\x80", 0x800},
      {"\xed\x9f\xbf", 0xD7FF},
      {"\xee\x80\x80", 0xE000},
      {"\xef\xbf\xbf", 0xFFFF},
      {"\xf0\x90\x80\x80", 0x10000},
      {"\xf4\x8f\xbf\xbf", 0x10FFFF},
      {"\xc0\x80", std::nullopt},          // overlong NUL
      {"\xc1\xbf", std::nullopt},          // overlong two-byte
      {"\xe0\x9f\xbf", std::nullopt},      // overlong three-byte
      {"\xf0\x8f\xbf\xbf", std::nullopt},  // overlong four-byte
      {"\xed\xa0\x80", std::nullopt},      // high surrogate
      {"\xed\xbf\xbf", std::nullopt},      // low surrogate
      {"\xf4\x90\x80\x80", std::nullopt},  // U+110000
      {"\xf5\x80\x80\x80", std::nullopt},  // lead byte beyond any code point
      {"\xe2\x80", std::nullopt},          // truncated
      {"\xe2\x28\xa1", std::nullopt},      // continuation missing
      {"\x80", std::nullopt},              // stray continuation
      {"\xff", std::nullopt},
  };
  for (const Utf8Case& c : cases) {
    std::size_t pos = 0;
    EXPECT_EQ(decodeUtf8(c.bytes, pos), c.expected) << testing::PrintToString(c.bytes);
    EXPECT_EQ(pos, c.expected ? c.bytes.size() : 0u);
  }
}

TEST(LowerCaseTest, UsesTheFullMapping) {
  struct {
    char32_t from;
    std::u32string to;
  } const cases[] = {
      {U'A', U"a"},         {U'z', U"z"},        {U'1', U"1"},
      {0x0130, U"i\u0307"},  // capital I with dot above: two code points, not "i"
      {0x212A, U"k"},        // Kelvin sign
      {0x0391, U"\u03b1"},  {0x1E9E, U"\u00df"}, {0x10400, U"\U00010428"},
      {0x00DF, U"\u00df"},  // lower already, though its upper-case form expands
  };
  for (const auto& c : cases) {
    char32_t out[3];
    const std::size_t n = toLower(c.from, out);
    EXPECT_EQ(std::u32string(out, n), c.to) << std::hex << static_cast<unsigned>(c.from);
  }
}

// The report parser rejects a line early unless it starts with the name's letters as ASCII,
// which holds only while no other code point lowers to a lone letter of the name.
TEST(LowerCaseTest, OnlyAsciiLowersToALoneLetterOfTheName) {
  const std::u32string letters = U"sleepdisabled";
  for (char32_t c = 0x80; c <= 0x10FFFF; ++c) {
    char32_t out[3];
    const std::size_t n = toLower(c, out);
    if (letters.find(out[0]) == std::u32string::npos) continue;
    GraphemeBreaker breaker;
    breaker.breaksBefore(out[0]);
    EXPECT_TRUE(n > 1 && !breaker.breaksBefore(out[1]))
        << "U+" << std::hex << static_cast<unsigned>(c) << " lowers to a lone letter of the name";
  }
}

// GraphemeBreakTest.txt lines: "÷ 0020 × 0308 ÷ 000D ÷ # comment".
TEST(GraphemeBreakTest, AgreesWithTheUnicodeTestFile) {
  std::ifstream file("/usr/share/unicode/auxiliary/GraphemeBreakTest.txt");
  if (!file) GTEST_SKIP() << "GraphemeBreakTest.txt missing: install Debian's unicode-data";
  int checked = 0;
  for (std::string line; std::getline(file, line);) {
    line = line.substr(0, line.find('#'));
    std::istringstream in(line);
    std::vector<char32_t> text;
    std::vector<bool> expected;  // a boundary before each code point
    bool breakNext = false;
    for (std::string token; in >> token;) {
      if (token == "\u00f7") {
        breakNext = true;
      } else if (token == "\u00d7") {
        breakNext = false;
      } else {
        text.push_back(static_cast<char32_t>(std::stoul(token, nullptr, 16)));
        expected.push_back(breakNext);
      }
    }
    if (text.empty()) continue;
    GraphemeBreaker breaker;
    std::vector<bool> actual;
    for (char32_t c : text) actual.push_back(breaker.breaksBefore(c));
    EXPECT_EQ(actual, expected) << line;
    ++checked;
  }
  EXPECT_GT(checked, 500);  // the 15.0 file has 602
}

}  // namespace
}  // namespace halvorsten::unicode
