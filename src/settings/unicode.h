// The few pieces of Unicode that reading pmset's report needs: strict UTF-8 decoding, the
// white-space classes, the full lower-case mapping and extended grapheme cluster boundaries
// (user-perceived characters). Tables come from tools/gen_unicode_tables.py.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

namespace halvorsten::unicode {

// Decodes the code point that starts at `pos` and moves `pos` past it. Strict: overlong forms,
// surrogates, values above U+10FFFF and truncated or stray sequences give nothing, and `pos`
// is then left where it was.
std::optional<char32_t> decodeUtf8(std::string_view text, std::size_t& pos);

// Whether the whole text is well-formed UTF-8 under the rules of decodeUtf8.
bool validUtf8(std::string_view text);

// The White_Space property: what separates words.
bool isWhiteSpace(char32_t c);

// Horizontal white space: the tab and the space separators (general category Zs).
bool isHorizontalSpace(char32_t c);

// The full lower-case mapping of `c` (one to three code points) into `out`; returns the count.
// Context-free: the one conditional rule of the mapping, Greek final sigma, only chooses
// between two letters that are alike for every use this program has.
std::size_t toLower(char32_t c, char32_t out[3]);

// Grapheme_Cluster_Break classes, named as in the Unicode data files.
enum class Gcb : unsigned char {
  Other,
  CR,
  LF,
  Control,
  Extend,
  ZWJ,
  Regional_Indicator,
  Prepend,
  SpacingMark,
  L,
  V,
  T,
  LV,
  LVT
};

// Extended grapheme cluster boundaries (UAX #29), fed one code point at a time.
class GraphemeBreaker {
 public:
  // Whether a cluster boundary falls before `c`, given every code point fed so far.
  // The first code point always starts a cluster.
  bool breaksBefore(char32_t c);

 private:
  bool started_ = false;
  Gcb previous_ = Gcb::Other;
  bool pictographicRun_ = false;  // previous code points are Extended_Pictographic Extend*
  bool zwjAfterPictographic_ = false;
  bool oddRegionalIndicators_ = false;
};

}  // namespace halvorsten::unicode
