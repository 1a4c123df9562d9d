// The desktop's thumbnailer as a desktop runs it: a path or a file URI in,
// a PNG fitted in its box out, or a failure with no file left behind.
#include "thumbnailer/thumbnailer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "common/test_files.h"
#include "decoders/decode_picture.h"
#include "platform/code_page.h"
#include "thumbnail/desktop_cache.h"

namespace vg::thumbnailer {
namespace {

namespace fs = std::filesystem;
using testing::TempFolder;

int RunProgram(std::vector<std::string> args) {
  args.insert(args.begin(), "vignettes-thumbnailer");
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  return RunThumbnailer(static_cast<int>(args.size()), argv.data());
}

std::string Sample(const char* name) {
  return std::string(VG_TEST_PICTURES_DIR) + "/" + name;
}

TEST(ThumbnailerTest, WritesAPngFittedInItsBox) {
  TempFolder dir;
  const fs::path photo = dir.path() / "a photo é.jpg";
  testing::WriteJpeg(photo, 640, 480);
  const struct {
    std::string input;
    const char* size;
    int w, h;
    bool alpha;
  } cases[] = {
      {photo.string(), "256", 256, 192, false},
      {thumbnail::FileUri(photo.string()), "128", 128, 96, false},
      {photo.string(), "4096", 640, 480, false},  // never enlarged
      {Sample("inkscape_shapes.wmf"), "128", 128, 64, false},
      {Sample("grid_alpha.webp"), "16", 16, 11, true},
  };
  for (const auto& c : cases) {
    const fs::path out = dir.path() / "out.png";
    ASSERT_EQ(RunProgram({"-s", c.size, c.input, out.string()}), 0) << c.input;
    decoders::DecodeHint keep;
    keep.keep_alpha = true;
    const decoders::DecodedImage png =
        decoders::DecodePictureFile(platform::FromAnsi(out.string()), keep);
    EXPECT_EQ(png.width, c.w) << c.input;
    EXPECT_EQ(png.height, c.h) << c.input;
    EXPECT_EQ(png.has_alpha, c.alpha) << c.input;
    fs::remove(out);
  }
}

TEST(ThumbnailerTest, FailuresLeaveNoFileAndUsageErrorsExit2) {
  TempFolder dir;
  const fs::path broken = dir.path() / "broken.heic";
  testing::WriteJpeg(dir.path() / "ok.jpg", 40, 30);
  { std::ofstream(broken) << "no picture"; }
  const std::string out = (dir.path() / "out.png").string();
  const std::string ok = (dir.path() / "ok.jpg").string();
  const struct {
    std::vector<std::string> args;
    int status;
  } cases[] = {
      {{"-s", "128", broken.string(), out}, 1},
      {{"-s", "128", (dir.path() / "missing.jpg").string(), out}, 1},
      {{"-s", "128", "http://example.org/a.jpg", out}, 1},
      {{"-s", "128", ok, (dir.path() / "no/such/folder.png").string()}, 1},
      {{ok, out}, 2},
      {{"-s", "0", ok, out}, 2},
      {{"-s", "12x", ok, out}, 2},
      {{"-s", "128", ok}, 2},
      {{"-s", "128", ok, out, "extra"}, 2},
      {{"--bogus", "-s", "128", ok, out}, 2},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(RunProgram(c.args), c.status)
        << c.args[c.args.size() > 2 ? 2 : 0];
    EXPECT_TRUE(testing::FilesIn(dir.path()) ==
                (std::set<std::string>{"broken.heic", "ok.jpg"}))
        << c.args[0];
  }
}

}  // namespace
}  // namespace vg::thumbnailer
