#include "text/iif_value.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <type_traits>

namespace vg::text {
namespace {

TEST(IIfValueTest, BooleansAndNumbersPickTheirBranch) {
  EXPECT_EQ(IIfValue(true, 1, 2), 1);
  EXPECT_EQ(IIfValue(false, 1, 2), 2);
  EXPECT_EQ(IIfValue(-1, u"s", u""), std::u16string(u"s"));  // true is -1
  EXPECT_EQ(IIfValue(0, u"s", u""), std::u16string(u""));
}

TEST(IIfValueTest, AnOptionalConditionCountsOnlyWhenItHoldsTrue) {
  EXPECT_EQ(IIfValue(std::optional<bool>{}, 1, 2), 2);
  EXPECT_EQ(IIfValue(std::optional<bool>{false}, 1, 2), 2);
  EXPECT_EQ(IIfValue(std::optional<bool>{true}, 1, 2), 1);
  EXPECT_EQ(IIfValue(std::optional<int>{0}, 1, 2), 2);
}

TEST(IIfValueTest, ResultHasTheCommonTypeOfBothValues) {
  auto r = IIfValue(false, 1, 2.5);
  static_assert(std::is_same_v<decltype(r), double>);
  EXPECT_EQ(r, 2.5);
  std::u16string long_value(100, u'z');
  EXPECT_EQ(IIfValue(true, long_value, std::u16string()), long_value);
}

}  // namespace
}  // namespace vg::text
