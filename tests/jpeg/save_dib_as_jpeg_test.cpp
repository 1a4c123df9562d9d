#include <gtest/gtest.h>
#include <sys/stat.h>

#include <optional>
#include <string>
#include <vector>

#include "dib/a_dib_section.h"
#include "jpeg/jpeg_testutil.h"
#include "jpeg/librairie_graphique.h"
#include "platform/code_page.h"

namespace vg::jpeg {
namespace {

using testing::DecodeJpeg;
using testing::ListFolder;
using testing::Painter;
using testing::ReadFile;
using testing::Rgb;
using testing::ScratchFolder;

const Painter kRedOverBlue = [](int, int y) {
  return y < 8 ? Rgb{255, 0, 0} : Rgb{0, 0, 255};
};

// Grey, so that 4:2:0 chroma loses nothing and any difference is a fault:
// a row read from the wrong byte turns pixels coloured or pulls in the
// padding pattern.
const Painter kGreyRamp = [](int x, int y) {
  const int v = 40 + 25 * x + 12 * y;
  return Rgb{v, v, v};
};

void Paint(dib::aDIBSection& dib, const Painter& paint) {
  testing::PaintBottomUp(dib.Bits(), dib.Width(), dib.Height(),
                         dib.BytesPerScanLine(), paint);
}

// Creates `dib` at w x h and paints it.
void CreatePainted(dib::aDIBSection& dib, int w, int h, const Painter& paint) {
  ASSERT_TRUE(dib.Create(w, h));
  Paint(dib, paint);
}

std::u16string U16(const std::string& utf8) { return platform::FromAnsi(utf8); }

std::optional<testing::Decoded> DecodeFile(const std::string& path) {
  std::optional<std::vector<uint8_t>> bytes = ReadFile(path);
  if (!bytes) return std::nullopt;
  return DecodeJpeg(*bytes);
}

TEST(SaveDibAsJpegTest, WritesTheSectionUprightAtItsSize) {
  ScratchFolder folder;
  dib::aDIBSection dib;
  ASSERT_NO_FATAL_FAILURE(CreatePainted(dib, 24, 16, kRedOverBlue));
  ASSERT_TRUE(SaveDibAsJpeg(dib, U16(folder / "a.jpg"), 90));

  std::optional<testing::Decoded> decoded = DecodeFile(folder / "a.jpg");
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->width, 24);
  EXPECT_EQ(decoded->height, 16);
  const Rgb top = decoded->At(12, 1);
  const Rgb bottom = decoded->At(12, 14);
  EXPECT_GT(top.r, 200);
  EXPECT_LT(top.b, 60);
  EXPECT_GT(bottom.b, 200);
  EXPECT_LT(bottom.r, 60);
  // Saving over it replaces it.
  Paint(dib, [](int, int) { return Rgb{0, 255, 0}; });
  ASSERT_TRUE(SaveDibAsJpeg(dib, U16(folder / "a.jpg"), 90));
  decoded = DecodeFile(folder / "a.jpg");
  ASSERT_TRUE(decoded);
  EXPECT_GT(decoded->At(12, 1).g, 200);
  EXPECT_EQ(ListFolder(folder.path()), std::vector<std::string>{"a.jpg"});
}

TEST(SaveDibAsJpegTest, PaddedWidthsOneToEightNeitherSkewNorStripe) {
  ScratchFolder folder;
  for (int width = 1; width <= 8; ++width) {
    dib::aDIBSection dib;
    ASSERT_NO_FATAL_FAILURE(CreatePainted(dib, width, 6, kGreyRamp));
    const std::string file = folder / ("w" + std::to_string(width) + ".jpg");
    ASSERT_TRUE(SaveDibAsJpeg(dib, U16(file), 100)) << width;
    std::optional<testing::Decoded> decoded = DecodeFile(file);
    ASSERT_TRUE(decoded) << width;
    EXPECT_LE(testing::MaxDifference(*decoded, width, 6, kGreyRamp), 6)
        << "width " << width;
  }
}

TEST(SaveDibAsJpegTest, FailuresReturnFalseAndCreateNothing) {
  ScratchFolder folder;
  dib::aDIBSection dib;
  ASSERT_NO_FATAL_FAILURE(CreatePainted(dib, 8, 8, kGreyRamp));
  EXPECT_FALSE(SaveDibAsJpeg(dib, U16(folder / "missing/a.jpg"), 90));
  EXPECT_FALSE(SaveDibAsJpeg(dib, u"", 90));

  dib::aDIBSection empty;
  EXPECT_FALSE(SaveDibAsJpeg(empty, U16(folder / "empty.jpg"), 90));

  // A zero inside the name must not write the file named by what precedes
  // it.
  std::u16string with_zero = U16(folder / "cut");
  with_zero.push_back(u'\0');
  with_zero += u".jpg";
  EXPECT_FALSE(SaveDibAsJpeg(dib, with_zero, 90));

  EXPECT_TRUE(ListFolder(folder.path()).empty());
}

TEST(SaveDibAsJpegTest, NonAsciiNamesReachTheDiskAsUtf8) {
  ScratchFolder folder;
  dib::aDIBSection dib;
  ASSERT_NO_FATAL_FAILURE(CreatePainted(dib, 8, 8, kGreyRamp));
  const std::u16string folder16 = U16(folder.path());
  ASSERT_TRUE(
      SaveDibAsJpeg(dib, folder16 + u"/\u00C9t\u00E9 \u65E5\u672C.jpg", 90));
  // A lone surrogate has no UTF-8 form and becomes "?", a plain character.
  std::u16string lone = folder16 + u"/x";
  lone.push_back(static_cast<char16_t>(0xD800));
  lone += u".jpg";
  ASSERT_TRUE(SaveDibAsJpeg(dib, lone, 90));
  EXPECT_EQ(ListFolder(folder.path()),
            (std::vector<std::string>{"x?.jpg",
                                      "\xC3\x89t\xC3\xA9 "
                                      "\xE6\x97\xA5\xE6\x9C\xAC.jpg"}));
  EXPECT_TRUE(DecodeFile(folder / "x?.jpg"));
}

}  // namespace
}  // namespace vg::jpeg
