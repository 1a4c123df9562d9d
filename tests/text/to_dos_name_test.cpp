#include "text/to_dos_name.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <thread>
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

// Characters the tables lack are read in Latin letters, and the reading goes
// through the tables: its spaces and punctuation become "_" like the name's
// own. No box is shown for any of them.
TEST(ToDosNameTest, CharactersOutsideTheTablesAreReadInLatinLetters) {
  const struct {
    std::u16string name;
    std::u16string want;
  } kCases[] = {
      // French
      {u"\u00C0 la plage.jpg", u"A_la_plage.jpg"},
      {u"\u0152uvre.jpg", u"OEuvre.jpg"},
      {u"a!b.jpg", u"a_b.jpg"},
      {u"!ab.jpg", u"_ab.jpg"},
      {u"\u00CAtre \u00D4 \u0178ves, c\u0153ur.jpg", u"Etre_O_Yves__coeur.jpg"},
      {u"L\u2019\u00E9t\u00E9 \u00E0 No\u00EBl.jpg", u"L_ete_a_Noel.jpg"},
      // German
      {u"Gr\u00F6\u00DFe \u00C4pfel.jpg", u"Gro\u00DFe_apfel.jpg"},
      // Nordic
      {u"\u00D8resund \u00C5lesund.jpg", u"Oresund_alesund.jpg"},
      {u"\u00DEingvellir.jpg", u"THingvellir.jpg"},
      {u"\u00C6r\u00F8.jpg", u"\u00C6r\u00F8.jpg"},  // the tables
      // Polish
      {u"\u0141\u00F3d\u017A \u017B\u00F3\u0142\u0107.jpg", u"Lodz_Zolc.jpg"},
      // Czech
      {u"P\u0159\u00EDli\u0161 \u017Elu\u0165ou\u010Dk\u00FD.jpg",
       u"Prilis_zlutoucky.jpg"},
      // Turkish
      {u"\u0130stanbul a\u011Fustos \u015F\u0131k.jpg",
       u"Istanbul_agustos_sik.jpg"},
      // Greek
      {u"\u0391\u03B8\u03AE\u03BD\u03B1 2004.jpg", u"Athena_2004.jpg"},
      // Cyrillic
      {u"\u041C\u043E\u0441\u043A\u0432\u0430.jpg", u"Moskva.jpg"},
      // Japanese
      {u"\u65E5\u672C.jpg", u"ri_ben.jpg"},
      {u"\u30AB\u30BF\u30AB\u30CA.jpg", u"katakana.jpg"},
      // Chinese
      {u"\u5317\u4EAC 2008.jpg", u"bei_jing_2008.jpg"},
      // Korean
      {u"\uC11C\uC6B8.jpg", u"seoul.jpg"},
      // What has no reading keeps the name apart by its code point.
      {u"\U0001F600.jpg", u"u1F600.jpg"},
      {u"\U0001F1EB\U0001F1F7 Paris.jpg", u"u1F1EBu1F1F7_Paris.jpg"},
      {u"\u2764\uFE0F.jpg", u"u2764uFE0F.jpg"},
      // Signs with no reading become "_", like those the tables list.
      {u"\u20AC5 \u00A7 \u221E.jpg", u"_5____.jpg"},
      {u"50% \u2013 \u00ABvu\u00BB\u2026.jpg", u"50%_-_\u00ABvu\u00BB....jpg"},
      // A letter stored as its base and a combining accent is the letter.
      {u"e\u0301te\u0301 A\u0300.jpg", u"ete_A.jpg"},
      // Controls, lone surrogates and unassigned code points have no
      // reading either.
      {std::u16string(1, u'\0'), u"u0000"},
      {u"a\tb", u"au0009b"},
      {u"\uFFFF", u"uFFFF"},
      {std::u16string{0xD83D, u'a', 0xDE00}, u"uD83DauDE00"},
      // A reading that would name a folder, not a file.
      {u"\u3002", u"_"},
      {u"\uFF0E\uFF0E", u"__"},
      {u"a\u3002b", u"a.b"},
  };
  BoxRecorder boxes;
  for (const auto& c : kCases) {
    EXPECT_EQ(ToDosName(c.name), c.want) << platform::ToAnsi(c.name);
  }
  EXPECT_TRUE(boxes.shown.empty());
}

// Two different photos must not be written under one name unless the tables
// or the readings merge them (an accent dropped, a sign turned into "_").
TEST(ToDosNameTest, OnlyNamesTheTablesOrTheReadingsMergeCollide) {
  const struct {
    std::u16string a;
    std::u16string b;
    bool same;
  } kPairs[] = {
      {u"\u65E5\u672C\u306E\u590F.jpg", u"\u6771\u4EAC\u306E\u51AC.jpg", false},
      {u"\u041C\u0438\u0440.jpg", u"\u041C\u0438\u0440\u0430.jpg", false},
      {u"\U0001F600.jpg", u"\U0001F601.jpg", false},
      {u"a!b.jpg", u"aab.jpg", false},
      {u"a!b.jpg", u"a?b.jpg", true},
      {u"\u00E9t\u00E9.jpg", u"ete.jpg", true},
      {u"\u0152uvre.jpg", u"OEuvre.jpg", true},
  };
  for (const auto& p : kPairs) {
    EXPECT_EQ(ToDosName(p.a) == ToDosName(p.b), p.same)
        << platform::ToAnsi(p.a) << " / " << platform::ToAnsi(p.b);
  }
}

// The batch's workers name their pictures in parallel: every thread reads
// the same names the same way.
TEST(ToDosNameTest, ThreadsReadNamesAlike) {
  const std::vector<std::u16string> names = {
      u"\u00C0 la plage.jpg", u"\u65E5\u672C\u306E\u590F.jpg",
      u"\u041C\u043E\u0441\u043A\u0432\u0430.jpg", u"\uC11C\uC6B8.jpg",
      u"\u0391\u03B8\u03AE\u03BD\u03B1.jpg"};
  std::vector<std::u16string> want;
  for (const auto& name : names) want.push_back(ToDosName(name));
  std::vector<std::vector<std::u16string>> got(4);
  {
    std::vector<std::thread> threads;
    for (auto& out : got) {
      threads.emplace_back([&names, &out] {
        for (int round = 0; round < 50; ++round) {
          for (const auto& name : names) out.push_back(ToDosName(name));
        }
      });
    }
    for (auto& t : threads) t.join();
  }
  for (const auto& out : got) {
    ASSERT_EQ(out.size(), 50 * names.size());
    for (std::size_t i = 0; i < out.size(); ++i) {
      ASSERT_EQ(out[i], want[i % names.size()]);
    }
  }
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
  // Letters and signs the tables do not know are read as their character,
  // not as the escape.
  EXPECT_EQ(ToDosName(platform::FromAnsi("\x80\x9C\xC0.jpg")), u"_oeA.jpg");
  EXPECT_EQ(ToDosName(platform::FromAnsi("l\x92"
                                         "a.jpg")),
            u"l_a.jpg");
  // The five bytes Windows-1252 leaves undefined keep the escape's code.
  EXPECT_EQ(ToDosName(platform::FromAnsi("\x81\x8D\x8F\x90\x9D")),
            u"uDC81uDC8DuDC8FuDC90uDC9D");
  EXPECT_EQ(ToDosName(platform::FromAnsi("\xC0\x81.jpg")), u"AuDC81.jpg");
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

  // Characters outside them come out as characters the tables keep as they
  // are ("_" included) or as a code; never as nothing, never as a space.
  auto kept_as_is = [&](char16_t c) {
    auto it = expected.find(c);
    return it != expected.end() && it->second == c;
  };
  BoxRecorder boxes;
  for (uint32_t u = 0; u <= 0xFFFF; ++u) {
    if (u >= 0xDC80 && u <= 0xDCFF) continue;
    char16_t c = static_cast<char16_t>(u);
    std::u16string out = ToDosName(std::u16string(1, c));
    if (auto it = expected.find(c); it != expected.end()) {
      ASSERT_EQ(out, std::u16string(1, it->second)) << "code unit " << u;
    } else {
      ASSERT_FALSE(out.empty()) << "code unit " << u;
      ASSERT_TRUE(std::all_of(out.begin(), out.end(), kept_as_is))
          << "code unit " << u << " gave " << platform::ToAnsi(out);
    }
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
  // A reading goes through the same tables and counts the same way: "\u0180"
  // (b with a stroke) is read "b".
  EXPECT_EQ(TransliterateAndReport(u"a\u0180", index), u"a ");
  ASSERT_EQ(boxes.shown.size(), 3u);
  EXPECT_EQ(boxes.shown[0].text,
            u"Il y a eu 1 erreur de transformation Windows -> Dos");
  EXPECT_EQ(boxes.shown[1].text,
            u"Il y a eu 3 erreurs de transformation Windows -> Dos");
  EXPECT_EQ(boxes.shown[2].text, boxes.shown[0].text);
  for (const auto& box : boxes.shown) EXPECT_EQ(box.title, u"Erreur");
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
