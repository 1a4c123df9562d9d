#include "text/to_dos_name.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "platform/code_page.h"
#include "platform/error.h"
#include "platform/message_box.h"
#include "text/internal/dos_name.h"
#include "text/replace_all.h"

namespace vg::text {
namespace {

using dos_name_internal::TransliterateAndReport;
using dos_name_internal::TransliterationIndex;

// Records every box shown while it lives, then puts the old presenter back.
class BoxRecorder {
 public:
  BoxRecorder()
      : old_(platform::SetMessageBoxPresenter(
            [this](const platform::MessageBoxRequest& r) {
              shown.push_back(r);
            })) {}
  ~BoxRecorder() { platform::SetMessageBoxPresenter(old_); }
  std::vector<platform::MessageBoxRequest> shown;

 private:
  platform::MessageBoxPresenter old_;
};

TEST(ToDosNameTest, AccentsSpacesAndSignsOfRealNames) {
  BoxRecorder boxes;
  EXPECT_EQ(ToDosName(u"Été 24 n°5.JPG"), u"ete_24_n°5.JPG");
  EXPECT_EQ(ToDosName(u"Ça & là.jpg"), u"ca___la.jpg");
  EXPECT_EQ(ToDosName(u"C:\\photos/a*b?.jpg"), u"C__photos_a_b_.jpg");
  EXPECT_EQ(ToDosName(u""), u"");
  EXPECT_TRUE(boxes.shown.empty());
}

TEST(ToDosNameTest, QuotesLeaveNothingForALaterReplaceAll) {
  std::u16string name = ToDosName(u"l'été \"bleu\".jpg");
  EXPECT_EQ(name, u"l_ete__bleu_.jpg");
  EXPECT_EQ(ReplaceAll(name, u"'", u"-"), name);
  EXPECT_EQ(ReplaceAll(name, u"\"", u"-"), name);
}

TEST(ToDosNameTest, CharactersOutsideTheTablesAreWrittenAsTheirCodeSilently) {
  BoxRecorder boxes;
  EXPECT_EQ(ToDosName(u"a!b.jpg"), u"au0021b.jpg");
  EXPECT_EQ(ToDosName(u"!ab.jpg"), u"u0021ab.jpg");
  EXPECT_EQ(ToDosName(u"Œuvre.jpg"), u"u0152uvre.jpg");
  EXPECT_EQ(ToDosName(u"ÀÊÔ.png"), u"u00C0u00CAu00D4.png");
  EXPECT_EQ(ToDosName(u"\u65E5\u672C.jpg"), u"u65E5u672C.jpg");
  EXPECT_EQ(ToDosName(std::u16string(1, u'\0')), u"u0000");
  EXPECT_EQ(ToDosName(u"\uFFFF"), u"uFFFF");
  // A surrogate pair is one character and gives one code.
  EXPECT_EQ(ToDosName(u"\U0001F600.jpg"), u"u1F600.jpg");
  EXPECT_EQ(ToDosName(u"\U00010000\U0010FFFF"), u"u10000u10FFFF");
  EXPECT_EQ(ToDosName(u"\U00010080"), u"u10080");  // low half U+DC80
  // Halves that do not form a pair are written each on its own.
  const char16_t unpaired[] = {0xD83D, u'a', 0xDE00, 0xD83D, 0};
  EXPECT_EQ(ToDosName(unpaired), u"uD83DauDE00uD83D");
  const char16_t reversed[] = {0xDE00, 0xD83D, 0};
  EXPECT_EQ(ToDosName(reversed), u"uDE00uD83D");
  EXPECT_TRUE(boxes.shown.empty());
}

// Two different photos must not be written under one name unless the tables
// themselves merge them (an accent dropped, a sign turned into "_").
TEST(ToDosNameTest, OnlyNamesTheTablesMergeCollide) {
  EXPECT_NE(ToDosName(u"\u65E5\u672C\u306E\u590F\u306E\u6D77.jpg"),
            ToDosName(u"\u6771\u4EAC\u306E\u51AC\u306E\u7A7A.jpg"));
  EXPECT_NE(ToDosName(u"a!b.jpg"), ToDosName(u"aab.jpg"));
  EXPECT_NE(ToDosName(u"a!b.jpg"), ToDosName(u"a?b.jpg"));
  EXPECT_NE(ToDosName(u"\U0001F600.jpg"), ToDosName(u"\U0001F601.jpg"));
  EXPECT_EQ(ToDosName(u"été.jpg"), ToDosName(u"ete.jpg"));
  EXPECT_EQ(ToDosName(u"a b.jpg"), ToDosName(u"a?b.jpg"));
}

// Names listed from an 8-bit drive keep their letters: each byte that was not
// UTF-8 (U+DC80 + byte - 0x80 in a listed name) is read as Windows-1252.
TEST(ToDosNameTest, BytesThatWereNotUtf8AreReadAsWindows1252) {
  BoxRecorder boxes;
  EXPECT_EQ(ToDosName(platform::FromAnsi("caf\xE9.jpg")), u"cafe.jpg");
  EXPECT_EQ(ToDosName(platform::FromAnsi("\xC7"
                                         "a et l\xE0.jpg")),
            u"ca_et_la.jpg");
  // The same letter in UTF-8 and in Windows-1252 within one name.
  EXPECT_EQ(ToDosName(platform::FromAnsi("\xC3\xA9t\xE9.jpg")), u"ete.jpg");
  // Letters the tables do not know are written as their character's code,
  // not as the escape's.
  EXPECT_EQ(ToDosName(platform::FromAnsi("\x80\x9C\xC0.jpg")),
            u"u20ACu0153u00C0.jpg");
  EXPECT_EQ(ToDosName(platform::FromAnsi("\x92.jpg")), u"u2019.jpg");
  // The five bytes Windows-1252 leaves undefined keep the escape's code.
  EXPECT_EQ(ToDosName(platform::FromAnsi("\x81\x8D\x8F\x90\x9D")),
            u"uDC81uDC8DuDC8FuDC90uDC9D");
  // A name that is valid UTF-8 is untouched by this reading.
  EXPECT_EQ(ToDosName(platform::FromAnsi("\xF0\x90\x82\x80")), u"u10080");
  EXPECT_TRUE(boxes.shown.empty());
}

// The expected mapping is written from the documented summary of the tables,
// independently of the tables themselves, and checked for all 65536 units
// (the escaped bytes U+DC80..U+DCFF are read as Windows-1252 first; see the
// test above and legacy_bytes_test.cpp).
TEST(ToDosNameTest, EveryCodeUnitMapsAsTheTableSummarySays) {
  std::map<char16_t, char16_t> expected;
  for (char16_t c : std::u16string(u"\" &'*,/:;<=>?\\^`~")) expected[c] = u'_';
  const std::pair<char16_t, std::u16string> letters[] = {
      {u'o', u"ôöòóÖ"}, {u'e', u"èéêëÉ"}, {u'a', u"âäàåáÄÅ"}, {u'c', u"Çç"},
      {u'u', u"üûùúÜ"}, {u'i', u"ïîìí"},  {u'y', u"ÿ"},       {u'n', u"ñÑ"}};
  for (const auto& [plain, accented] : letters) {
    for (char16_t c : accented) expected[c] = plain;
  }
  std::u16string kept = u"#$%()+-.@[]_{|}æÆ¢£¥ªº¿¬½¼¡«»ß¶µø±°²";
  for (char16_t c = u'0'; c <= u'9'; ++c) kept += c;
  for (char16_t c = u'A'; c <= u'Z'; ++c) kept += c;
  for (char16_t c = u'a'; c <= u'z'; ++c) kept += c;
  for (char16_t c : kept) expected[c] = c;
  ASSERT_EQ(expected.size(), 146u);  // 17 + 31 + 98, none listed twice

  BoxRecorder boxes;
  const char16_t* hex = u"0123456789ABCDEF";
  for (uint32_t u = 0; u <= 0xFFFF; ++u) {
    if (u >= 0xDC80 && u <= 0xDCFF) continue;
    char16_t c = static_cast<char16_t>(u);
    auto it = expected.find(c);
    std::u16string want =
        it != expected.end()
            ? std::u16string(1, it->second)
            : std::u16string{u'u', hex[u >> 12], hex[(u >> 8) & 0xF],
                             hex[(u >> 4) & 0xF], hex[u & 0xF]};
    ASSERT_EQ(ToDosName(std::u16string(1, c)), want) << "code unit " << u;
  }
  EXPECT_TRUE(boxes.shown.empty());
}

TEST(TransliterationTest, FirstPositionOfARepeatedCharacterWins) {
  TransliterationIndex index(std::u16string_view(u"abab"),
                             std::u16string_view(u"xyz "));
  EXPECT_EQ(TransliterateAndReport(u"abba", index), u"xyyx");
}

TEST(TransliterationTest, SpaceTargetsAreCountedAndAnnouncedOnce) {
  TransliterationIndex index(std::u16string_view(u"abc"),
                             std::u16string_view(u"a  "));
  BoxRecorder boxes;
  EXPECT_EQ(TransliterateAndReport(u"ab!", index), u"a u0021");
  EXPECT_EQ(TransliterateAndReport(u"cbc", index), u"   ");
  EXPECT_EQ(TransliterateAndReport(u"aaa", index), u"aaa");
  ASSERT_EQ(boxes.shown.size(), 2u);
  EXPECT_EQ(boxes.shown[0].text,
            u"Il y a eu 1 erreur de transformation Windows -> Dos");
  EXPECT_EQ(boxes.shown[1].text,
            u"Il y a eu 3 erreurs de transformation Windows -> Dos");
  EXPECT_EQ(boxes.shown[0].title, u"Erreur");
  EXPECT_EQ(boxes.shown[1].title, u"Erreur");
}

TEST(TransliterationTest, ErrorCountStopsAt32767AndTheNameIsStillWritten) {
  TransliterationIndex index(std::u16string_view(u"b"),
                             std::u16string_view(u" "));
  auto result =
      dos_name_internal::Transliterate(std::u16string(40000, u'b'), index);
  EXPECT_EQ(result.error_count, 32767);
  EXPECT_EQ(result.text, std::u16string(40000, u' '));
}

TEST(TransliterationTest, TablesOfDifferentLengthsAreRefused) {
  try {
    TransliterationIndex index(std::u16string_view(u"ab"),
                               std::u16string_view(u"a"));
    FAIL() << "no error raised";
  } catch (const platform::Error& e) {
    EXPECT_EQ(e.number(), platform::kErrInvalidProcedureCall);
  }
}

}  // namespace
}  // namespace vg::text
