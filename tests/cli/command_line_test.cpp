#include "cli/command_line.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "app/form1.h"
#include "common/test_files.h"
#include "decoders/decode_picture.h"
#include "platform/code_page.h"
#include "thumbnail/desktop_cache.h"

namespace vg::cli {
namespace {

namespace fs = std::filesystem;

class CommandLineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = temp_.path();
    fs::create_directory(root_ / "in");
  }

  void WriteJpeg(const std::string& name, int w, int h) {
    testing::WriteJpeg(root_ / "in" / name, w, h);
  }

  // Runs the command line; returns its exit code and keeps its stderr.
  int Run(std::vector<std::string> args) {
    args.insert(args.begin(), "vignettes");
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    ::testing::internal::CaptureStderr();
    ::testing::internal::CaptureStdout();
    int code = RunCommandLine(static_cast<int>(args.size()), argv.data());
    out_ = ::testing::internal::GetCapturedStdout();
    err_ = ::testing::internal::GetCapturedStderr();
    return code;
  }

  std::string In() const { return (root_ / "in").string(); }
  std::string Out() const { return (root_ / "out").string(); }

  vg::testing::TempFolder temp_;
  fs::path root_;
  std::string out_, err_;
};

TEST_F(CommandLineTest, OneSetWithAFolderGivenWithoutItsSlash) {
  WriteJpeg("a.jpg", 300, 200);
  WriteJpeg("b c.jpg", 200, 300);
  EXPECT_EQ(Run({"--origin", In(), "--dest", Out(), "--width", "150"}), 0)
      << err_;
  EXPECT_TRUE(fs::exists(root_ / "out" / "a.jpg"));
  EXPECT_TRUE(fs::exists(root_ / "out" / "b_c.jpg"));
  // A summary a person reads, on stdout; nothing but it.
  EXPECT_EQ(out_.rfind("2 pictures: 2 written, 0 failed, ", 0), 0u) << out_;
  EXPECT_EQ(std::count(out_.begin(), out_.end(), '\n'), 1);
  EXPECT_EQ(err_, "");
}

// A folder of metafiles runs like photos: each drawn at the width, its
// height in proportion to its logical size.
TEST_F(CommandLineTest, MetafilesMakeThumbnailsLikePhotos) {
  const fs::path pictures = VG_TEST_PICTURES_DIR;
  fs::copy_file(pictures / "inkscape_shapes.emf", root_ / "in" / "e.emf");
  fs::copy_file(pictures / "inkscape_shapes.wmf", root_ / "in" / "w.wmf");
  fs::copy_file(pictures / "plain_window.wmf", root_ / "in" / "plain.wmf");
  WriteJpeg("photo.jpg", 300, 200);
  ASSERT_EQ(Run({"--origin", In(), "--dest", Out(), "--width", "96"}), 0)
      << err_;
  EXPECT_EQ(out_.rfind("4 pictures: 4 written, 0 failed, ", 0), 0u) << out_;
  // Each thumbnail keeps its picture's name, as photos do: JPEG data under
  // e.emf. The metafiles are 193 x 98, 192 x 96 and 1000 x 500 logical
  // pixels, the photo 300 x 200.
  struct Expected {
    const char* name;
    int height;  // 96 wide
  };
  for (const Expected& e :
       {Expected{"e.emf", 49}, Expected{"w.wmf", 48}, Expected{"plain.wmf", 48},
        Expected{"photo.jpg", 64}}) {
    SCOPED_TRACE(e.name);
    const decoders::DecodedImage thumb = decoders::DecodePictureFile(
        platform::FromAnsi((root_ / "out" / e.name).string()));
    EXPECT_EQ(thumb.width, 96);
    EXPECT_EQ(thumb.height, e.height);
    if (e.name[0] == 'e' || e.name[0] == 'w') {
      // The drawing's red box, at 10 - 50 by 10 - 40, halved.
      const uint8_t* p = thumb.bgrx.data() + 12 * thumb.stride_bytes + 15 * 4;
      EXPECT_GT(p[2], 200);
      EXPECT_LT(p[1], 60);
      EXPECT_LT(p[0], 60);
    }
  }
}

TEST_F(CommandLineTest, TwoSetsGoIntoTheDestinationAndGrand) {
  WriteJpeg("a.jpg", 900, 600);
  EXPECT_EQ(Run({"--origin", In() + "/", "--dest", Out(), "--small", "100",
                 "--large", "450", "-j", "2"}),
            0)
      << err_;
  EXPECT_TRUE(fs::exists(root_ / "out" / "a.jpg"));
  EXPECT_TRUE(fs::exists(root_ / "out" / "Grand" / "a.jpg"));
  EXPECT_EQ(out_.rfind("1 picture: 1 written, 0 failed, ", 0), 0u) << out_;
}

TEST_F(CommandLineTest, AFileThatFailsIsNamedAndTheExitCodeSaysSo) {
  WriteJpeg("a.jpg", 30, 20);
  std::ofstream(root_ / "in" / "notes.txt") << "hello";
  EXPECT_EQ(Run({"--origin", In(), "--dest", Out(), "--width", "10"}), 1);
  EXPECT_NE(err_.find("notes.txt: Invalid picture"), std::string::npos) << err_;
  EXPECT_TRUE(fs::exists(root_ / "out" / "a.jpg"));
}

TEST_F(CommandLineTest, ValuesAfterEqualsGluedAndGroupedFlags) {
  WriteJpeg("a.jpg", 300, 200);
  EXPECT_EQ(Run({"--origin=" + In(), "--dest=" + Out(), "--width=150", "-qj1"}),
            0)
      << err_;
  EXPECT_TRUE(fs::exists(root_ / "out" / "a.jpg"));
  EXPECT_EQ(out_, "") << out_;  // -q: no summary

  EXPECT_EQ(Run({"-qj", "2", "--ori", In(), "--dest", Out() + "2",
                 "--small=100", "--large", "450", "--"}),
            0)
      << err_;
  EXPECT_TRUE(fs::exists(root_ / "out2" / "a.jpg"));
  EXPECT_TRUE(fs::exists(root_ / "out2" / "Grand" / "a.jpg"));
}

TEST_F(CommandLineTest, RefusedFormsExitWithTwoAndTouchNothing) {
  WriteJpeg("a.jpg", 30, 20);
  const std::string origin = "--origin=" + In();
  const std::string dest = "--dest=" + Out();
  EXPECT_EQ(Run({origin, dest, "--width=10", "-j"}), 2);
  EXPECT_NE(err_.find("vignettes: -j needs a value\n"), std::string::npos)
      << err_;
  EXPECT_EQ(Run({origin, dest, "--width=10", "--", "more"}), 2);
  EXPECT_NE(err_.find("unknown argument 'more'"), std::string::npos) << err_;
  EXPECT_EQ(Run({origin, dest, "--width=10", "--quiet=yes"}), 2);
  EXPECT_NE(err_.find("--quiet takes no value"), std::string::npos) << err_;
  EXPECT_EQ(Run({origin, dest, "--width=10", "-qz"}), 2);
  EXPECT_NE(err_.find("unknown argument '-z'"), std::string::npos) << err_;
  EXPECT_NE(err_.find("Try 'vignettes --help'."), std::string::npos);
  EXPECT_TRUE(out_.empty());
  EXPECT_FALSE(fs::exists(root_ / "out"));
}

TEST_F(CommandLineTest, UsageErrorsExitWithTwo) {
  EXPECT_EQ(Run({"--origin", In()}), 2);
  EXPECT_EQ(Run({"--origin", In(), "--dest", Out(), "--width", "abc"}), 2);
  EXPECT_EQ(Run({"--origin", In(), "--dest", Out(), "--width", "10", "--small",
                 "5", "--large", "9"}),
            2);
  EXPECT_EQ(Run({"--origin", In(), "--dest", Out(), "--small", "5"}), 2);
  EXPECT_EQ(
      Run({"--origin", In(), "--dest", Out(), "--width", "10", "-j", "0"}), 2);
  EXPECT_EQ(Run({"--bogus"}), 2);
  EXPECT_NE(err_.find("unknown argument '--bogus'"), std::string::npos);
  EXPECT_FALSE(fs::exists(root_ / "out"));  // nothing made on a usage error
}

TEST_F(CommandLineTest, HelpAndVersion) {
  EXPECT_EQ(Run({"--help"}), 0);
  EXPECT_NE(out_.find("--origin DIR"), std::string::npos);
  EXPECT_NE(out_.find("vignettes --origin=photos"), std::string::npos);
  EXPECT_EQ(Run({"-qh"}), 0);
  EXPECT_NE(out_.find("--origin DIR"), std::string::npos);
  EXPECT_EQ(Run({"--version"}), 0);
  EXPECT_EQ(out_.rfind("vignettes ", 0), 0u);
}

TEST_F(CommandLineTest,
       AMissingOriginIsAFailureNotASuccessWhateverItsSpelling) {
  for (const std::string& origin :
       {In() + "/nope/", In() + "/nope", In() + "/nope/*.jpg",
        std::string("/no/such")}) {
    SCOPED_TRACE(origin);
    EXPECT_EQ(Run({"--origin", origin, "--dest", Out(), "--width", "10"}), 1);
    EXPECT_NE(err_.find(": no such folder"), std::string::npos) << err_;
    EXPECT_EQ(out_, "");
  }
}

TEST_F(CommandLineTest, APatternSelectsNamesAndTheFolderIsWhereTheyAreRead) {
  WriteJpeg("a.jpg", 300, 200);
  WriteJpeg("b.JPG", 300, 200);
  WriteJpeg("c.png.jpeg", 300, 200);
  EXPECT_EQ(
      Run({"--origin", In() + "/*.jpg", "--dest", Out(), "--width", "150"}), 0)
      << err_;
  EXPECT_EQ(testing::FilesIn(root_ / "out"),
            (std::set<std::string>{"a.jpg", "b.JPG"}));
}

TEST_F(CommandLineTest, QuietPrintsNothingButFailures) {
  WriteJpeg("a.jpg", 30, 20);
  EXPECT_EQ(Run({"--origin", In(), "--dest", Out(), "--width", "10", "-q"}), 0);
  EXPECT_EQ(out_, "");
  EXPECT_EQ(err_, "");
  std::ofstream(root_ / "in" / "notes.txt") << "hello";
  EXPECT_EQ(Run({"--origin", In(), "--dest", Out(), "--width", "10", "-q"}), 1);
  EXPECT_EQ(out_, "");
  EXPECT_EQ(err_, "vignettes: " + In() +
                      "/notes.txt: Invalid picture (not a format read here; "
                      "the file starts with \"hello\")\n");
}

TEST_F(CommandLineTest, OnlySkippedNamesMakeNoPictureForAnyNumberOfJobs) {
  std::ofstream(root_ / "in" / "Thumbs.db") << "x";
  for (const char* jobs : {"1", "4"}) {
    EXPECT_EQ(
        Run({"--origin", In(), "--dest", Out(), "--width", "10", "-j", jobs}),
        0);
    EXPECT_EQ(out_.rfind("0 pictures: 0 written, 0 failed, ", 0), 0u) << out_;
    EXPECT_TRUE(testing::FilesIn(root_ / "out").empty());
  }
}

// Every wrong collection option is refused before anything is made: no
// destination, no report, no thumbnail.
TEST_F(CommandLineTest, CollectionUsageErrorsExitWithTwoAndTouchNothing) {
  WriteJpeg("a.jpg", 30, 20);
  for (const char* name : {"SLURM_ARRAY_TASK_ID", "SLURM_ARRAY_TASK_COUNT",
                           "JOB_COMPLETION_INDEX"})
    unsetenv(name);
  const std::vector<std::string> run = {"--origin", In(),      "--dest",
                                        Out(),      "--width", "10"};
  const std::string report = (root_ / "report.jsonl").string();
  struct Case {
    std::vector<std::string> extra;
    std::string message;
  };
  const std::vector<Case> cases = {
      {{"--shard", "3/2"}, "--shard 3/2: K must be below N"},
      {{"--shard=0/0"}, "--shard 0/0: N must be 1 or more"},
      {{"--shard", "auto"}, "--shard auto: no Slurm array task here"},
      {{"--shard", "auto/3"}, "--shard auto/3: neither JOB_COMPLETION_INDEX"},
      {{"--files-from", (root_ / "nope.txt").string(), "--report", report},
       "cannot read --files-from '" + (root_ / "nope.txt").string() +
           "': No such file or directory"},
      {{"--files-from", (root_ / "in").string(), "--report", report},
       "cannot read --files-from"},
      {{"--report", (root_ / "no" / "r.jsonl").string()},
       "cannot write --report '" + (root_ / "no" / "r.jsonl").string() +
           "': No such file or directory"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = run;
    args.insert(args.end(), c.extra.begin(), c.extra.end());
    SCOPED_TRACE(c.message);
    EXPECT_EQ(Run(args), 2);
    EXPECT_NE(err_.find("vignettes: " + c.message), std::string::npos) << err_;
    EXPECT_FALSE(fs::exists(root_ / "out"));
    EXPECT_FALSE(fs::exists(report));
  }
}

// The report is opened before the origin is listed, and may lie in it: it
// is the run's own file, never a picture, and no thumbnail replaces it.
TEST_F(CommandLineTest, TheReportIsNeverAnInputNorReplaced) {
  fs::create_directories(root_ / "in" / "sub");
  WriteJpeg("a.jpg", 300, 200);
  WriteJpeg("b.jpg", 300, 200);
  WriteJpeg("sub/c.jpg", 300, 200);
  fs::create_directories(root_ / "out");
  const struct {
    std::vector<std::string> args;
    fs::path report;
    size_t failed;  // b.jpg, when the report is where its thumbnail goes
    std::set<std::string> tree;
  } kCases[] = {
      {{}, root_ / "in" / "run.jsonl", 0, {"a.jpg", "b.jpg"}},
      {{"-r"},
       root_ / "in" / "sub" / "run.jsonl",
       0,
       {"a.jpg", "b.jpg", "sub/c.jpg"}},
      {{"--small", "40", "--large", "80"},
       root_ / "in" / "run.jsonl",
       0,
       {"a.jpg", "b.jpg", "Grand/a.jpg", "Grand/b.jpg"}},
      {{}, root_ / "out" / "b.jpg", 1, {"a.jpg", "b.jpg"}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.report.string() + " " + std::to_string(c.args.size()));
    fs::remove_all(root_ / "out");
    fs::create_directories(root_ / "out");
    std::vector<std::string> args = {"--origin", In(),       "--dest",
                                     Out(),      "--report", c.report.string()};
    if (c.args.size() < 2) args.insert(args.end(), {"--width", "50"});
    args.insert(args.end(), c.args.begin(), c.args.end());
    EXPECT_EQ(Run(args), c.failed == 0 ? 0 : 1) << err_;
    EXPECT_EQ(testing::TreeIn(root_ / "out"), c.tree);
    const size_t pictures = c.tree.size() - (c.args.size() > 1 ? 2 : 0);
    const std::string report = testing::ReadBytes(c.report);
    EXPECT_EQ(std::count(report.begin(), report.end(), '\n'),
              static_cast<long>(pictures))
        << report;
    EXPECT_EQ(report.find("run.jsonl"), std::string::npos) << report;
    EXPECT_EQ(std::count(err_.begin(), err_.end(), '\n'),
              static_cast<long>(c.failed))
        << err_;
    fs::remove(c.report);
  }
}

// One JSON line a picture; its failed pictures, read back from it, are what
// --files-from runs again.
TEST_F(CommandLineTest, TheReportNamesEveryPictureAndFeedsARunOfTheFailed) {
  fs::create_directories(root_ / "in" / "sub");
  WriteJpeg("a.jpg", 300, 200);
  WriteJpeg("sub/b c.jpg", 300, 200);
  WriteJpeg("sub/caf\xe9.jpg", 300, 200);  // not UTF-8
  std::ofstream(root_ / "in" / "sub" / "notes.txt") << "no picture";
  const std::string report = (root_ / "report.jsonl").string();
  EXPECT_EQ(Run({"-r", "--origin", In(), "--dest", Out(), "--width", "50",
                 "--report", report}),
            1);
  std::vector<std::string> lines;
  {
    std::ifstream in(report);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
  }
  ASSERT_EQ(lines.size(), 4u);
  std::sort(lines.begin(), lines.end());
  EXPECT_EQ(lines[0].rfind("{\"input\":\"" + In() + "/a.jpg\",\"outputs\":[\"" +
                               Out() + "/a.jpg\"],\"status\":\"written\"," +
                               "\"reason\":\"\",\"ms\":",
                           0),
            0u)
      << lines[0];
  EXPECT_NE(lines[2].find("\"input\":\"" + In() + "/sub/caf\\udce9.jpg\""),
            std::string::npos)
      << lines[2];
  EXPECT_NE(lines[2].find("\"" + Out() + "/sub/cafe.jpg\""), std::string::npos);
  EXPECT_NE(lines[3].find("/sub/notes.txt\",\"outputs\":[\"" + Out() +
                          "/sub/notes.txt\"],\"status\":\"failed\","
                          "\"reason\":\"Invalid picture (not a format read "
                          "here; the file starts with \\\"no pictu\\\")\""),
            std::string::npos)
      << lines[3];

  // The failed one is fixed, and run again alone, named as the report names
  // it; a newline-separated list works too, and so does standard input.
  WriteJpeg("sub/notes.txt", 300, 200);
  const fs::path list = root_ / "failed.list";
  std::ofstream(list) << In() << "/sub/notes.txt" << '\0';
  fs::remove_all(root_ / "out");
  EXPECT_EQ(Run({"-r", "--origin", In(), "--dest", Out(), "--width", "50",
                 "--files-from", list.string(), "-0"}),
            0)
      << err_;
  EXPECT_EQ(testing::TreeIn(root_ / "out"),
            std::set<std::string>{"sub/notes.txt"});
  EXPECT_EQ(out_.rfind("1 picture: 1 written, 0 failed", 0), 0u) << out_;
  std::ofstream(list) << "a.jpg\nsub/b c.jpg\n\nsub/notes.txt\n";
  EXPECT_EQ(Run({"-r", "--origin", In(), "--dest", Out(), "--width", "50",
                 "--files-from", list.string(), "-u"}),
            0)
      << err_;
  EXPECT_EQ(out_.rfind("3 pictures: 2 written, 1 up to date, 0 failed", 0), 0u)
      << out_;
  EXPECT_EQ(testing::TreeIn(root_ / "out"),
            (std::set<std::string>{"a.jpg", "sub/b_c.jpg", "sub/notes.txt"}));
}

// A picture named "Grand" splits a two-size run into one run a set, as the
// window does: the report still has one line a picture, with both outputs.
TEST_F(CommandLineTest, TheReportHasOneLineAPictureWhenTheSetsRunApart) {
  WriteJpeg("Grand", 300, 200);
  WriteJpeg("a.jpg", 300, 200);
  const std::string report = (root_ / "report.jsonl").string();
  const fs::path list = root_ / "list";
  std::ofstream(list) << "Grand\na.jpg\nnowhere.jpg\n";
  EXPECT_EQ(Run({"--origin", In(), "--dest", Out(), "--small", "50", "--large",
                 "100", "--report", report, "--files-from", list.string()}),
            1);
  // The path that is not there is named once, not once a set.
  EXPECT_EQ(err_.find("nowhere.jpg: not found in the origin"),
            err_.rfind("nowhere.jpg: not found in the origin"))
      << err_;
  std::vector<std::string> lines;
  {
    std::ifstream in(report);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
  }
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_NE(lines[0].find("\"input\":\"nowhere.jpg\",\"outputs\":[]"),
            std::string::npos)
      << lines[0];
  EXPECT_NE(lines[2].find("\"outputs\":[\"" + Out() + "/a.jpg\",\"" + Out() +
                          "/Grand/a.jpg\"],\"status\":\"failed\""),
            std::string::npos)
      << lines[1];
}

// Existing folders or files, as a file manager passes them: the window
// opens.
TEST(WantsCommandLineTest,
     FoldersAndFilesOpenTheWindowAnythingElseTheCommandLine) {
  char prog[] = "vignettes", tmp[] = "/tmp", root[] = "/",
       missing[] = "/nope/x", opt[] = "-q", file[] = "/proc/self/exe",
       device[] = "/dev/null";
  char* none[] = {prog, nullptr};
  char* one[] = {prog, tmp, nullptr};
  char* two[] = {prog, tmp, root, nullptr};
  char* with_file[] = {prog, file, tmp, nullptr};
  char* bad[] = {prog, tmp, missing, nullptr};
  char* flag[] = {prog, opt, tmp, nullptr};
  char* not_a_file[] = {prog, device, nullptr};
  EXPECT_FALSE(WantsCommandLine(1, none));
  EXPECT_FALSE(WantsCommandLine(2, one));
  EXPECT_FALSE(WantsCommandLine(3, two));
  EXPECT_FALSE(WantsCommandLine(3, with_file));
  EXPECT_TRUE(WantsCommandLine(3, bad));
  EXPECT_TRUE(WantsCommandLine(3, flag));
  EXPECT_TRUE(WantsCommandLine(2, not_a_file));
}

// Every format the decoders read makes an upright thumbnail, whatever the
// file's name says (a TIFF-shaped DNG, a WebP named .jpg).
TEST_F(CommandLineTest, WebpTiffHeifAvifAndRawMakeUprightThumbnails) {
  const fs::path pictures = VG_TEST_PICTURES_DIR;
  const std::vector<std::pair<std::string, std::string>> files = {
      {"grid_orient6.webp", "webp_named.jpg"},
      {"grid_tiled_orient6.tif", "tiled.tif"},
      {"grid96_irot.heic", "turned.heic"},
      {"grid96_irot.avif", "turned.avif"},
      {"grid48_orient6.dng", "camera.dng"}};
  for (const auto& [from, to] : files) {
    fs::copy_file(pictures / from, root_ / "in" / to);
  }
  ASSERT_EQ(Run({"--origin", In(), "--dest", Out(), "--width", "12"}), 0)
      << err_;
  EXPECT_EQ(out_.rfind("5 pictures: 5 written, 0 failed, ", 0), 0u) << out_;
  for (const auto& [from, to] : files) {
    // All are 3:2 landscape once upright.
    testing::JpegInfo info = testing::ReadJpegInfo(root_ / "out" / to);
    EXPECT_EQ(info.width, 12) << to;
    EXPECT_EQ(info.height, 8) << to;
  }
}

// Both sets come from one listing and one decode of each picture: the small
// thumbnail of a large photo is made from the decode the large one needs, so
// it is not the file a one-set run at the small width writes.
TEST_F(CommandLineTest, TwoSetsReadEachPictureOnceForBoth) {
  testing::WriteDetailedJpeg(root_ / "in" / "a.jpg", 2000, 1500);
  ASSERT_EQ(Run({"--origin", In(), "--dest", Out(), "--small", "100", "--large",
                 "450"}),
            0)
      << err_;
  const fs::path alone = root_ / "alone";
  ASSERT_EQ(Run({"--origin", In(), "--dest", alone.string(), "--width", "100"}),
            0);
  EXPECT_EQ(testing::ReadJpegInfo(root_ / "out" / "a.jpg").width, 100);
  EXPECT_NE(testing::ReadBytes(root_ / "out" / "a.jpg"),
            testing::ReadBytes(alone / "a.jpg"));
}

// A picture written as "Grand" stands where the large set's folder goes: the
// sets are then made one after the other, exactly as the window's two-size
// command makes them, with the same files and the same failures.
TEST_F(CommandLineTest, APictureNamedGrandMakesWhatTheWindowMakes) {
  testing::WriteDetailedJpeg(root_ / "in" / "Grand", 900, 600, 1);
  testing::WriteDetailedJpeg(root_ / "in" / "a.jpg", 900, 600, 2);
  EXPECT_EQ(Run({"--origin", In(), "--dest", Out(), "--small", "100", "--large",
                 "450", "-j", "2"}),
            1);

  const fs::path window_out = root_ / "window";
  fs::create_directory(window_out);
  app::Form1 form;
  form.Text1.set_text(platform::FromAnsi(In() + "/"));
  form.Text2.set_text(platform::FromAnsi(window_out.string() + "/"));
  form.Command5_Click();

  std::string why;
  EXPECT_TRUE(testing::SameFiles(root_ / "out", window_out, &why)) << why;
  EXPECT_FALSE(fs::exists(root_ / "out" / "Grand" / "a.jpg"));
  // The large set's two files could not be written, in the window as here.
  ASSERT_EQ(form.failures().size(), 2u);
  for (const app::FailedFile& f : form.failures()) {
    // Named under the command line's own destination.
    const std::string path =
        platform::ToAnsi(f.path).replace(0, window_out.string().size(), Out());
    EXPECT_NE(err_.find(path + ": " + f.reason), std::string::npos) << err_;
  }
}

// The cache fill through the command line: the entries land below
// XDG_CACHE_HOME (else HOME's .cache), the report names them, and without
// either variable nothing is made.
TEST_F(CommandLineTest, CacheFillsTheCacheTheEnvironmentNames) {
  WriteJpeg("a b.jpg", 300, 200);
  const std::string report = (root_ / "r.jsonl").string();
  const std::string uri = thumbnail::FileUri(In() + "/a b.jpg");
  const std::string name = thumbnail::CacheEntryName(uri);
  struct Saved {
    const char* name;
    std::string value;
    bool set;
  };
  std::vector<Saved> saved;
  for (const char* var : {"XDG_CACHE_HOME", "HOME"}) {
    const char* v = std::getenv(var);
    saved.push_back({var, v != nullptr ? v : "", v != nullptr});
  }
  setenv("XDG_CACHE_HOME", (root_ / "xdg").c_str(), 1);
  EXPECT_EQ(Run({"--cache=normal", "-q", "--origin", In(), "--report", report}),
            0)
      << err_;
  EXPECT_TRUE(fs::exists(root_ / "xdg/thumbnails/normal" / name));
  EXPECT_FALSE(fs::exists(root_ / "xdg/thumbnails/large"));
  EXPECT_NE(testing::ReadBytes(report).find(name), std::string::npos);

  setenv("XDG_CACHE_HOME", "relative/not/used", 1);
  setenv("HOME", (root_ / "home").c_str(), 1);
  EXPECT_EQ(Run({"--cache", "-q", "--origin", In()}), 0) << err_;
  EXPECT_TRUE(fs::exists(root_ / "home/.cache/thumbnails/large" / name));

  unsetenv("XDG_CACHE_HOME");
  unsetenv("HOME");
  EXPECT_EQ(Run({"--cache", "--origin", In()}), 2);
  EXPECT_NE(err_.find("no cache folder"), std::string::npos) << err_;
  for (const Saved& s : saved) {
    if (s.set) setenv(s.name, s.value.c_str(), 1);
  }
}

}  // namespace
}  // namespace vg::cli
