#include "cli/command_line.h"

#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace vg::cli {
namespace {

namespace fs = std::filesystem;

class CommandLineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/vg_cli_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    root_ = tmpl;
    fs::create_directory(root_ / "in");
  }
  void TearDown() override { fs::remove_all(root_); }

  void WriteJpeg(const std::string& name, int w, int h) {
    std::vector<uint8_t> rgb(static_cast<size_t>(w) * h * 3, 128);
    tjhandle handle = tjInitCompress();
    unsigned char* out = nullptr;
    unsigned long size = 0;
    ASSERT_EQ(tjCompress2(handle, rgb.data(), w, 0, h, TJPF_RGB, &out, &size,
                          TJSAMP_420, 85, 0),
              0);
    tjDestroy(handle);
    std::ofstream(root_ / "in" / name, std::ios::binary)
        .write(reinterpret_cast<const char*>(out), static_cast<long>(size));
    tjFree(out);
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
  EXPECT_NE(err_.find("photo : 2"), std::string::npos);
}

TEST_F(CommandLineTest, TwoSetsGoIntoTheDestinationAndGrand) {
  WriteJpeg("a.jpg", 900, 600);
  EXPECT_EQ(Run({"--origin", In() + "/", "--dest", Out(), "--small", "100",
                 "--large", "450", "-j", "2"}),
            0)
      << err_;
  EXPECT_TRUE(fs::exists(root_ / "out" / "a.jpg"));
  EXPECT_TRUE(fs::exists(root_ / "out" / "Grand" / "a.jpg"));
  EXPECT_NE(err_.find("photo : 1 TERMINE !"), std::string::npos);
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
  EXPECT_NE(err_.find("photo : 1"), std::string::npos) << err_;

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

TEST_F(CommandLineTest, AMissingOriginIsAFailureNotASuccess) {
  EXPECT_EQ(
      Run({"--origin", In() + "/nope/", "--dest", Out(), "--width", "10"}), 1);
  EXPECT_NE(err_.find("nope"), std::string::npos);
}

}  // namespace
}  // namespace vg::cli
