#include "thumbnail/make.h"

#include <gtest/gtest.h>

#include "common/test_files.h"
#include "platform/error.h"
#include "platform/gdi.h"

namespace vg::thumbnail {
namespace {

TEST(MakeTest, HeightsKeepTheProportionsRoundedHalfToEven) {
  EXPECT_EQ(ProportionalHeight(3000, 2000, 150), 100);
  EXPECT_EQ(ProportionalHeight(1000, 333, 150), 50);  // 49.95
  EXPECT_EQ(ProportionalHeight(300, 225, 150), 112);  // 112.5
  EXPECT_EQ(ProportionalHeight(300, 227, 150), 114);  // 113.5
  EXPECT_THROW(ProportionalHeight(300, 200, 0), platform::Error);
  EXPECT_EQ(CheckHeight(150, 65535), "");
  EXPECT_EQ(CheckHeight(150, 65536), "too tall for width 150: 65536 pixels");
  EXPECT_EQ(CheckHeight(99.5, 0), "too flat for width 99.5: 0 pixels high");
}

TEST(MakeTest, AFractionalWidthIsDrawnAsAPictureBoxDrawsIt) {
  // The surface rounds its single-precision size, the drawing its width in
  // twips, both half to even.
  Geometry g = GeometryFor(150.5, 100);
  EXPECT_EQ(g.area_width, 150);
  EXPECT_EQ(g.draw_width, 150);
  g = GeometryFor(151.5, 100);
  EXPECT_EQ(g.area_width, 152);
  EXPECT_EQ(g.draw_width, 152);
  EXPECT_EQ(g.area_height, 100);
  EXPECT_EQ(g.draw_height, 100);
}

TEST(MakeTest, ANothingToCaptureSaysWhy) {
  testing::TempFolder in;
  testing::WriteJpeg(in.path() / "a.jpg", 300, 200);
  platform::PicturePtr picture = LoadPicture(in.text() + u"a.jpg", 150);
  Thumbnail empty = Render(*picture, GeometryFor(150, 0));
  EXPECT_EQ(empty.dib.hDib(), 0);
  EXPECT_EQ(empty.picture, nullptr);
  EXPECT_EQ(NothingCaptured(0), "zero height: no height has been computed");
  Thumbnail thumb = Render(*picture, GeometryFor(150, 100));
  EXPECT_EQ(thumb.dib.Width(), 150);
  EXPECT_EQ(thumb.dib.Height(), 100);
}

}  // namespace
}  // namespace vg::thumbnail
