#include "platform/numeric_text.h"

#include <charconv>
#include <string>

#include "platform/error.h"

namespace vg::platform {
namespace {

bool IsBlank(char16_t c) {
  return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n';
}
bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

}  // namespace

double NumericValue(std::u16string_view text) {
  // Collect the characters of the number (blanks dropped) into plain ASCII,
  // then let from_chars do the conversion so that it is correctly rounded.
  std::string number;
  size_t i = 0;
  auto skip_blanks = [&] {
    while (i < text.size() && IsBlank(text[i])) ++i;
  };
  skip_blanks();
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
    number.push_back(static_cast<char>(text[i++]));
    skip_blanks();
  }
  bool any_digit = false;
  auto take_digits = [&] {
    for (;;) {
      skip_blanks();
      if (i >= text.size() || !IsDigit(text[i])) return;
      number.push_back(static_cast<char>(text[i++]));
      any_digit = true;
    }
  };
  take_digits();
  skip_blanks();
  if (i < text.size() && text[i] == u'.') {
    number.push_back('.');
    ++i;
    take_digits();
  }
  if (!any_digit) return 0.0;
  skip_blanks();
  if (i < text.size() && (text[i] == u'E' || text[i] == u'e' ||
                          text[i] == u'D' || text[i] == u'd')) {
    // The exponent counts only when digits follow it.
    size_t j = i + 1;
    std::string exponent = "e";
    while (j < text.size() && IsBlank(text[j])) ++j;
    if (j < text.size() && (text[j] == u'+' || text[j] == u'-')) {
      exponent.push_back(static_cast<char>(text[j++]));
    }
    bool exp_digit = false;
    for (;;) {
      while (j < text.size() && IsBlank(text[j])) ++j;
      if (j >= text.size() || !IsDigit(text[j])) break;
      exponent.push_back(static_cast<char>(text[j++]));
      exp_digit = true;
    }
    if (exp_digit) number += exponent;
  }
  // from_chars ignores the C locale, which Qt sets from the environment (a
  // French desktop would otherwise want "1,5").
  double v = 0.0;
  const char* first = number.data();
  if (*first == '+') ++first;
  auto [ptr, ec] = std::from_chars(first, number.data() + number.size(), v);
  if (ec == std::errc::result_out_of_range) {
    // Underflow to a tiny value is harmless; only a huge value overflows.
    if (number.find("e-") != std::string::npos) return 0.0;
    throw Error::Overflow("Val");
  }
  return v;
}

}  // namespace vg::platform
