#include "text/to_dos_name.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

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

TEST(ToDosNameTest, UnlistedCodeUnitsBecomeOneUnderscoreEachSilently) {
  BoxRecorder boxes;
  EXPECT_EQ(ToDosName(u"a!b.jpg"), u"a_b.jpg");
  EXPECT_NE(ToDosName(u"a!b.jpg"), ToDosName(u"aab.jpg"));
  EXPECT_EQ(ToDosName(u"!ab.jpg"), u"_ab.jpg");
  EXPECT_EQ(ToDosName(u"Œuvre.jpg"), u"_uvre.jpg");
  EXPECT_EQ(ToDosName(u"ÀÊÔ.png"), u"___.png");
  EXPECT_EQ(ToDosName(u"\U0001F600.jpg"), u"__.jpg");  // a surrogate pair
  EXPECT_TRUE(boxes.shown.empty());
}

// The expected mapping is written from the documented summary of the tables,
// independently of the tables themselves, and checked for all 65536 units.
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
  for (uint32_t u = 0; u <= 0xFFFF; ++u) {
    char16_t c = static_cast<char16_t>(u);
    auto it = expected.find(c);
    char16_t want = it == expected.end() ? u'_' : it->second;
    ASSERT_EQ(ToDosName(std::u16string(1, c)), std::u16string(1, want))
        << "code unit " << u;
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
  EXPECT_EQ(TransliterateAndReport(u"ab!", index), u"a _");
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
