// Which launches open the window and which run the batch: a file manager's
// "Open with" passes folders or files, a shell user passes options.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "cli/command_line.h"

namespace vg::cli {
namespace {

class OpenWithTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = ::testing::TempDir() + "open_with_XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    ASSERT_EQ(mkdir((dir_ + "/photos").c_str(), 0700), 0);
    std::ofstream(dir_ + "/photos/a.jpg") << "x";
    ASSERT_EQ(symlink("photos", (dir_ + "/link").c_str()), 0);
    ASSERT_EQ(symlink("photos/a.jpg", (dir_ + "/file_link").c_str()), 0);
    ASSERT_EQ(symlink("nowhere", (dir_ + "/dangling").c_str()), 0);
  }
  void TearDown() override {
    std::string command = "rm -rf '" + dir_ + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
  }

  // WantsCommandLine over "vignettes" followed by `args`.
  static bool Wants(std::vector<std::string> args) {
    args.insert(args.begin(), "vignettes");
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    return WantsCommandLine(static_cast<int>(args.size()), argv.data());
  }

  std::string dir_;
};

TEST_F(OpenWithTest, NoArgumentsOrOneFolderOpenTheWindow) {
  EXPECT_FALSE(Wants({}));
  EXPECT_FALSE(Wants({dir_ + "/photos"}));
  EXPECT_FALSE(Wants({dir_ + "/photos/"}));
  EXPECT_FALSE(Wants({dir_ + "/link"}));  // a link to a folder is a folder
  EXPECT_FALSE(Wants({"/"}));
  EXPECT_FALSE(Wants({"."}));
}

TEST_F(OpenWithTest, AnythingElseGoesToTheCommandLine) {
  // Options, alone or with values.
  EXPECT_TRUE(Wants({"--help"}));
  EXPECT_TRUE(Wants({"--version"}));
  EXPECT_TRUE(Wants({"-q"}));
  EXPECT_TRUE(
      Wants({"--origin", dir_ + "/photos", "--dest", dir_, "--width", "50"}));
  // One argument that is neither a folder nor a file: the command line
  // names what is wrong with it rather than opening a window on nothing.
  EXPECT_TRUE(Wants({dir_ + "/dangling"}));
  EXPECT_TRUE(Wants({dir_ + "/missing"}));
  EXPECT_TRUE(Wants({""}));
  // Folders and anything else.
  EXPECT_TRUE(Wants({dir_ + "/photos", dir_ + "/missing"}));
  EXPECT_TRUE(Wants({dir_ + "/photos", "-q"}));
}

// The desktop entry offers the program for pictures: "Open with" on one
// passes the file, and the window opens on its folder.
TEST_F(OpenWithTest, AFileOpensTheWindowToo) {
  EXPECT_FALSE(Wants({dir_ + "/photos/a.jpg"}));
  EXPECT_FALSE(Wants({dir_ + "/file_link"}));
  EXPECT_FALSE(Wants({dir_ + "/photos/a.jpg", dir_ + "/photos"}));
  EXPECT_TRUE(Wants({dir_ + "/photos/a.jpg", dir_ + "/missing"}));
}

TEST_F(OpenWithTest, SeveralFoldersOpenTheWindowOnTheFirst) {
  // What a file manager passes for several selected folders (Exec=... %F).
  EXPECT_FALSE(Wants({dir_ + "/photos", dir_ + "/link"}));
}

TEST_F(OpenWithTest, AnOptionStaysAnOptionWhenAFolderHasItsName) {
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  ASSERT_EQ(mkdir((dir_ + "/--help").c_str(), 0700), 0);
  ASSERT_EQ(mkdir((dir_ + "/-q").c_str(), 0700), 0);
  ASSERT_EQ(chdir(dir_.c_str()), 0);
  bool help = Wants({"--help"});
  bool quiet = Wants({"-q"});
  bool dotted = Wants({"./--help"});
  ASSERT_EQ(chdir(cwd), 0);
  EXPECT_TRUE(help);
  EXPECT_TRUE(quiet);
  EXPECT_FALSE(dotted);  // the way to name such a folder
}

}  // namespace
}  // namespace vg::cli
