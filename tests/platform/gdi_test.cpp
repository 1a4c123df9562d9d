#include "platform/gdi.h"

#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <cstring>
#include <set>
#include <thread>
#include <vector>

#include "platform/gdi_test_support.h"

namespace vg::platform {
namespace {

using testing_gdi::Bgr;
using testing_gdi::Fill;
using testing_gdi::GetPixel;
using testing_gdi::MakePatternBitmap;
using testing_gdi::MakeSection;
using testing_gdi::Pattern;
using testing_gdi::SelectedDc;
using testing_gdi::SetPixel;
using testing_gdi::ViewOf;

class GdiHandleTest : public testing_gdi::GdiLeakCheck {};

TEST_F(GdiHandleTest, NewContextHoldsAStockBitmapThatCannotBeDeleted) {
  const HDC dc = CreateCompatibleDC(0);
  const HBITMAP bmp = CreateCompatibleBitmap(dc, 2, 2);
  const HGDIOBJ stock = SelectObject(dc, bmp);
  EXPECT_NE(stock, 0);
  EXPECT_FALSE(DeleteObject(stock));
  BITMAP record{};
  EXPECT_EQ(GetObjectA(stock, sizeof(record), &record), 24);
  EXPECT_EQ(record.bmWidth, 1);
  EXPECT_EQ(record.bmHeight, 1);
  SurfaceView view{};
  EXPECT_FALSE(GetSurface(stock, &view));  // no pixels to hand out
  // Two contexts may hold the stock bitmap at once.
  const HDC other = CreateCompatibleDC(dc);
  const HBITMAP bmp2 = CreateCompatibleBitmap(dc, 2, 2);
  EXPECT_EQ(SelectObject(other, bmp2), stock);
  EXPECT_EQ(SelectObject(other, stock), bmp2);
  EXPECT_EQ(SelectObject(dc, stock), bmp);
  EXPECT_TRUE(DeleteObject(bmp));
  EXPECT_TRUE(DeleteObject(bmp2));
  EXPECT_TRUE(DeleteDC(other));
  EXPECT_TRUE(DeleteDC(dc));
}

TEST_F(GdiHandleTest, ABitmapLivesInOneContextAtATimeAndCannotDieThere) {
  const HDC a = CreateCompatibleDC(0);
  const HDC b = CreateCompatibleDC(0);
  const HBITMAP bmp = MakeSection(3, 3);
  const HGDIOBJ stock_a = SelectObject(a, bmp);
  ASSERT_NE(stock_a, 0);
  EXPECT_EQ(SelectObject(a, bmp), bmp);  // already there: returned as is
  EXPECT_EQ(SelectObject(b, bmp), 0);    // selected elsewhere
  EXPECT_FALSE(DeleteObject(bmp));       // still selected
  // Deleting the context frees the bitmap, which survives it.
  EXPECT_TRUE(DeleteDC(a));
  EXPECT_EQ(GdiObjectCounts().sections, before_.sections + 1);
  const HGDIOBJ stock_b = SelectObject(b, bmp);
  EXPECT_NE(stock_b, 0);
  EXPECT_EQ(SelectObject(b, stock_b), bmp);
  EXPECT_TRUE(DeleteObject(bmp));
  EXPECT_TRUE(DeleteDC(b));
}

TEST_F(GdiHandleTest, StaleUnknownAndWrongKindHandlesFailWithoutHarm) {
  const HDC dc = CreateCompatibleDC(0);
  const HBITMAP live = MakeSection(2, 2);
  const HBITMAP stale = MakeSection(2, 2);
  const HDC stale_dc = CreateCompatibleDC(0);
  ASSERT_TRUE(DeleteObject(stale));
  ASSERT_TRUE(DeleteDC(stale_dc));

  BITMAP untouched;
  std::memset(&untouched, 0x77, sizeof(untouched));
  for (const int32_t bad : {stale, 0, -1, INT32_MAX, INT32_MIN, 12345,
                            static_cast<int32_t>(0x7FFF0001)}) {
    SCOPED_TRACE(bad);
    EXPECT_FALSE(DeleteObject(bad));
    EXPECT_EQ(SelectObject(dc, bad), 0);
    BITMAP record = untouched;
    EXPECT_EQ(GetObjectA(bad, sizeof(record), &record), 0);
    EXPECT_EQ(std::memcmp(&record, &untouched, sizeof(record)), 0);
    SurfaceView view{};
    EXPECT_FALSE(GetSurface(bad, &view));
  }
  for (const int32_t bad : {stale_dc, -1, 12345}) {
    SCOPED_TRACE(bad);
    EXPECT_FALSE(DeleteDC(bad));
    EXPECT_EQ(SelectObject(bad, live), 0);
    EXPECT_EQ(CreateCompatibleDC(bad), 0);
    EXPECT_EQ(CreateCompatibleBitmap(bad, 2, 2), 0);
    EXPECT_FALSE(BitBlt(bad, 0, 0, 1, 1, dc, 0, 0, SRCCOPY));
    EXPECT_EQ(ReleaseDC(GetDesktopWindow(), bad), 0);
  }
  // Wrong kinds: a context where a bitmap is expected and back.
  EXPECT_FALSE(DeleteObject(dc));
  EXPECT_FALSE(DeleteDC(live));
  EXPECT_EQ(SelectObject(live, live), 0);
  EXPECT_EQ(SelectObject(dc, dc), 0);
  EXPECT_EQ(GetObjectA(dc, sizeof(BITMAP), &untouched), 0);
  EXPECT_EQ(CreateCompatibleDC(live), 0);
  EXPECT_FALSE(BitBlt(live, 0, 0, 1, 1, dc, 0, 0, WHITENESS));

  EXPECT_TRUE(DeleteObject(live));
  EXPECT_TRUE(DeleteDC(dc));
}

TEST_F(GdiHandleTest, HandleValuesDoNotComeBackSoon) {
  std::set<int32_t> seen;
  for (int i = 0; i < 3000; ++i) {
    const HDC dc = CreateCompatibleDC(0);
    ASSERT_NE(dc, 0);
    EXPECT_TRUE(seen.insert(dc).second) << "handle reused at round " << i;
    ASSERT_TRUE(DeleteDC(dc));
  }
}

TEST_F(GdiHandleTest, GetObjectDescribesEachKindOfBitmap) {
  const HDC dc = CreateCompatibleDC(0);
  const HBITMAP compatible = CreateCompatibleBitmap(dc, 7, 5);
  const HBITMAP up = MakeSection(7, 5);
  const HBITMAP down = MakeSection(7, -5);
  BITMAP r{};
  ASSERT_EQ(GetObjectA(compatible, sizeof(r), &r), 24);
  EXPECT_EQ(r.bmType, 0);
  EXPECT_EQ(r.bmWidth, 7);
  EXPECT_EQ(r.bmHeight, 5);
  EXPECT_EQ(r.bmWidthBytes, 28);
  EXPECT_EQ(r.bmPlanes, 1);
  EXPECT_EQ(r.bmBitsPixel, 32);
  EXPECT_EQ(r.bmBits, 0u);
  for (const HBITMAP section : {up, down}) {
    ASSERT_EQ(GetObjectA(section, sizeof(r), &r), 24);
    EXPECT_EQ(r.bmWidth, 7);
    EXPECT_EQ(r.bmHeight, 5);  // positive for top-down rows too
    EXPECT_EQ(r.bmWidthBytes, 24);
    EXPECT_EQ(r.bmBitsPixel, 24);
  }
  EXPECT_TRUE(ViewOf(up).bottom_up);
  EXPECT_FALSE(ViewOf(down).bottom_up);
  EXPECT_FALSE(ViewOf(compatible).bottom_up);
  // Asking for the size, and a record too small.
  EXPECT_EQ(GetObjectA(up, 0, nullptr), 24);
  EXPECT_EQ(GetObjectA(up, 23, &r), 0);
  for (const HBITMAP h : {compatible, up, down}) EXPECT_TRUE(DeleteObject(h));
  EXPECT_TRUE(DeleteDC(dc));
}

TEST_F(GdiHandleTest, DibSectionHasTheDibLayoutZeroFilled) {
  BITMAPINFO info{};
  info.bmiHeader = {40, 5, 3, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
  void* bits = nullptr;
  const HBITMAP dib = CreateDIBSection(0, &info, DIB_RGB_COLORS, &bits, 0, 0);
  ASSERT_NE(dib, 0);
  const SurfaceView v = ViewOf(dib);
  EXPECT_EQ(v.bits, bits);
  EXPECT_EQ(v.stride_bytes, 16);  // 5 * 3 = 15, rounded up to 16
  EXPECT_EQ(v.bytes_per_pixel, 3);
  EXPECT_TRUE(v.bottom_up);
  const auto* bytes = static_cast<const uint8_t*>(bits);
  EXPECT_EQ(std::vector<uint8_t>(bytes, bytes + 48), std::vector<uint8_t>(48));
  // Picture row 0 is the last row in memory.
  SetPixel(dib, 1, 0, {1, 2, 3});
  EXPECT_EQ(bytes[2 * 16 + 3], 1);
  EXPECT_EQ(bytes[2 * 16 + 5], 3);
  EXPECT_TRUE(DeleteObject(dib));
}

TEST_F(GdiHandleTest, DibSectionRefusesWhatItCannotMake) {
  const BITMAPINFOHEADER good{40, 8, 8, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
  struct Case {
    const char* what;
    BITMAPINFOHEADER header;
    uint32_t usage = DIB_RGB_COLORS;
    int32_t section = 0;
    HDC hdc = 0;
  };
  std::vector<Case> cases = {{"zero width", good},
                             {"zero height", good},
                             {"32 bits", good},
                             {"8 bits", good},
                             {"compressed", good},
                             {"two planes", good},
                             {"short header", good},
                             {"palette usage", good, 1},
                             {"file mapping", good, DIB_RGB_COLORS, 7},
                             {"bad context", good, DIB_RGB_COLORS, 0, 424242},
                             {"negative width", good},
                             {"side over limit", good},
                             {"pixels over limit", good}};
  cases[0].header.biWidth = 0;
  cases[1].header.biHeight = 0;
  cases[2].header.biBitCount = 32;
  cases[3].header.biBitCount = 8;
  cases[4].header.biCompression = 1;
  cases[5].header.biPlanes = 2;
  cases[6].header.biSize = 12;
  cases[10].header.biWidth = -8;
  cases[11].header.biWidth = kMaxBitmapSide + 1;
  cases[12].header.biWidth = 20000;
  cases[12].header.biHeight = -20000;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    BITMAPINFO info{};
    info.bmiHeader = c.header;
    void* bits = &info;  // must come back null
    EXPECT_EQ(CreateDIBSection(c.hdc, &info, c.usage, &bits, c.section, 0), 0);
    EXPECT_EQ(bits, nullptr);
  }
  void* bits = nullptr;
  EXPECT_EQ(CreateDIBSection(0, nullptr, DIB_RGB_COLORS, &bits, 0, 0), 0);
  EXPECT_EQ(GdiObjectCounts(), before_);
}

TEST_F(GdiHandleTest, CompatibleBitmapsRefuseBadSizes) {
  const HDC dc = CreateCompatibleDC(0);
  EXPECT_EQ(CreateCompatibleBitmap(dc, 0, 5), 0);
  EXPECT_EQ(CreateCompatibleBitmap(dc, 5, -1), 0);
  EXPECT_EQ(CreateCompatibleBitmap(dc, kMaxBitmapSide + 1, 1), 0);
  EXPECT_EQ(CreateCompatibleBitmap(dc, 1 << 15, 1 << 14), 0);  // 2^29 pixels
  EXPECT_EQ(CreateCompatibleBitmap(dc, INT32_MAX, INT32_MAX), 0);
  EXPECT_TRUE(DeleteDC(dc));
}

TEST_F(GdiHandleTest, DecodedPixelsAreAdoptedWithoutACopy) {
  std::vector<uint8_t> px(3 * 2 * 16, 0x11);  // stride 16 > 3 * 4
  const uint8_t* data = px.data();
  const HBITMAP bmp = CreateBitmapFromPixels(3, 2, std::move(px), 16);
  ASSERT_NE(bmp, 0);
  const SurfaceView v = ViewOf(bmp);
  EXPECT_EQ(v.bits, data);
  EXPECT_EQ(v.stride_bytes, 16);
  EXPECT_EQ(v.bytes_per_pixel, 4);
  EXPECT_FALSE(v.bottom_up);
  EXPECT_TRUE(DeleteObject(bmp));
}

TEST_F(GdiHandleTest, RefusedDecodedPixelsStayWithTheCaller) {
  std::vector<uint8_t> px(4 * 4 * 4, 0x22);
  EXPECT_EQ(CreateBitmapFromPixels(4, 4, std::move(px), 12), 0);  // stride
  EXPECT_EQ(CreateBitmapFromPixels(4, 5, std::move(px), 16), 0);  // short
  EXPECT_EQ(CreateBitmapFromPixels(0, 4, std::move(px), 16), 0);
  EXPECT_EQ(CreateBitmapFromPixels(4, kMaxBitmapSide + 1, std::move(px), 16),
            0);
  EXPECT_EQ(px.size(), 64u);  // still the caller's
  EXPECT_EQ(px[63], 0x22);
}

TEST_F(GdiHandleTest, ScreenContextIsAReferenceOnly) {
  const HWND desktop = GetDesktopWindow();
  EXPECT_NE(desktop, 0);
  EXPECT_EQ(GetDC(desktop + 1), 0);
  const HDC screen = GetDC(desktop);
  ASSERT_NE(screen, 0);
  EXPECT_EQ(GdiObjectCounts().contexts, before_.contexts + 1);
  const HDC mem = CreateCompatibleDC(screen);
  const HBITMAP bmp = CreateCompatibleBitmap(screen, 3, 3);
  ASSERT_NE(mem, 0);
  ASSERT_NE(bmp, 0);
  EXPECT_EQ(SelectObject(screen, bmp), 0);
  const HGDIOBJ stock = SelectObject(mem, bmp);
  EXPECT_FALSE(BitBlt(screen, 0, 0, 3, 3, mem, 0, 0, SRCCOPY));
  EXPECT_FALSE(BitBlt(mem, 0, 0, 3, 3, screen, 0, 0, SRCCOPY));
  EXPECT_FALSE(DeleteDC(screen));  // released, not deleted
  EXPECT_EQ(ReleaseDC(desktop, screen), 1);
  EXPECT_EQ(ReleaseDC(desktop, screen), 0);
  EXPECT_EQ(ReleaseDC(desktop, mem), 0);  // a memory context
  SelectObject(mem, stock);
  EXPECT_TRUE(DeleteObject(bmp));
  EXPECT_TRUE(DeleteDC(mem));
}

// --- BitBlt -----------------------------------------------------------------

class GdiBlitTest : public testing_gdi::GdiLeakCheck {};

TEST_F(GdiBlitTest, CopiesBetween32And24BitStorageKeepThePictureUpright) {
  constexpr int32_t kW = 13, kH = 9;
  const HBITMAP src = MakePatternBitmap(kW, kH);
  const HBITMAP up = MakeSection(kW, kH);
  const HBITMAP down = MakeSection(kW, -kH);
  const HDC screen = GetDC(0);
  const HBITMAP back = CreateCompatibleBitmap(screen, kW, kH);
  EXPECT_EQ(ReleaseDC(0, screen), 1);
  {
    SelectedDc s(src), u(up), d(down), b(back);
    ASSERT_TRUE(BitBlt(u.get(), 0, 0, kW, kH, s.get(), 0, 0, SRCCOPY));
    ASSERT_TRUE(BitBlt(d.get(), 0, 0, kW, kH, s.get(), 0, 0, SRCCOPY));
    ASSERT_TRUE(BitBlt(b.get(), 0, 0, kW, kH, u.get(), 0, 0, SRCCOPY));
  }
  const SurfaceView uv = ViewOf(up);
  for (int32_t y = 0; y < kH; ++y) {
    for (int32_t x = 0; x < kW; ++x) {
      const Bgr want = Pattern(x, y);
      // Bottom-up: picture row y is memory row kH - 1 - y.
      const uint8_t* p = uv.bits + (kH - 1 - y) * uv.stride_bytes + 3 * x;
      ASSERT_EQ((Bgr{p[0], p[1], p[2]}), want) << x << "," << y;
      ASSERT_EQ(GetPixel(down, x, y), want);
      ASSERT_EQ(GetPixel(back, x, y), want);
      ASSERT_EQ(testing_gdi::PixelAt(ViewOf(back), x, y)[3], 0xFF);
    }
  }
  for (const HBITMAP h : {src, up, down, back}) EXPECT_TRUE(DeleteObject(h));
}

// Checks a clipped copy against a per-pixel model: destination pixel (X, Y)
// takes source pixel (X - x + sx, Y - y + sy) when that offset lies inside the
// w x h rectangle and inside the source, and keeps its value otherwise.
void ExpectClippedCopy(int32_t x, int32_t y, int32_t w, int32_t h, int32_t sx,
                       int32_t sy) {
  SCOPED_TRACE(::testing::Message() << "dest " << x << "," << y << " size " << w
                                    << "x" << h << " src " << sx << "," << sy);
  constexpr int32_t kSW = 11, kSH = 7, kDW = 9, kDH = 8;
  const HBITMAP src = MakePatternBitmap(kSW, kSH, 1);
  const HBITMAP dst = MakeSection(kDW, kDH);
  Fill(dst, {9, 9, 9});
  {
    SelectedDc s(src), d(dst);
    ASSERT_TRUE(BitBlt(d.get(), x, y, w, h, s.get(), sx, sy, SRCCOPY));
  }
  for (int32_t Y = 0; Y < kDH; ++Y) {
    for (int32_t X = 0; X < kDW; ++X) {
      const int64_t kx = int64_t{X} - x, ky = int64_t{Y} - y;
      const int64_t px = kx + sx, py = ky + sy;
      const bool copied = kx >= 0 && kx < w && ky >= 0 && ky < h && px >= 0 &&
                          px < kSW && py >= 0 && py < kSH;
      const Bgr want = copied ? Pattern(static_cast<int32_t>(px),
                                        static_cast<int32_t>(py), 1)
                              : Bgr{9, 9, 9};
      ASSERT_EQ(GetPixel(dst, X, Y), want) << X << "," << Y;
    }
  }
  EXPECT_TRUE(DeleteObject(src));
  EXPECT_TRUE(DeleteObject(dst));
}

TEST_F(GdiBlitTest, ClipsToBothSurfaces) {
  ExpectClippedCopy(0, 0, 100, 100, 0, 0);  // larger than both
  ExpectClippedCopy(-3, -2, 6, 5, 0, 0);    // off the top-left of dest
  ExpectClippedCopy(5, 4, 10, 10, 0, 0);    // off the bottom-right of dest
  ExpectClippedCopy(1, 1, 5, 5, -2, -3);    // off the top-left of the source
  ExpectClippedCopy(0, 2, 9, 6, 6, 3);      // off the bottom-right of source
  ExpectClippedCopy(2, 1, 4, 3, 20, 0);     // source entirely outside
  ExpectClippedCopy(-50, 0, 4, 3, 0, 0);    // dest entirely outside
}

TEST_F(GdiBlitTest, ExtremeCoordinatesDoNotOverflow) {
  ExpectClippedCopy(INT32_MAX - 2, 0, INT32_MAX, 5, 0, 0);
  ExpectClippedCopy(INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX, 0, 0);
  ExpectClippedCopy(0, 0, INT32_MAX, INT32_MAX, INT32_MIN + 1, INT32_MAX);
  ExpectClippedCopy(2, 2, 3, 3, INT32_MIN, INT32_MIN);
}

TEST_F(GdiBlitTest, ZeroSizeCopiesNothingAndNegativeSizeFails) {
  const HBITMAP src = MakePatternBitmap(4, 4);
  const HBITMAP dst = MakeSection(4, 4);
  {
    SelectedDc s(src), d(dst);
    EXPECT_TRUE(BitBlt(d.get(), 0, 0, 0, 4, s.get(), 0, 0, SRCCOPY));
    EXPECT_FALSE(BitBlt(d.get(), 0, 0, -4, 4, s.get(), 0, 0, SRCCOPY));
    EXPECT_FALSE(BitBlt(d.get(), 0, 0, 4, -1, s.get(), 0, 0, SRCCOPY));
    EXPECT_FALSE(BitBlt(d.get(), 0, 0, 4, 4, s.get(), 0, 0, 0x01CC0020));
  }
  EXPECT_EQ(GetPixel(dst, 0, 0), (Bgr{0, 0, 0}));
  EXPECT_EQ(GetPixel(dst, 3, 3), (Bgr{0, 0, 0}));
  EXPECT_TRUE(DeleteObject(src));
  EXPECT_TRUE(DeleteObject(dst));
}

TEST_F(GdiBlitTest, RasterOperationsCombineKnownBytes) {
  const Bgr s{0xCA, 0x0F, 0xFF};
  const Bgr d{0xAC, 0xF0, 0x00};
  auto each = [](Bgr a, Bgr b, auto f) {
    return Bgr{static_cast<uint8_t>(f(a[0], b[0])),
               static_cast<uint8_t>(f(a[1], b[1])),
               static_cast<uint8_t>(f(a[2], b[2]))};
  };
  struct Case {
    const char* name;
    uint32_t rop;
    Bgr want;
  };
  const Case cases[] = {
      {"SRCCOPY", SRCCOPY, s},
      {"SRCPAINT", SRCPAINT, each(s, d, [](int a, int b) { return a | b; })},
      {"SRCAND", SRCAND, each(s, d, [](int a, int b) { return a & b; })},
      {"SRCINVERT", SRCINVERT, each(s, d, [](int a, int b) { return a ^ b; })},
      {"SRCERASE", SRCERASE, each(s, d, [](int a, int b) { return a & ~b; })},
      {"NOTSRCCOPY", NOTSRCCOPY, each(s, d, [](int a, int) { return ~a; })},
      {"NOTSRCERASE", NOTSRCERASE,
       each(s, d, [](int a, int b) { return ~(a | b); })},
      {"MERGEPAINT", MERGEPAINT,
       each(s, d, [](int a, int b) { return ~a | b; })},
      {"DSTINVERT", DSTINVERT, each(s, d, [](int, int b) { return ~b; })},
      {"BLACKNESS", BLACKNESS, Bgr{0, 0, 0}},
      {"WHITENESS", WHITENESS, Bgr{255, 255, 255}},
      {"PATCOPY", PATCOPY, Bgr{255, 255, 255}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // Both directions of storage, so that each conversion path is covered.
    const HBITMAP src24 = MakeSection(3, 2);
    const HBITMAP dst32 =
        CreateBitmapFromPixels(3, 2, std::vector<uint8_t>(24), 12);
    const HBITMAP src32 =
        CreateBitmapFromPixels(3, 2, std::vector<uint8_t>(24), 12);
    const HBITMAP dst24 = MakeSection(3, 2);
    Fill(src24, s);
    Fill(src32, s);
    Fill(dst24, d);
    Fill(dst32, d);
    {
      SelectedDc a(src24), b(dst32), e(src32), f(dst24);
      ASSERT_TRUE(BitBlt(b.get(), 0, 0, 3, 2, a.get(), 0, 0, c.rop));
      ASSERT_TRUE(BitBlt(f.get(), 0, 0, 3, 2, e.get(), 0, 0, c.rop));
    }
    EXPECT_EQ(GetPixel(dst32, 2, 1), c.want);
    EXPECT_EQ(GetPixel(dst24, 0, 0), c.want);
    for (const HBITMAP h : {src24, dst32, src32, dst24}) {
      EXPECT_TRUE(DeleteObject(h));
    }
  }
}

TEST_F(GdiBlitTest, OperationsWithoutSourceIgnoreTheSourceHandle) {
  const HBITMAP dst = MakeSection(2, 2);
  Fill(dst, {0x0F, 0xF0, 0x55});
  {
    SelectedDc d(dst);
    EXPECT_TRUE(BitBlt(d.get(), 0, 0, 1, 2, 0, 0, 0, DSTINVERT));
    EXPECT_FALSE(BitBlt(d.get(), 0, 0, 1, 2, 0, 0, 0, SRCCOPY));
  }
  EXPECT_EQ(GetPixel(dst, 0, 1), (Bgr{0xF0, 0x0F, 0xAA}));
  EXPECT_EQ(GetPixel(dst, 1, 1), (Bgr{0x0F, 0xF0, 0x55}));
  EXPECT_TRUE(DeleteObject(dst));
}

TEST_F(GdiBlitTest, RowPaddingOfASectionIsNeverWritten) {
  const HBITMAP src = MakePatternBitmap(5, 3);
  const HBITMAP dst = MakeSection(5, 3);  // 15 bytes of pixels, 1 of padding
  const SurfaceView v = ViewOf(dst);
  for (int32_t row = 0; row < 3; ++row) v.bits[row * 16 + 15] = 0xAB;
  {
    SelectedDc s(src), d(dst);
    ASSERT_TRUE(BitBlt(d.get(), 0, 0, 5, 3, s.get(), 0, 0, SRCCOPY));
    ASSERT_TRUE(BitBlt(d.get(), 0, 0, 5, 3, s.get(), 0, 0, SRCINVERT));
    ASSERT_TRUE(BitBlt(d.get(), 0, 0, 5, 3, 0, 0, 0, WHITENESS));
  }
  for (int32_t row = 0; row < 3; ++row) EXPECT_EQ(v.bits[row * 16 + 15], 0xAB);
  EXPECT_TRUE(DeleteObject(src));
  EXPECT_TRUE(DeleteObject(dst));
}

TEST_F(GdiBlitTest, OverlappingCopyWithinOneSurfaceReadsTheOldPicture) {
  constexpr int32_t kW = 8, kH = 6;
  const HBITMAP bmp = MakeSection(kW, kH);
  for (int32_t y = 0; y < kH; ++y) {
    for (int32_t x = 0; x < kW; ++x) SetPixel(bmp, x, y, Pattern(x, y));
  }
  {
    SelectedDc d(bmp);
    // Down and right by one: a forward row-by-row copy would smear.
    ASSERT_TRUE(BitBlt(d.get(), 1, 1, kW, kH, d.get(), 0, 0, SRCCOPY));
  }
  for (int32_t y = 1; y < kH; ++y) {
    for (int32_t x = 1; x < kW; ++x) {
      ASSERT_EQ(GetPixel(bmp, x, y), Pattern(x - 1, y - 1)) << x << "," << y;
    }
  }
  EXPECT_EQ(GetPixel(bmp, 0, 3), Pattern(0, 3));  // outside: unchanged
  EXPECT_TRUE(DeleteObject(bmp));
}

TEST_F(GdiBlitTest, ThreadsWorkingOnTheirOwnObjectsDoNotInterfere) {
  constexpr int kThreads = 4, kRounds = 150;
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &failures] {
      for (int round = 0; round < kRounds; ++round) {
        const int32_t w = 5 + (round + t) % 7, h = 3 + t;
        const HBITMAP src = MakePatternBitmap(w, h, t * 31 + round);
        const HBITMAP dst = MakeSection(w, h);
        const HDC sdc = CreateCompatibleDC(0), ddc = CreateCompatibleDC(0);
        const HGDIOBJ s_old = SelectObject(sdc, src);
        const HGDIOBJ d_old = SelectObject(ddc, dst);
        if (!BitBlt(ddc, 0, 0, w, h, sdc, 0, 0, SRCCOPY)) ++failures;
        SelectObject(sdc, s_old);
        SelectObject(ddc, d_old);
        if (!DeleteDC(sdc) || !DeleteDC(ddc)) ++failures;
        SurfaceView v{};
        if (!GetSurface(dst, &v)) ++failures;
        const uint8_t* p = testing_gdi::PixelAt(v, w - 1, h - 1);
        if ((Bgr{p[0], p[1], p[2]}) != Pattern(w - 1, h - 1, t * 31 + round)) {
          ++failures;
        }
        if (!DeleteObject(src) || !DeleteObject(dst)) ++failures;
      }
    });
  }
  for (std::thread& th : threads) th.join();
  EXPECT_EQ(failures.load(), 0);
}

}  // namespace
}  // namespace vg::platform
