#include "platform/picture.h"

#include <gtest/gtest.h>

#include "platform/gdi_test_support.h"

namespace vg::platform {
namespace {

class PictureTest : public testing_gdi::GdiLeakCheck {};

TEST_F(PictureTest, OwnsItsBitmapUntilTheLastReferenceGoes) {
  const HBITMAP bmp = testing_gdi::MakePatternBitmap(40, 30);
  ASSERT_NE(bmp, 0);
  PicturePtr first = MakePicture(bmp);
  ASSERT_NE(first, nullptr);
  PicturePtr second = first;
  first.reset();
  EXPECT_EQ(GdiObjectCounts().bitmaps, before_.bitmaps + 1);
  EXPECT_EQ(second->Handle(), bmp);
  second.reset();
  EXPECT_EQ(GdiObjectCounts().bitmaps, before_.bitmaps);
  BITMAP record{};
  EXPECT_EQ(GetObjectA(bmp, sizeof(record), &record), 0);  // gone
}

TEST_F(PictureTest, ReportsTheBitmapSizeUnlessGivenALogicalOne) {
  const PicturePtr natural = MakePicture(testing_gdi::MakeSection(40, 30));
  EXPECT_EQ(natural->Width(), 40);
  EXPECT_EQ(natural->Height(), 30);
  EXPECT_EQ(natural->BitmapWidth(), 40);
  // A JPEG decoded at 1/8: the bitmap is smaller than the picture.
  const PicturePtr reduced =
      MakePicture(testing_gdi::MakePatternBitmap(500, 375), 4000, 3000);
  EXPECT_EQ(reduced->Width(), 4000);
  EXPECT_EQ(reduced->Height(), 3000);
  EXPECT_EQ(reduced->BitmapWidth(), 500);
  EXPECT_EQ(reduced->BitmapHeight(), 375);
}

TEST_F(PictureTest, EmptyAndBadHandlesGiveAnEmptyPicture) {
  const PicturePtr empty = MakePicture(0);
  EXPECT_EQ(empty->Handle(), 0);
  EXPECT_EQ(empty->Width(), 0);
  EXPECT_EQ(empty->Height(), 0);
  const PicturePtr bad = MakePicture(123456);
  EXPECT_EQ(bad->Width(), 0);
  EXPECT_EQ(bad->BitmapHeight(), 0);
}

}  // namespace
}  // namespace vg::platform
