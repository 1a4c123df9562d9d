#include "text/replace_all.h"

#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <string_view>

#include "common/test_files.h"
#include "platform/error.h"

namespace vg::text {
namespace {

using ::vg::testing::ErrorNumberOf;

TEST(ReplaceAllTest, ReplacesEveryOccurrenceIgnoringCase) {
  const struct {
    std::u16string_view text;
    std::u16string_view find;
    std::u16string_view with;
    std::u16string_view want;
  } kCases[] = {
      {u"l'été d'or", u"'", u"-", u"l-été d-or"},
      {u"abc", u"B", u"x", u"axc"},
      {u"a-b-c", u"-", u"", u"abc"},
      {u"JPG.jpg.Jpg", u"jpg", u"Jpeg", u"Jpeg.Jpeg.Jpeg"},
      {u"", u"a", u"b", u""},
      {u"ab", u"abc", u"x", u"ab"},
      // The search resumes right after the replacement: the "ab" formed by
      // the replacement and the rest is not searched again.
      {u"aa", u"a", u"aa", u"aaaa"},
      {u"aXa", u"a", u"ba", u"baXba"},
      {u"abb", u"ab", u"a", u"ab"},
      {u"aaa", u"aa", u"b", u"ba"},
      // Letters beyond ASCII fold; signs do not.
      {u"ÉTÉ.JPG", u"é", u"e", u"eTe.JPG"},
      {u"ΣΟΦΙΑ σοφία", u"σοφ", u"-", u"-ΙΑ -ία"},
      {u"Ёлка ЁЛКА", u"ёлка", u"x", u"x x"},
      {u"ŁÓDŹ", u"łódź", u"lodz", u"lodz"},
      {u"2×3", u"÷", u"/", u"2×3"},
      {u"@[", u"`{", u"x", u"@["},
  };
  for (size_t i = 0; i < std::size(kCases); ++i) {
    const auto& c = kCases[i];
    EXPECT_EQ(ReplaceAll(c.text, c.find, c.with), c.want) << "case " << i;
  }
}

TEST(ReplaceAllTest, EmptyPatternRaisesInvalidProcedureCall) {
  EXPECT_EQ(ErrorNumberOf([] { ReplaceAll(u"abc", u"", u"x"); }),
            platform::kErrInvalidProcedureCall);
  EXPECT_EQ(ErrorNumberOf([] { ReplaceAll(u"", u"", u""); }),
            platform::kErrInvalidProcedureCall);
}

TEST(ReplaceAllTest, PositionPast32767RaisesOverflow) {
  std::u16string x32766(32766, u'x');
  // A match at 32767 whose replacement leaves the position there is fine.
  EXPECT_EQ(ReplaceAll(x32766 + u"a", u"a", u""), x32766);
  EXPECT_EQ(ErrorNumberOf([&] { ReplaceAll(x32766 + u"a", u"a", u"b"); }),
            platform::kErrOverflow);
  EXPECT_EQ(ErrorNumberOf([&] { ReplaceAll(x32766 + u"xa", u"a", u""); }),
            platform::kErrOverflow);
  // Growth alone passes the limit: 20000 matches, each replaced by two.
  EXPECT_EQ(ErrorNumberOf(
                [] { ReplaceAll(std::u16string(20000, u'a'), u"a", u"bb"); }),
            platform::kErrOverflow);
  EXPECT_EQ(ErrorNumberOf(
                [] { ReplaceAll(u"a", u"a", std::u16string(32767, u'b')); }),
            platform::kErrOverflow);
  // A long text with no match is returned whole.
  std::u16string long_text(40000, u'x');
  EXPECT_EQ(ReplaceAll(long_text, u"a", u"b"), long_text);
}

}  // namespace
}  // namespace vg::text
