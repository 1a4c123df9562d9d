// File: platform/numeric_text.h
//
// The numeric value of a text, as the window reads a width typed into a box:
// its leading number. Blanks (space, tab, CR, LF) are skipped wherever they
// stand, "." is the decimal separator, an exponent (E or D) is read when
// digits follow it, and reading stops at the first character that cannot
// continue the number. A text with no leading number is 0.
//
//   NumericValue(u"150 px") == 150;  NumericValue(u"1,5") == 1;
//   NumericValue(u"") == 0;          NumericValue(u"-3") == -3;
//
// Not a locale-aware parser: "," is never a decimal separator.
#ifndef VG_PLATFORM_NUMERIC_TEXT_H_
#define VG_PLATFORM_NUMERIC_TEXT_H_

#include <string_view>

namespace vg::platform {

// Returns the leading number of `text` in double precision; raises error 6
// when the number is too large for a double (such as "1e999").
double NumericValue(std::u16string_view text);

}  // namespace vg::platform

#endif  // VG_PLATFORM_NUMERIC_TEXT_H_
