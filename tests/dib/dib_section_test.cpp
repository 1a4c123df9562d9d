// Behaviour shared by cDIBSection and aDIBSection, run against both, then
// what only one of them has.
#include <gtest/gtest.h>

#include <cstring>
#include <utility>

#include "common/test_files.h"
#include "dib/a_dib_section.h"
#include "dib/c_dib_section.h"
#include "platform/error.h"
#include "platform/gdi.h"
#include "platform/gdi_test_support.h"
#include "platform/picture.h"

namespace vg::dib {
namespace {

namespace gdi = ::vg::platform;
using testing_gdi::Bgr;
using testing_gdi::MakePatternBitmap;
using testing_gdi::Pattern;
using testing_gdi::SelectedDc;

using ::vg::testing::ErrorNumberOf;

// Captures a bitmap the way each class takes it: a picture object that owns
// the bitmap, or a plain handle (deleted here afterwards).
void Capture(cDIBSection& dib, gdi::HBITMAP bitmap) {
  const gdi::PicturePtr picture = gdi::MakePicture(bitmap);
  dib.CreateFromPicture(*picture);
}
void Capture(aDIBSection& dib, gdi::HBITMAP bitmap) {
  dib.CreateFromPicture(bitmap);
  gdi::DeleteObject(bitmap);
}

// Returns pixel (x, y), counted from the top-left, read straight from the
// bytes by the documented layout: bottom-up rows of BytesPerScanLine bytes.
template <typename Dib>
Bgr SectionPixel(const Dib& dib, int32_t x, int32_t y) {
  const uint8_t* p =
      dib.Bits() +
      static_cast<size_t>(dib.Height() - 1 - y) * dib.BytesPerScanLine() +
      3 * x;
  return {p[0], p[1], p[2]};
}

template <typename Dib>
class DibSectionTest : public testing_gdi::GdiLeakCheck {};

using DibTypes = ::testing::Types<cDIBSection, aDIBSection>;
TYPED_TEST_SUITE(DibSectionTest, DibTypes);

TYPED_TEST(DibSectionTest, NewObjectIsEmptyAndClearUpKeepsItSo) {
  TypeParam dib;
  for (int pass = 0; pass < 2; ++pass) {
    EXPECT_EQ(dib.Width(), 0);
    EXPECT_EQ(dib.Height(), 0);
    EXPECT_EQ(dib.BytesPerScanLine(), 0);
    EXPECT_EQ(dib.hdc(), 0);
    EXPECT_EQ(dib.hDib(), 0);
    EXPECT_EQ(dib.DIBSectionBitsPtr(), 0u);
    EXPECT_EQ(dib.Bits(), nullptr);
    dib.ClearUp();
  }
}

TYPED_TEST(DibSectionTest, RowsAreThreeBytesAPixelRoundedUpToFour) {
  TypeParam dib;
  const std::pair<int32_t, int32_t> rows[] = {
      {1, 4}, {2, 8}, {4, 12}, {100, 300}, {150, 452}, {450, 1352}};
  for (const auto& [width, bytes] : rows) {
    ASSERT_TRUE(dib.Create(width, 2));
    EXPECT_EQ(dib.BytesPerScanLine(), bytes) << width;
    gdi::SurfaceView v{};
    ASSERT_TRUE(gdi::GetSurface(dib.hDib(), &v));
    EXPECT_EQ(v.stride_bytes, bytes);  // the section agrees
  }
}

TYPED_TEST(DibSectionTest, CreateMakesASelectedSectionWithItsHeader) {
  TypeParam dib;
  ASSERT_TRUE(dib.Create(150, 100));
  EXPECT_EQ(dib.Width(), 150);
  EXPECT_EQ(dib.Height(), 100);
  const gdi::BITMAPINFOHEADER& h = dib.BitmapInfo();
  EXPECT_EQ(h.biSize, 40u);
  EXPECT_EQ(h.biPlanes, 1);
  EXPECT_EQ(h.biBitCount, 24);
  EXPECT_EQ(h.biCompression, 0u);
  EXPECT_EQ(h.biSizeImage, 45200u);
  EXPECT_EQ(h.biXPelsPerMeter, 0);
  EXPECT_EQ(h.biClrUsed, 0u);
  EXPECT_NE(dib.hdc(), 0);
  EXPECT_NE(dib.hDib(), 0);
  EXPECT_EQ(dib.DIBSectionBitsPtr(), reinterpret_cast<uintptr_t>(dib.Bits()));
  gdi::SurfaceView v{};
  ASSERT_TRUE(gdi::GetSurface(dib.hDib(), &v));
  EXPECT_EQ(v.bits, dib.Bits());
  EXPECT_TRUE(v.bottom_up);
  EXPECT_EQ(v.bytes_per_pixel, 3);
  // The section is selected in the object's context: it cannot be deleted.
  EXPECT_FALSE(gdi::DeleteObject(dib.hDib()));
  // All 45 200 bytes are there and writable (ASan checks the bounds).
  std::memset(dib.Bits(), 0x3C, 45200);
  EXPECT_EQ(gdi::GdiObjectCounts(),
            (gdi::GdiCounts{this->before_.contexts + 1, this->before_.bitmaps,
                            this->before_.sections + 1}));
}

TYPED_TEST(DibSectionTest, CreatingAgainReleasesTheFirstSection) {
  TypeParam dib;
  ASSERT_TRUE(dib.Create(30, 20));
  const int32_t first_section = dib.hDib();
  const int32_t first_dc = dib.hdc();
  ASSERT_TRUE(dib.Create(10, 5));
  EXPECT_EQ(gdi::GdiObjectCounts().sections, this->before_.sections + 1);
  EXPECT_EQ(gdi::GdiObjectCounts().contexts, this->before_.contexts + 1);
  gdi::BITMAP record{};
  EXPECT_EQ(gdi::GetObjectA(first_section, sizeof(record), &record), 0);
  EXPECT_FALSE(gdi::DeleteDC(first_dc));  // already gone
  EXPECT_EQ(dib.Width(), 10);
}

TYPED_TEST(DibSectionTest, ZeroAndNegativeSizesFailButAreReported) {
  TypeParam dib;
  ASSERT_TRUE(dib.Create(8, 8));
  const struct {
    int32_t w, h;
  } sizes[] = {{0, 5}, {5, 0}, {0, 0}, {-3, 4}, {4, -4}};
  for (const auto s : sizes) {
    EXPECT_FALSE(dib.Create(s.w, s.h));
    EXPECT_EQ(dib.hdc(), 0);
    EXPECT_EQ(dib.hDib(), 0);
    EXPECT_EQ(dib.Bits(), nullptr);
    EXPECT_EQ(dib.Width(), s.w);
    EXPECT_EQ(dib.Height(), s.h);
    EXPECT_EQ(gdi::GdiObjectCounts(), this->before_);
  }
}

TYPED_TEST(DibSectionTest, SizesOverTheLimitFailBeforeAllocating) {
  TypeParam dib;
  EXPECT_FALSE(dib.Create(gdi::kMaxBitmapSide + 1, 1));
  EXPECT_FALSE(dib.Create(20000, 20000));  // 400 million pixels
  // The widest row that fits 32 bits: its size is still reported.
  EXPECT_FALSE(dib.Create(715827881, 1));
  EXPECT_EQ(dib.BytesPerScanLine(), 2147483644);
  EXPECT_EQ(dib.hdc(), 0);
}

TYPED_TEST(DibSectionTest,
           OverflowRaisesErrorSixAndKeepsTheContextUntilClearUp) {
  TypeParam dib;
  // The row size overflows...
  EXPECT_EQ(ErrorNumberOf([&] { dib.Create(715827882, 1); }),
            gdi::kErrOverflow);
  EXPECT_EQ(dib.Width(), 715827882);  // header written before the check
  EXPECT_NE(dib.hdc(), 0);
  EXPECT_EQ(dib.hDib(), 0);
  EXPECT_EQ(dib.Bits(), nullptr);
  EXPECT_EQ(ErrorNumberOf([&] { (void)dib.BytesPerScanLine(); }),
            gdi::kErrOverflow);
  EXPECT_EQ(gdi::GdiObjectCounts().contexts, this->before_.contexts + 1);
  // ...and the image size overflows (300 000 bytes x 100 000 rows); the
  // context of the previous failure is released by this Create first.
  EXPECT_EQ(ErrorNumberOf([&] { dib.Create(100000, 100000); }),
            gdi::kErrOverflow);
  EXPECT_EQ(gdi::GdiObjectCounts().contexts, this->before_.contexts + 1);
  dib.ClearUp();
  EXPECT_EQ(dib.hdc(), 0);
  EXPECT_EQ(gdi::GdiObjectCounts(), this->before_);
}

TYPED_TEST(DibSectionTest, LoadPictureBltTakesARectangleAtAnOffset) {
  const gdi::HBITMAP src = MakePatternBitmap(80, 60);
  {
    SelectedDc s(src);
    TypeParam dib;
    ASSERT_TRUE(dib.Create(50, 30));
    dib.LoadPictureBlt(s.get(), 10, 20);
    for (int32_t y = 0; y < 30; ++y) {
      for (int32_t x = 0; x < 50; ++x) {
        ASSERT_EQ(SectionPixel(dib, x, y), Pattern(x + 10, y + 20))
            << x << "," << y;
      }
    }
    // A negative width means the whole width; only 5 rows are taken.
    ASSERT_TRUE(dib.Create(50, 30));
    dib.LoadPictureBlt(s.get(), 0, 0, -7, 5);
    EXPECT_EQ(SectionPixel(dib, 49, 4), Pattern(49, 4));
    EXPECT_EQ(SectionPixel(dib, 0, 0), Pattern(0, 0));
    EXPECT_EQ(SectionPixel(dib, 49, 5), (Bgr{0, 0, 0}));
    EXPECT_EQ(SectionPixel(dib, 0, 29), (Bgr{0, 0, 0}));
  }
  EXPECT_TRUE(gdi::DeleteObject(src));
}

TYPED_TEST(DibSectionTest, TransfersOnAnEmptyObjectChangeNothing) {
  const gdi::HBITMAP src = MakePatternBitmap(4, 4);
  {
    SelectedDc s(src);
    TypeParam dib;
    dib.LoadPictureBlt(s.get());
    EXPECT_FALSE(dib.Create(0, 4));
    dib.LoadPictureBlt(s.get());
  }
  EXPECT_EQ(testing_gdi::GetPixel(src, 0, 0), Pattern(0, 0));
  EXPECT_TRUE(gdi::DeleteObject(src));
}

TYPED_TEST(DibSectionTest, ClearUpTwiceKeepsTheLastSize) {
  TypeParam dib;
  ASSERT_TRUE(dib.Create(33, 17));
  dib.ClearUp();
  EXPECT_EQ(gdi::GdiObjectCounts(), this->before_);
  dib.ClearUp();
  EXPECT_EQ(dib.hdc(), 0);
  EXPECT_EQ(dib.hDib(), 0);
  EXPECT_EQ(dib.Bits(), nullptr);
  EXPECT_EQ(dib.Width(), 33);
  EXPECT_EQ(dib.Height(), 17);
  EXPECT_EQ(dib.BytesPerScanLine(), 100);
}

TYPED_TEST(DibSectionTest, CapturesA640By480PictureByteForByteUpright) {
  TypeParam dib;
  Capture(dib, MakePatternBitmap(640, 480, 9));
  ASSERT_NE(dib.hDib(), 0);
  EXPECT_EQ(dib.Width(), 640);
  EXPECT_EQ(dib.Height(), 480);
  EXPECT_EQ(dib.BytesPerScanLine(), 1920);
  // Every byte where the layout puts it: picture row y at (479 - y) * 1920.
  const uint8_t* bits = dib.Bits();
  for (int32_t y = 0; y < 480; ++y) {
    for (int32_t x = 0; x < 640; ++x) {
      const Bgr want = Pattern(x, y, 9);
      const uint8_t* p = bits + (479 - y) * 1920 + 3 * x;
      ASSERT_TRUE(p[0] == want[0] && p[1] == want[1] && p[2] == want[2])
          << x << "," << y;
    }
  }
  // The capture made and released its own context: only the object's stays.
  EXPECT_EQ(gdi::GdiObjectCounts().contexts, this->before_.contexts + 1);
}

TYPED_TEST(DibSectionTest, CapturesASectionWithRowPadding) {
  const gdi::HBITMAP src = testing_gdi::MakeSection(7, 3);
  for (int32_t y = 0; y < 3; ++y) {
    for (int32_t x = 0; x < 7; ++x)
      testing_gdi::SetPixel(src, x, y, Pattern(x, y));
  }
  TypeParam dib;
  Capture(dib, src);
  ASSERT_EQ(dib.BytesPerScanLine(), 24);
  EXPECT_EQ(SectionPixel(dib, 6, 0), Pattern(6, 0));
  EXPECT_EQ(SectionPixel(dib, 0, 2), Pattern(0, 2));
}

TYPED_TEST(DibSectionTest, ABadHandleLeavesTheObjectEmpty) {
  TypeParam dib;
  ASSERT_TRUE(dib.Create(5, 5));
  if constexpr (std::is_same_v<TypeParam, aDIBSection>) {
    dib.CreateFromPicture(987654);
  } else {
    dib.CreateFromPicture(*gdi::MakePicture(0));
  }
  EXPECT_EQ(dib.hDib(), 0);
  EXPECT_EQ(dib.hdc(), 0);
  EXPECT_EQ(dib.Width(), 0);
  EXPECT_EQ(dib.Height(), 0);
}

TYPED_TEST(DibSectionTest, ABitmapSelectedElsewhereGivesAnUnfilledSection) {
  const gdi::HBITMAP src = MakePatternBitmap(6, 4);
  {
    SelectedDc held(src);
    aDIBSection dib;
    dib.CreateFromPicture(src);
    ASSERT_NE(dib.hDib(), 0);
    EXPECT_EQ(dib.Width(), 6);
    EXPECT_EQ(SectionPixel(dib, 0, 0), (Bgr{0, 0, 0}));
  }
  EXPECT_TRUE(gdi::DeleteObject(src));
}

TYPED_TEST(DibSectionTest, MovingHandsOverTheSection) {
  TypeParam a;
  ASSERT_TRUE(a.Create(12, 10));
  const int32_t section = a.hDib();
  uint8_t* bits = a.Bits();
  TypeParam b(std::move(a));
  EXPECT_EQ(b.hDib(), section);
  EXPECT_EQ(b.Bits(), bits);
  EXPECT_EQ(b.Width(), 12);
  EXPECT_EQ(a.hDib(), 0);  // NOLINT(bugprone-use-after-move): documented
  EXPECT_EQ(a.Width(), 0);
  TypeParam c;
  ASSERT_TRUE(c.Create(3, 3));
  c = std::move(b);  // c's own section is released
  EXPECT_EQ(c.hDib(), section);
  EXPECT_EQ(gdi::GdiObjectCounts().sections, this->before_.sections + 1);
  EXPECT_EQ(gdi::GdiObjectCounts().contexts, this->before_.contexts + 1);
}

TYPED_TEST(DibSectionTest, CreateDibHandsTheSectionToTheCaller) {
  TypeParam dib;
  const gdi::HDC dc = gdi::CreateCompatibleDC(0);
  int32_t mine = -1;
  ASSERT_TRUE(dib.CreateDIB(dc, 9, 4, mine));
  EXPECT_NE(mine, 0);
  EXPECT_EQ(dib.Width(), 9);
  EXPECT_EQ(dib.BitmapInfo().biSizeImage, 112u);
  EXPECT_EQ(dib.hDib(), 0);        // not the object's
  EXPECT_EQ(dib.Bits(), nullptr);  // so it does not point into it
  EXPECT_TRUE(gdi::DeleteObject(mine));
  EXPECT_FALSE(dib.CreateDIB(dc, 0, 4, mine));
  EXPECT_EQ(mine, 0);
  // While the object holds its own section, the header must keep matching it.
  ASSERT_TRUE(dib.Create(20, 10));
  EXPECT_FALSE(dib.CreateDIB(dc, 900, 900, mine));
  EXPECT_EQ(mine, 0);
  EXPECT_EQ(dib.Width(), 20);
  EXPECT_EQ(dib.BytesPerScanLine(), 60);
  EXPECT_TRUE(gdi::DeleteDC(dc));
}

// --- cDIBSection only
// ---------------------------------------------------------

class CDibSectionTest : public testing_gdi::GdiLeakCheck {};

TEST_F(CDibSectionTest, PaintPictureDrawsTheSectionUprightAtAnOffset) {
  cDIBSection dib;
  Capture(dib, MakePatternBitmap(20, 10, 2));
  ASSERT_NE(dib.hDib(), 0);
  const gdi::HDC dc = gdi::CreateCompatibleDC(0);
  const gdi::HBITMAP target = gdi::CreateCompatibleBitmap(dc, 30, 30);
  {
    SelectedDc t(target);
    dib.PaintPicture(t.get(), 5, 7);
    dib.PaintPicture(t.get(), 0, 25, 4, 2, 16, 8);  // a corner, no stretching
  }
  for (int32_t y = 0; y < 10; ++y) {
    for (int32_t x = 0; x < 20; ++x) {
      ASSERT_EQ(testing_gdi::GetPixel(target, x + 5, y + 7), Pattern(x, y, 2));
    }
  }
  EXPECT_EQ(testing_gdi::GetPixel(target, 4, 7), (Bgr{0, 0, 0}));
  EXPECT_EQ(testing_gdi::GetPixel(target, 3, 26), Pattern(19, 9, 2));
  EXPECT_EQ(testing_gdi::GetPixel(target, 4, 26), (Bgr{0, 0, 0}));
  EXPECT_TRUE(gdi::DeleteObject(target));
  EXPECT_TRUE(gdi::DeleteDC(dc));
}

TEST_F(CDibSectionTest, PaintPictureFromAnEmptyObjectChangesNothing) {
  cDIBSection dib;
  const gdi::HBITMAP target = MakePatternBitmap(4, 4);
  {
    SelectedDc t(target);
    dib.PaintPicture(t.get());
    dib.PaintPicture(t.get(), 0, 0, 4, 4);
  }
  EXPECT_EQ(testing_gdi::GetPixel(target, 1, 1), Pattern(1, 1));
  EXPECT_TRUE(gdi::DeleteObject(target));
}

}  // namespace
}  // namespace vg::dib
