#include "registry/value_text.h"

#include <cmath>
#include <cstdio>
#include <string>

#include "platform/code_page.h"
#include "platform/error.h"

namespace vg::registry {
namespace {

using platform::Error;

std::u16string Ascii(const std::string& text) {
  return std::u16string(text.begin(), text.end());
}

std::u16string FloatText(double v, int digits) {
  if (!std::isfinite(v)) throw Error::Overflow("RegistryKey.Let Value");
  if (v == 0.0) return u"0";  // also for -0
  // %G switches to the exponent form below 1E-4 and at 10^digits, drops
  // trailing zeros, and writes at least two exponent digits: "1.5E-05".
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.*G", digits, v);
  return platform::FromAnsi(buffer);
}

std::u16string DateText(const Date& date) {
  using namespace std::chrono;
  const sys_days day = floor<days>(date.when);
  const hh_mm_ss<seconds> time(date.when - day);
  const year_month_day ymd(day);
  constexpr year_month_day kZeroDate{year(1899), month(12),
                                     std::chrono::day(30)};
  char buffer[64];
  std::string text;
  if (ymd != kZeroDate) {
    std::snprintf(
        buffer, sizeof buffer, "%04d-%02u-%02u", static_cast<int>(ymd.year()),
        static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()));
    text = buffer;
  }
  if (time.to_duration().count() != 0 || ymd == kZeroDate) {
    std::snprintf(buffer, sizeof buffer, "%02d:%02d:%02d",
                  static_cast<int>(time.hours().count()),
                  static_cast<int>(time.minutes().count()),
                  static_cast<int>(time.seconds().count()));
    if (!text.empty()) text += ' ';
    text += buffer;
  }
  return Ascii(text);
}

struct TextOf {
  std::u16string operator()(std::monostate) const { return {}; }
  std::u16string operator()(Null) const {
    throw Error::Standard(platform::kErrInvalidUseOfNull,
                          "RegistryKey.Let Value");
  }
  std::u16string operator()(const std::u16string& text) const { return text; }
  std::u16string operator()(bool b) const { return b ? u"True" : u"False"; }
  std::u16string operator()(int16_t v) const {
    return Ascii(std::to_string(v));
  }
  std::u16string operator()(int32_t v) const {
    return Ascii(std::to_string(v));
  }
  std::u16string operator()(int64_t v) const {
    return Ascii(std::to_string(v));
  }
  std::u16string operator()(float v) const { return FloatText(v, 7); }
  std::u16string operator()(double v) const { return FloatText(v, 15); }
  std::u16string operator()(const Date& d) const { return DateText(d); }
};

}  // namespace

std::u16string ValueText(const Variant& value) {
  return std::visit(TextOf{}, value);
}

}  // namespace vg::registry
