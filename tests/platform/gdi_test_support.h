// Helpers for tests of the GDI stand-in and of the DIB section classes:
// a fixture that fails a test leaving live GDI objects behind, patterned
// test pictures, and pixel access by picture coordinates whatever the row
// order in memory.
#ifndef VG_TESTS_PLATFORM_GDI_TEST_SUPPORT_H_
#define VG_TESTS_PLATFORM_GDI_TEST_SUPPORT_H_

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

#include "platform/gdi.h"

namespace vg::testing_gdi {

using Bgr = std::array<uint8_t, 3>;

// Fails the test when it ends with a different number of live objects than
// it started with.
class GdiLeakCheck : public ::testing::Test {
 protected:
  void SetUp() override { before_ = platform::GdiObjectCounts(); }
  void TearDown() override {
    const platform::GdiCounts after = platform::GdiObjectCounts();
    EXPECT_EQ(after.contexts, before_.contexts) << "contexts leaked";
    EXPECT_EQ(after.bitmaps, before_.bitmaps) << "bitmaps leaked";
    EXPECT_EQ(after.sections, before_.sections) << "sections leaked";
  }
  platform::GdiCounts before_{};
};

// A colour that differs at every pixel and in every channel.
inline Bgr Pattern(int32_t x, int32_t y, int32_t seed = 0) {
  return {static_cast<uint8_t>(x * 7 + y * 3 + seed),
          static_cast<uint8_t>(x * 5 + y * 11 + 40 + seed),
          static_cast<uint8_t>(x ^ (y * 13) ^ seed)};
}

// Returns the address of pixel (x, y), counted from the top-left corner.
inline uint8_t* PixelAt(const platform::SurfaceView& v, int32_t x, int32_t y) {
  const int32_t row = v.bottom_up ? v.height - 1 - y : y;
  return v.bits + static_cast<ptrdiff_t>(row) * v.stride_bytes +
         static_cast<ptrdiff_t>(x) * v.bytes_per_pixel;
}

inline platform::SurfaceView ViewOf(platform::HGDIOBJ bitmap) {
  platform::SurfaceView v{};
  EXPECT_TRUE(platform::GetSurface(bitmap, &v)) << "not a bitmap: " << bitmap;
  return v;
}

inline Bgr GetPixel(platform::HGDIOBJ bitmap, int32_t x, int32_t y) {
  const platform::SurfaceView v = ViewOf(bitmap);
  const uint8_t* p = PixelAt(v, x, y);
  return {p[0], p[1], p[2]};
}

inline void SetPixel(platform::HGDIOBJ bitmap, int32_t x, int32_t y, Bgr c) {
  const platform::SurfaceView v = ViewOf(bitmap);
  uint8_t* p = PixelAt(v, x, y);
  p[0] = c[0];
  p[1] = c[1];
  p[2] = c[2];
}

// Makes a 32-bit top-down bitmap through the decoder hand-over, filled with
// Pattern(x, y, seed) and X bytes of 0x5A.
inline platform::HBITMAP MakePatternBitmap(int32_t w, int32_t h,
                                           int32_t seed = 0) {
  std::vector<uint8_t> px(static_cast<size_t>(w) * h * 4);
  for (int32_t y = 0; y < h; ++y) {
    for (int32_t x = 0; x < w; ++x) {
      const Bgr c = Pattern(x, y, seed);
      uint8_t* p = &px[(static_cast<size_t>(y) * w + x) * 4];
      p[0] = c[0];
      p[1] = c[1];
      p[2] = c[2];
      p[3] = 0x5A;
    }
  }
  return platform::CreateBitmapFromPixels(w, h, std::move(px), w * 4);
}

// Makes a 24-bit DIB section (bottom-up for h > 0, top-down for h < 0).
inline platform::HBITMAP MakeSection(int32_t w, int32_t h) {
  platform::BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(platform::BITMAPINFOHEADER);
  info.bmiHeader.biWidth = w;
  info.bmiHeader.biHeight = h;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  void* bits = nullptr;
  return platform::CreateDIBSection(0, &info, platform::DIB_RGB_COLORS, &bits,
                                    0, 0);
}

// Fills every pixel of a bitmap with one colour.
inline void Fill(platform::HGDIOBJ bitmap, Bgr c) {
  const platform::SurfaceView v = ViewOf(bitmap);
  for (int32_t y = 0; y < v.height; ++y) {
    for (int32_t x = 0; x < v.width; ++x) SetPixel(bitmap, x, y, c);
  }
}

// A memory context with one bitmap selected; puts the stock bitmap back and
// deletes the context when it goes (the bitmap stays, owned by the test).
class SelectedDc {
 public:
  explicit SelectedDc(platform::HBITMAP bitmap)
      : dc_(platform::CreateCompatibleDC(0)) {
    saved_ = platform::SelectObject(dc_, bitmap);
    EXPECT_NE(saved_, 0) << "could not select " << bitmap;
  }
  ~SelectedDc() {
    platform::SelectObject(dc_, saved_);
    platform::DeleteDC(dc_);
  }
  SelectedDc(const SelectedDc&) = delete;
  SelectedDc& operator=(const SelectedDc&) = delete;
  platform::HDC get() const { return dc_; }

 private:
  platform::HDC dc_;
  platform::HGDIOBJ saved_ = 0;
};

}  // namespace vg::testing_gdi

#endif  // VG_TESTS_PLATFORM_GDI_TEST_SUPPORT_H_
