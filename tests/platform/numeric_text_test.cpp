#include "platform/numeric_text.h"

#include <gtest/gtest.h>

#include <clocale>

#include "platform/error.h"

namespace vg::platform {
namespace {

TEST(NumericValueTest, ReadsTheLeadingNumber) {
  EXPECT_EQ(NumericValue(u"150"), 150);
  EXPECT_EQ(NumericValue(u"150 px"), 150);
  EXPECT_EQ(NumericValue(u"1,5"), 1);
  EXPECT_EQ(NumericValue(u""), 0);
  EXPECT_EQ(NumericValue(u" 12.5"), 12.5);
  EXPECT_EQ(NumericValue(u"abc"), 0);
  EXPECT_EQ(NumericValue(u"-3"), -3);
  EXPECT_EQ(NumericValue(u"+7x"), 7);
  EXPECT_EQ(NumericValue(u".5"), 0.5);
  EXPECT_EQ(NumericValue(u"-"), 0);
  EXPECT_EQ(NumericValue(u"."), 0);
}

TEST(NumericValueTest, SkipsBlanksInsideTheNumber) {
  EXPECT_EQ(NumericValue(u"\t1 5 0"), 150);
  EXPECT_EQ(NumericValue(u"- 4"), -4);
}

TEST(NumericValueTest, ExponentOnlyWithDigits) {
  EXPECT_EQ(NumericValue(u"1e3"), 1000);
  EXPECT_EQ(NumericValue(u"2D2"), 200);
  EXPECT_EQ(NumericValue(u"1e"), 1);
  EXPECT_EQ(NumericValue(u"1e-x"), 1);
  EXPECT_EQ(NumericValue(u"4exif"), 4);
  EXPECT_EQ(NumericValue(u"1e-999"), 0);
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
