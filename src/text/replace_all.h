// File: text/replace_all.h
//
// Replaces every occurrence of a pattern in a text, comparing as text (case
// does not matter), the way the batch turns characters of a transliterated
// name into others. Positions are signed 16-bit, as every position of the
// name helpers: a text whose working position would pass 32767 raises
// Overflow instead of wrapping.
//
//   ReplaceAll(u"l'\u00E9t\u00E9 d'or", u"'", u"-");  // u"l-\u00E9t\u00E9
//   d-or" ReplaceAll(u"abc", u"B", u"x");                   // u"axc"
//
// Not a regular-expression or locale-aware search: case folding is the simple
// one-to-one folding of vg::platform::FoldCase ("\u00DF" never matches "ss").
#ifndef VG_TEXT_REPLACE_ALL_H_
#define VG_TEXT_REPLACE_ALL_H_

#include <string>
#include <string_view>

namespace vg::text {

// Returns `source` with each occurrence of `pattern` (found case-insensitively,
// left to right) replaced by `replacement`. The search goes on right after
// each inserted replacement and never looks inside it, so a replacement that
// contains the pattern cannot loop: ReplaceAll(u"aa", u"a", u"aa") == u"aaaa".
// Raises vg::platform::Error 5 (invalid procedure call) when `pattern` is
// empty, and 6 (overflow) when a match, or the position right after its
// replacement, lies beyond position 32767 of the text being rewritten.
std::u16string ReplaceAll(std::u16string_view source,
                          std::u16string_view pattern,
                          std::u16string_view replacement);

}  // namespace vg::text

#endif  // VG_TEXT_REPLACE_ALL_H_
