#include "settings/unicode.h"

#include <algorithm>
#include <iterator>

namespace halvorsten::unicode {
namespace {

struct CodeRange {
  char32_t first, last;
};
struct BreakRange {
  char32_t first, last;
  Gcb value;
};
struct LowerMapping {
  char32_t from, to;
};
struct LowerExpansion {
  char32_t from;
  char32_t to[3];
  std::size_t count;
};

#include "settings/unicode_tables.inc"

// The range of a sorted, disjoint table that holds `c`, or nullptr.
template <typename Range, std::size_t N>
const Range* find(const Range (&table)[N], char32_t c) {
  const Range* it = std::upper_bound(std::begin(table), std::end(table), c,
                                     [](char32_t v, const Range& r) { return v < r.first; });
  if (it == std::begin(table) || c > (it - 1)->last) return nullptr;
  return it - 1;
}

// Hangul syllables alternate LV, LVT x 27 (the generator checks this rule against the data).
constexpr char32_t kHangulFirst = 0xAC00, kHangulLast = 0xD7A3, kHangulTrailingCount = 28;

Gcb graphemeBreakOf(char32_t c) {
  // ASCII, most of every report, without a table search; the table says the same.
  if (c < 0x80) {
    if (c == U'\r') return Gcb::CR;
    if (c == U'\n') return Gcb::LF;
    return (c < 0x20 || c == 0x7F) ? Gcb::Control : Gcb::Other;
  }
  if (c >= kHangulFirst && c <= kHangulLast) {
    return (c - kHangulFirst) % kHangulTrailingCount == 0 ? Gcb::LV : Gcb::LVT;
  }
  const BreakRange* r = find(kGraphemeBreak, c);
  return r ? r->value : Gcb::Other;
}

bool isExtendedPictographic(char32_t c) { return c >= 0xA9 && find(kExtendedPictographic, c); }

bool isControl(Gcb g) { return g == Gcb::Control || g == Gcb::CR || g == Gcb::LF; }

}  // namespace

std::optional<char32_t> decodeUtf8(std::string_view text, std::size_t& pos) {
  const auto byte = [&](std::size_t i) -> unsigned { return static_cast<unsigned char>(text[i]); };
  const unsigned lead = byte(pos);
  if (lead < 0x80) return char32_t(text[pos++]);
  // Length and the range of the second byte, which is where overlong forms, surrogates and
  // values beyond U+10FFFF are refused.
  std::size_t length;
  unsigned low = 0x80, high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return std::nullopt;
  }
  if (text.size() - pos < length) return std::nullopt;
  char32_t c = lead & (0x7F >> length);
  for (std::size_t i = 1; i < length; ++i) {
    const unsigned b = byte(pos + i);
    if (b < low || b > high) return std::nullopt;
    low = 0x80, high = 0xBF;
    c = (c << 6) | (b & 0x3F);
  }
  pos += length;
  return c;
}

bool validUtf8(std::string_view text) {
  for (std::size_t pos = 0; pos < text.size();) {
    if (!decodeUtf8(text, pos)) return false;
  }
  return true;
}

bool isWhiteSpace(char32_t c) {
  if (c < 0x80) return c == U' ' || (c >= U'\t' && c <= U'\r');
  return find(kWhiteSpace, c);
}

bool isHorizontalSpace(char32_t c) {
  if (c < 0x80) return c == U' ' || c == U'\t';
  return find(kSpaceSeparator, c);
}

std::size_t toLower(char32_t c, char32_t out[3]) {
  if (c < 0x80) {
    out[0] = (c >= U'A' && c <= U'Z') ? c + (U'a' - U'A') : c;
    return 1;
  }
  for (const LowerExpansion& e : kLowercaseExpansion) {
    if (e.from == c) {
      std::copy_n(e.to, e.count, out);
      return e.count;
    }
  }
  const LowerMapping* it =
      std::lower_bound(std::begin(kLowercase), std::end(kLowercase), c,
                       [](const LowerMapping& m, char32_t v) { return m.from < v; });
  out[0] = (it != std::end(kLowercase) && it->from == c) ? it->to : c;
  return 1;
}

bool GraphemeBreaker::breaksBefore(char32_t c) {
  const Gcb current = graphemeBreakOf(c);
  const bool pictographic = isExtendedPictographic(c);
  const Gcb previous = previous_;
  bool breaks;
  // Each case names the rule of UAX #29 it applies.
  // clang-format off
  if (!started_) {
    breaks = true;                                                   // GB1
  } else if (previous == Gcb::CR && current == Gcb::LF) {
    breaks = false;                                                  // GB3
  } else if (isControl(previous) || isControl(current)) {
    breaks = true;                                                   // GB4, GB5
  } else if (previous == Gcb::L && (current == Gcb::L || current == Gcb::V ||
                                    current == Gcb::LV || current == Gcb::LVT)) {
    breaks = false;                                                  // GB6
  } else if ((previous == Gcb::LV || previous == Gcb::V) &&
             (current == Gcb::V || current == Gcb::T)) {
    breaks = false;                                                  // GB7
  } else if ((previous == Gcb::LVT || previous == Gcb::T) && current == Gcb::T) {
    breaks = false;                                                  // GB8
  } else if (current == Gcb::Extend || current == Gcb::ZWJ || current == Gcb::SpacingMark ||
             previous == Gcb::Prepend) {
    breaks = false;                                                  // GB9, GB9a, GB9b
  } else if (zwjAfterPictographic_ && pictographic) {
    breaks = false;                                                  // GB11
  } else if (previous == Gcb::Regional_Indicator && current == Gcb::Regional_Indicator) {
    breaks = !oddRegionalIndicators_;                                // GB12, GB13
  } else {
    breaks = true;                                                   // GB999
  }
  // clang-format on

  started_ = true;
  previous_ = current;
  zwjAfterPictographic_ = pictographicRun_ && current == Gcb::ZWJ;
  pictographicRun_ = pictographic || (pictographicRun_ && current == Gcb::Extend);
  oddRegionalIndicators_ = current == Gcb::Regional_Indicator && !oddRegionalIndicators_;
  return breaks;
}

}  // namespace halvorsten::unicode
