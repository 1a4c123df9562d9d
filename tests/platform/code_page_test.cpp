#include "platform/code_page.h"

#include <gtest/gtest.h>

#include <string>

namespace vg::platform {
namespace {

TEST(CodePageTest, Utf8RoundTripsThroughUtf16) {
  std::string utf8 =
      "\xC3\x89t\xC3\xA9 n\xC2\xB0"
      "5 \xE2\x82\xAC \xF0\x9F\x98\x80";
  std::u16string wide = FromAnsi(utf8);
  EXPECT_EQ(wide, u"\u00C9t\u00E9 n\u00B05 \u20AC \U0001F600");
  EXPECT_EQ(ToAnsi(wide), utf8);
}

TEST(CodePageTest, InvalidBytesComeBackExactly) {
  // Latin-1 names, truncated sequences, overlongs and encoded surrogates:
  // all are legal Linux file names and must survive the trip.
  const std::string cases[] = {
      "caf\xE9.jpg",   "\xFF\xFE",         "abc\xC3", "\xC0\xAF",
      "\xED\xA0\x80x", "\xF4\x90\x80\x80", "\x80",    std::string("a\0b", 3),
  };
  for (const std::string& bytes : cases) {
    EXPECT_EQ(ToAnsi(FromAnsi(bytes)), bytes);
  }
  EXPECT_EQ(FromAnsi("caf\xE9"), u"caf\xDCE9");
}

TEST(CodePageTest, LoneSurrogatesBecomeQuestionMarks) {
  std::u16string lone = u"a";
  lone.push_back(0xD800);
  lone.push_back(u'b');
  lone.push_back(0xDC10);  // low surrogate outside the escape range
  EXPECT_EQ(ToAnsi(lone), "a?b?");
}

TEST(CodePageTest, EveryByteSequenceOfLengthTwoRoundTrips) {
  std::string bytes(2, '\0');
  for (int a = 0; a < 256; ++a) {
    for (int b = 0; b < 256; ++b) {
      bytes[0] = static_cast<char>(a);
      bytes[1] = static_cast<char>(b);
      ASSERT_EQ(ToAnsi(FromAnsi(bytes)), bytes) << a << "," << b;
    }
  }
}

}  // namespace
}  // namespace vg::platform
