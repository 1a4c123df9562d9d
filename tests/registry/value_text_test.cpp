#include "registry/value_text.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <limits>

#include "platform/error.h"

namespace vg::registry {
namespace {

using namespace std::chrono;

Date At(int y, unsigned m, unsigned d, int hh = 0, int mm = 0, int ss = 0) {
  return Date{sys_days(year(y) / month(m) / day(d)) + hours(hh) + minutes(mm) +
              seconds(ss)};
}

TEST(ValueTextTest, WholeNumbersBooleansTextAndEmpty) {
  EXPECT_EQ(ValueText(Variant{}), u"");
  EXPECT_EQ(ValueText(Variant{std::u16string(u"déjà vu")}), u"déjà vu");
  EXPECT_EQ(ValueText(Variant{12}), u"12");
  EXPECT_EQ(ValueText(Variant{int16_t{-32768}}), u"-32768");
  EXPECT_EQ(ValueText(Variant{std::numeric_limits<int64_t>::min()}),
            u"-9223372036854775808");
  EXPECT_EQ(ValueText(Variant{true}), u"True");
  EXPECT_EQ(ValueText(Variant{false}), u"False");
}

TEST(ValueTextTest, FloatingPointUsesFifteenOrSevenDigits) {
  EXPECT_EQ(ValueText(Variant{0.5}), u"0.5");
  EXPECT_EQ(ValueText(Variant{-2.25}), u"-2.25");
  EXPECT_EQ(ValueText(Variant{100.0}), u"100");
  EXPECT_EQ(ValueText(Variant{1.0 / 3.0}), u"0.333333333333333");
  EXPECT_EQ(ValueText(Variant{0.1 + 0.2}), u"0.3");
  EXPECT_EQ(ValueText(Variant{123456789012345.0}), u"123456789012345");
  EXPECT_EQ(ValueText(Variant{1e15}), u"1E+15");
  EXPECT_EQ(ValueText(Variant{1e20}), u"1E+20");
  EXPECT_EQ(ValueText(Variant{0.0001}), u"0.0001");
  EXPECT_EQ(ValueText(Variant{1.5e-5}), u"1.5E-05");
  EXPECT_EQ(ValueText(Variant{-0.0}), u"0");
  EXPECT_EQ(ValueText(Variant{0.1f}), u"0.1");
  EXPECT_EQ(ValueText(Variant{16777216.0f}), u"1.677722E+07");
}

TEST(ValueTextTest, ValuesWithoutATextFormRaise) {
  try {
    ValueText(Variant{Null{}});
    ADD_FAILURE() << "Null has no text form";
  } catch (const platform::Error& e) {
    EXPECT_EQ(e.number(), platform::kErrInvalidUseOfNull);
  }
  for (double bad : {std::numeric_limits<double>::infinity(),
                     std::numeric_limits<double>::quiet_NaN()}) {
    try {
      ValueText(Variant{bad});
      ADD_FAILURE() << bad;
    } catch (const platform::Error& e) {
      EXPECT_EQ(e.number(), platform::kErrOverflow);
    }
  }
}

TEST(ValueTextTest, DatesDropTheZeroTimeOrTheZeroDate) {
  EXPECT_EQ(ValueText(Variant{At(2003, 1, 2, 15, 4, 5)}),
            u"2003-01-02 15:04:05");
  EXPECT_EQ(ValueText(Variant{At(2003, 1, 2)}), u"2003-01-02");
  EXPECT_EQ(ValueText(Variant{At(1899, 12, 30, 9, 0, 7)}), u"09:00:07");
  EXPECT_EQ(ValueText(Variant{At(1899, 12, 30)}), u"00:00:00");
  EXPECT_EQ(ValueText(Variant{At(1899, 12, 29, 23, 59, 59)}),
            u"1899-12-29 23:59:59");
}

}  // namespace
}  // namespace vg::registry
