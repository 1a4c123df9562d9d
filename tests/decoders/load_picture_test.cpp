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
    // Red at the top left, cyan at the bottom right.
    EXPECT_EQ(
        testing::ColourDiff(BitmapPixel(view, view.width / 6, view.height / 4),
                            GridColour(0, 0), 20),
        "");
    EXPECT_EQ(testing::ColourDiff(
                  BitmapPixel(view, view.width * 5 / 6, view.height * 3 / 4),
                  GridColour(2, 1), 20),
              "");
  }
}

TEST(LoadPictureTest, ReducedJpegKeepsItsLogicalSize) {
  TempFolder folder;
  std::vector<uint8_t> rgb = testing::MakeRgb(
      1600, 1200, [](int x, int y) { return GridPixel(x, y, 1600, 1200); });
  std::filesystem::path path = folder.path() / "photo.jpg";
  testing::WriteFileBytes(path, testing::EncodeJpeg(rgb, 1600, 1200));

  platform::PicturePtr picture = LoadPicture(NativeToUtf16(path), {150, 0});
  ASSERT_NE(picture, nullptr);
  EXPECT_NE(picture->Handle(), 0);
  EXPECT_EQ(picture->Width(), 1600);
  EXPECT_EQ(picture->Height(), 1200);
  EXPECT_EQ(picture->BitmapWidth(), 400);  // 1/4: 400 >= 2 x 150
  EXPECT_EQ(picture->BitmapHeight(), 300);

  platform::SurfaceView view{};
  ASSERT_TRUE(platform::GetSurface(picture->Handle(), &view));
  EXPECT_EQ(view.width, 400);
  EXPECT_EQ(view.height, 300);
  EXPECT_EQ(
      testing::ColourDiff(BitmapPixel(view, 60, 70), GridColour(0, 0), 10), "");
  EXPECT_EQ(
      testing::ColourDiff(BitmapPixel(view, 340, 230), GridColour(2, 1), 10),
      "");
}

TEST(LoadPictureTest, PngReducedAsItIsReadKeepsItsLogicalSize) {
  TempFolder folder;
  std::filesystem::path path = folder.path() / "scan.png";
  testing::WritePngByRows(path, 2400, 1600, [](int y, uint8_t* rgb) {
    for (int x = 0; x < 2400; ++x, rgb += 3) {
      const testing::Rgb c = GridPixel(x, y, 2400, 1600);
      rgb[0] = static_cast<uint8_t>(c.r);
      rgb[1] = static_cast<uint8_t>(c.g);
      rgb[2] = static_cast<uint8_t>(c.b);
    }
  });
  // Room for 225 pixels across: reduced by 10.
  platform::PicturePtr picture = LoadPicture(NativeToUtf16(path), {150, 0});
  EXPECT_EQ(picture->Width(), 2400);
  EXPECT_EQ(picture->Height(), 1600);
  EXPECT_EQ(picture->BitmapWidth(), 240);
  EXPECT_EQ(picture->BitmapHeight(), 160);
  platform::SurfaceView view{};
  ASSERT_TRUE(platform::GetSurface(picture->Handle(), &view));
  EXPECT_EQ(
      testing::ColourDiff(BitmapPixel(view, 204, 138), GridColour(2, 1), 0),
      "");
}

TEST(LoadPictureTest, FullSizeWithoutAHintAndErrorsPassThrough) {
  TempFolder folder;
  std::filesystem::path path = folder.path() / "small.png";
  testing::WriteFileBytes(
      path,
      testing::EncodeWithQt(
          24, 16, "png", [](int x, int y) { return GridPixel(x, y, 24, 16); },
          [](int, int) { return 255; }));
  platform::PicturePtr picture = LoadPicture(NativeToUtf16(path));
  EXPECT_EQ(picture->Width(), 24);
  EXPECT_EQ(picture->BitmapWidth(), 24);
  EXPECT_EQ(picture->BitmapHeight(), 16);

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
