#include "platform/numeric_text.h"

#include <gtest/gtest.h>

#include <clocale>
#include <iterator>
#include <string_view>

#include "platform/error.h"

namespace vg::platform {
namespace {

TEST(NumericValueTest, ReadsTheLeadingNumber) {
  const struct {
    std::u16string_view text;
    double want;
  } kCases[] = {
      {u"150", 150},
      {u"150 px", 150},
      {u"1,5", 1},
      {u"", 0},
      {u" 12.5", 12.5},
      {u"abc", 0},
      {u"-3", -3},
      {u"+7x", 7},
      {u".5", 0.5},
      {u"-", 0},
      {u".", 0},
      // Blanks inside the number are skipped.
      {u"\t1 5 0", 150},
      {u"- 4", -4},
      // An exponent counts only with its digits.
      {u"1e3", 1000},
      {u"2D2", 200},
      {u"1e", 1},
      {u"1e-x", 1},
      {u"4exif", 4},
      {u"1e-999", 0},
  };
  for (size_t i = 0; i < std::size(kCases); ++i) {
    EXPECT_EQ(NumericValue(kCases[i].text), kCases[i].want) << "case " << i;
  }
}

TEST(NumericValueTest, ExponentPastTheRangeOverflows) {
  EXPECT_THROW(NumericValue(u"1e999"), Error);
}

TEST(NumericValueTest, IgnoresTheCLocale) {
  // Qt sets LC_NUMERIC from the environment; a French one must not change
  // what "12.5" means. Skipped silently when the locale is not installed.
  const char* old = std::setlocale(LC_NUMERIC, nullptr);
  std::string saved = old ? old : "C";
  if (std::setlocale(LC_NUMERIC, "fr_FR.UTF-8") != nullptr) {
    EXPECT_EQ(NumericValue(u"12.5"), 12.5);
    EXPECT_EQ(NumericValue(u"12,5"), 12);
  }
  std::setlocale(LC_NUMERIC, saved.c_str());
}

}  // namespace
}  // namespace vg::platform
