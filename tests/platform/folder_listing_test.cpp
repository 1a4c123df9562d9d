#include "platform/folder_listing.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "common/run_as_nobody.h"
#include "common/test_files.h"
#include "platform/case_fold.h"
#include "platform/code_page.h"
#include "platform/error.h"

namespace vg::platform {
namespace {

namespace fs = std::filesystem;

class FolderListingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = temp_.path();
    for (const char* name : {"b.JPG", "a.jpg", "c.txt", ".hidden.jpg",
                             "Thumbs.db", "caf\xE9.jpg"}) {
      std::ofstream(root_ / name) << "x";
    }
    fs::create_directory(root_ / "sub.jpg");
    fs::create_symlink(root_ / "a.jpg", root_ / "link.jpg");
    fs::create_symlink(root_ / "sub.jpg", root_ / "dirlink.jpg");
  }

  std::u16string Folder() const { return FromAnsi(root_.string() + "/"); }

  static std::vector<std::u16string> Names(const std::vector<ListedFile>& v) {
    std::vector<std::u16string> names;
    for (const auto& f : v) names.push_back(f.name);
    return names;
  }

  vg::testing::TempFolder temp_;
  fs::path root_;
};

TEST_F(FolderListingTest, ListsNormalFilesSortedWithoutHiddenOrFolders) {
  auto names = Names(ListFolder(Folder()));
  std::vector<std::u16string> expected = {
      u"Thumbs.db", u"a.jpg", u"b.JPG", u"c.txt", FromAnsi("caf\xE9.jpg"),
      u"link.jpg"};
  EXPECT_EQ(names, expected);
}

TEST_F(FolderListingTest, NonUtf8NameOpensAgain) {
  for (const ListedFile& f : ListFolder(Folder() + u"caf*")) {
    std::string path = ToAnsi(Folder() + f.name);
    EXPECT_EQ(access(path.c_str(), R_OK), 0) << path;
    EXPECT_GT(f.inode, 0u);
  }
}

TEST_F(FolderListingTest, PatternsMatchWithoutCase) {
  EXPECT_EQ(Names(ListFolder(Folder() + u"*.jpg")),
            (std::vector<std::u16string>{
                u"a.jpg", u"b.JPG", FromAnsi("caf\xE9.jpg"), u"link.jpg"}));
  EXPECT_EQ(Names(ListFolder(Folder() + u"?.TXT")),
            (std::vector<std::u16string>{u"c.txt"}));
  EXPECT_EQ(Names(ListFolder(Folder() + u"a.jpg")),
            (std::vector<std::u16string>{u"a.jpg"}));
}

TEST_F(FolderListingTest, FolderWithoutTrailingSlashListsNothingInside) {
  // "/tmp/x" names the entry x of /tmp, a folder: not a normal file.
  EXPECT_TRUE(ListFolder(FromAnsi(root_.string())).empty());
  EXPECT_TRUE(ListFolder(Folder() + u"missing/").empty());
}

// "/probe" names the file probe of the root folder, whatever the current
// folder holds; "probe" alone is the current folder's.
TEST_F(FolderListingTest, PatternInTheRootNeverListsTheCurrentFolder) {
  if (fs::exists("/probe")) GTEST_SKIP() << "the root folder holds a probe";
  std::ofstream(root_ / "probe") << "x";
  struct BackToFolder {
    fs::path folder = fs::current_path();
    ~BackToFolder() { fs::current_path(folder); }
  } back;
  fs::current_path(root_);
  EXPECT_TRUE(ListFolder(u"/probe").empty());
  EXPECT_TRUE(ListFolder(u"/pro*").empty());
  EXPECT_EQ(Names(ListFolder(u"probe")), std::vector<std::u16string>{u"probe"});
}

TEST_F(FolderListingTest, UnreadableFolderRaisesAccessError) {
  // Root reads every folder: a child of user nobody, whom the mode binds,
  // lists it instead, in a root it may enter.
  const bool as_nobody = geteuid() == 0;
  if (as_nobody) test_support::OpenToOthers(root_);
  fs::create_directory(root_ / "locked");
  chmod((root_ / "locked").c_str(), 0);
  // The listing beside it proves that the root itself could be read.
  const auto list = [this]() -> std::string {
    std::string seen = std::to_string(ListFolder(Folder()).size()) + " ";
    try {
      ListFolder(Folder() + u"locked/");
      return seen + "no error";
    } catch (const Error& e) {
      return seen + std::to_string(e.number());
    }
  };
  const std::string expected =
      "6 " + std::to_string(static_cast<int>(kErrPathFileAccess));
  if (as_nobody) {
    const test_support::ChildOutcome child = test_support::RunAsNobody(list);
    EXPECT_EQ(child.exit_code, 0) << child.out;
    EXPECT_EQ(child.out, expected);
  } else {
    EXPECT_EQ(list(), expected);
  }
  chmod((root_ / "locked").c_str(), 0700);
}

TEST_F(FolderListingTest, DirWalksOneListingAtATime) {
  EXPECT_EQ(Dir(Folder() + u"*.txt"), u"c.txt");
  EXPECT_EQ(Dir(Folder() + u"?.jpg"), u"a.jpg");  // abandons the first
  EXPECT_EQ(DirNext(), u"b.JPG");
  EXPECT_EQ(DirNext(), u"");
  EXPECT_EQ(DirNext(), u"");
}

TEST(SplitPatternTest, FolderKeepsItsSlashAndNameIsTheRest) {
  struct Case {
    std::u16string_view pattern, folder, name;
  };
  for (const Case& c :
       {Case{u"/photos/*.jpg", u"/photos/", u"*.jpg"}, Case{u"/x", u"/", u"x"},
        Case{u"/", u"/", u""}, Case{u"/photos/in/", u"/photos/in/", u""},
        Case{u"a/b", u"a/", u"b"}, Case{u"photo.jpg", u"", u"photo.jpg"},
        Case{u"", u"", u""}}) {
    std::u16string folder = u"old", name = u"old";
    SplitPattern(c.pattern, &folder, &name);
    EXPECT_EQ(folder, c.folder) << ToAnsi(c.pattern);
    EXPECT_EQ(name, c.name) << ToAnsi(c.pattern);
  }
}

TEST(WildcardTest, MatchesLikeFileNamePatterns) {
  EXPECT_TRUE(MatchesPattern(u"photo.JPG", u"*.jpg"));
  EXPECT_TRUE(MatchesPattern(u"a.b.c", u"*.c"));
  EXPECT_TRUE(MatchesPattern(u"abc", u"a*b*c*"));
  EXPECT_FALSE(MatchesPattern(u"abc", u"a?"));
  EXPECT_TRUE(MatchesPattern(u"\u00C9t\u00E9.jpg", u"\u00E9T\u00C9*"));
  EXPECT_FALSE(MatchesPattern(u"x", u""));
  // A pathological pattern stays fast (no exponential backtracking).
  std::u16string name(2000, u'a');
  EXPECT_FALSE(MatchesPattern(name, u"*a*a*a*a*a*a*a*b"));
}

TEST(CaseFoldTest, FoldsEuropeanLetters) {
  EXPECT_EQ(FoldCase(u"THUMBS.DB"), u"thumbs.db");
  EXPECT_EQ(FoldCase(u"\u00C0\u00DE\u00D7"), u"\u00E0\u00FE\u00D7");
  EXPECT_EQ(FoldCase(u"\u0141\u0178\u017D\u0130"), u"\u0142\u00FF\u017Ei");
  EXPECT_EQ(FoldCase(u"\u0391\u0386\u03A9"), u"\u03B1\u03AC\u03C9");
  EXPECT_EQ(FoldCase(u"\u0416\u0401"), u"\u0436\u0451");
  EXPECT_EQ(FoldCase(u"\u00DF\u0153"), u"\u00DF\u0153");
}

}  // namespace
}  // namespace vg::platform
