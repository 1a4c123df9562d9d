// The picture loader: a picture object with the picture's own size over a
// bitmap that holds the decoded pixels.
#include "decoders/load_picture.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "picture_testutil.h"
#include "platform/error.h"
#include "platform/gdi.h"

namespace vg::decoders {
namespace {

using testing::GridColour;
using testing::GridPixel;
using testing::NativeToUtf16;
using testing::TempFolder;

testing::Rgb BitmapPixel(const platform::SurfaceView& view, int x, int y) {
  const uint8_t* p = view.bits + static_cast<ptrdiff_t>(y) * view.stride_bytes +
                     static_cast<ptrdiff_t>(x) * view.bytes_per_pixel;
  return {p[2], p[1], p[0]};
}

// Checks that `picture` stands for `width` x `height` over a bitmap of
// `bitmap_width` x `bitmap_height`, and gets the bitmap's pixels.
void ExpectSizes(const platform::PicturePtr& picture, int width, int height,
                 int bitmap_width, int bitmap_height,
                 platform::SurfaceView* view) {
  ASSERT_NE(picture, nullptr);
  EXPECT_EQ(picture->Width(), width);
  EXPECT_EQ(picture->Height(), height);
  EXPECT_EQ(picture->BitmapWidth(), bitmap_width);
  EXPECT_EQ(picture->BitmapHeight(), bitmap_height);
  ASSERT_TRUE(platform::GetSurface(picture->Handle(), view));
  EXPECT_EQ(view->width, bitmap_width);
  EXPECT_EQ(view->height, bitmap_height);
}

// Checks the grid in the bitmap: red at the top left, cyan at the bottom
// right.
void ExpectGrid(const platform::SurfaceView& view, int tolerance) {
  EXPECT_EQ(
      testing::ColourDiff(BitmapPixel(view, view.width / 6, view.height / 4),
                          GridColour(0, 0), tolerance),
      "");
  EXPECT_EQ(testing::ColourDiff(
                BitmapPixel(view, view.width * 5 / 6, view.height * 3 / 4),
                GridColour(2, 1), tolerance),
            "");
}

// The window's loader reads the formats of every reader, upright: a HEIC
// turned by its container, a tiled TIFF by its tag, a DNG by its camera.
TEST(LoadPictureTest, NewFormatsLoadUprightWithTheirLogicalSize) {
  struct Case {
    const char* name;
    int width;
    int height;
  };
  for (const Case& c : {Case{"grid96_irot.heic", 96, 64},
                        Case{"grid_tiled_orient6.tif", 24, 16},
                        Case{"grid_orient6.webp", 24, 16},
                        Case{"grid48_orient6.dng", 48, 32}}) {
    SCOPED_TRACE(c.name);
    platform::PicturePtr picture =
        LoadPicture(NativeToUtf16(testing::FixturePath(c.name)), {8, 0});
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(picture->Width(), c.width);
    EXPECT_EQ(picture->Height(), c.height);
    platform::SurfaceView view{};
    ASSERT_TRUE(platform::GetSurface(picture->Handle(), &view));
    ExpectGrid(view, 20);
  }
}

// Loaded for a thumbnail of 150 pixels, a picture keeps its own size over
// a smaller bitmap: a JPEG decoded at 1/4 (400 >= 2 x 150), a PNG reduced
// by 10 as it is read (room for 225 pixels across).
TEST(LoadPictureTest, ReducedPictureKeepsItsLogicalSize) {
  struct Case {
    const char* name;
    void (*write)(const std::filesystem::path&, int, int,
                  const testing::RgbRowFiller&);
    int width;
    int height;
    int bitmap_width;
    int bitmap_height;
    int tolerance;
  };
  for (const Case& c :
       {Case{"photo.jpg", testing::WriteJpegByRows, 1600, 1200, 400, 300, 10},
        Case{"scan.png", testing::WritePngByRows, 2400, 1600, 240, 160, 0}}) {
    SCOPED_TRACE(c.name);
    TempFolder folder;
    const std::filesystem::path path = folder.path() / c.name;
    c.write(path, c.width, c.height, [&](int y, uint8_t* rgb) {
      for (int x = 0; x < c.width; ++x, rgb += 3) {
        const testing::Rgb p = GridPixel(x, y, c.width, c.height);
        rgb[0] = static_cast<uint8_t>(p.r);
        rgb[1] = static_cast<uint8_t>(p.g);
        rgb[2] = static_cast<uint8_t>(p.b);
      }
    });
    const platform::PicturePtr picture =
        LoadPicture(NativeToUtf16(path), {150, 0});
    platform::SurfaceView view{};
    ASSERT_NO_FATAL_FAILURE(ExpectSizes(
        picture, c.width, c.height, c.bitmap_width, c.bitmap_height, &view));
    ExpectGrid(view, c.tolerance);
  }
}

TEST(LoadPictureTest, FullSizeWithoutAHintAndErrorsPassThrough) {
  TempFolder folder;
  std::filesystem::path path = folder.path() / "small.png";
  testing::WriteFileBytes(
      path,
      testing::EncodeWithQt(
          24, 16, "png", [](int x, int y) { return GridPixel(x, y, 24, 16); },
          [](int, int) { return 255; }));
  platform::SurfaceView view{};
  EXPECT_NO_FATAL_FAILURE(
      ExpectSizes(LoadPicture(NativeToUtf16(path)), 24, 16, 24, 16, &view));

  try {
    (void)LoadPicture(NativeToUtf16(folder.path() / "absent.png"));
    ADD_FAILURE() << "a missing file loaded";
  } catch (const platform::Error& e) {
    EXPECT_EQ(e.number(), platform::kErrFileNotFound);
  }
  std::filesystem::path text = folder.path() / "b.txt";
  testing::WriteFileBytes(text, std::vector<uint8_t>(100, 'x'));
  try {
    (void)LoadPicture(NativeToUtf16(text));
    ADD_FAILURE() << "a text file loaded";
  } catch (const platform::Error& e) {
    EXPECT_EQ(e.number(), platform::kErrInvalidPicture);
  }
}

}  // namespace
}  // namespace vg::decoders
