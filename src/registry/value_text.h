// File: registry/value_text.h
//
// The values that RegistryKey stores, and their text form. A Variant holds
// "any value that has a text form" -- text, whole numbers, floating-point
// numbers, Booleans, dates -- plus the two values that are not numbers or
// text: Empty (std::monostate, whose text is "") and Null (no text form).
//
//   std::u16string t = ValueText(Variant{12});        // u"12"
//   ValueText(Variant{true});                         // u"True"
//   ValueText(Variant{Null{}});                       // raises 94
//
// Not a general variant type: it carries nothing the registry class does
// not turn into text.
#ifndef VG_REGISTRY_VALUE_TEXT_H_
#define VG_REGISTRY_VALUE_TEXT_H_

#include <chrono>
#include <cstdint>
#include <string>
#include <variant>

namespace vg::registry {

// The null value: it has no text form.
struct Null {};

// A date and time of day, local time without a zone, to the second.
struct Date {
  std::chrono::sys_seconds when;
};

using Variant = std::variant<std::monostate, Null, std::u16string, bool,
                             int16_t, int32_t, int64_t, float, double, Date>;

// Returns the text form of `value`:
// - Empty: ""; text: itself; whole numbers: decimal digits with a leading
//   "-" when negative;
// - Booleans: "True" / "False";
// - double: up to 15 significant digits, float: up to 7, trailing zeros
//   dropped, exponent form beyond them or below 1E-4 ("1E+20", "1.5E-05"),
//   the decimal separator of the C library's numeric locale, "0" for -0;
// - dates: "yyyy-mm-dd hh:mm:ss" (24-hour clock), the date alone at
//   midnight, the time alone on the day 1899-12-30 (the zero date).
// Raises error 94 "Invalid use of Null" for Null and error 6 "Overflow" for
// an infinite or NaN number.
std::u16string ValueText(const Variant& value);

}  // namespace vg::registry

#endif  // VG_REGISTRY_VALUE_TEXT_H_
