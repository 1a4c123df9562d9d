#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <random>
#include <vector>

#include "platform/gdi.h"
#include "platform/gdi_test_support.h"

namespace vg::platform {
namespace {

// The pictures, pixels and contexts of the GDI tests.
using namespace testing_gdi;

class GdiStretchTest : public testing_gdi::GdiLeakCheck {};

// A picture as plain doubles, one channel, for the reference filters.
struct Plane {
  int32_t w, h;
  std::vector<double> v;
  double at(int32_t x, int32_t y) const { return v[y * w + x]; }
};

Plane ChannelOf(HBITMAP bmp, int32_t w, int32_t h, int channel) {
  Plane p{w, h, std::vector<double>(static_cast<size_t>(w) * h)};
  for (int32_t y = 0; y < h; ++y) {
    for (int32_t x = 0; x < w; ++x)
      p.v[y * w + x] = GetPixel(bmp, x, y)[channel];
  }
  return p;
}

double Lanczos3(double x) {
  x = std::fabs(x);
  if (x < 1e-12) return 1;
  if (x >= 3) return 0;
  const double px = M_PI * x;
  return 3 * std::sin(px) * std::sin(px / 3) / (px * px);
}

// Reference shrink of one axis: Lanczos-3 stretched to the output pixel,
// weights normalised, taps beyond an edge taken from the edge pixel.
std::vector<double> LanczosWeights(int32_t in, int32_t out, int32_t j,
                                   int32_t* first) {
  const double scale = double(in) / out, centre = (j + 0.5) * scale - 0.5;
  std::vector<double> w(in, 0.0);
  double sum = 0;
  for (int32_t k = int32_t(std::floor(centre - 3 * scale)) - 1;
       k <= int32_t(std::ceil(centre + 3 * scale)) + 1; ++k) {
    const double v = Lanczos3((k - centre) / scale);
    w[std::clamp(k, 0, in - 1)] += v;
    sum += v;
  }
  for (double& v : w) v /= sum;
  *first = 0;
  return w;
}

// The whole shrink in doubles, rows first as the kernel does, each pass
// clamped to the byte range.
Plane LanczosShrink(const Plane& s, int32_t ow, int32_t oh) {
  Plane mid{s.w, oh, std::vector<double>(static_cast<size_t>(s.w) * oh)};
  for (int32_t y = 0; y < oh; ++y) {
    int32_t f;
    const std::vector<double> w = LanczosWeights(s.h, oh, y, &f);
    for (int32_t x = 0; x < s.w; ++x) {
      double v = 0;
      for (int32_t k = 0; k < s.h; ++k) v += w[k] * s.at(x, k);
      mid.v[y * s.w + x] = std::clamp(v, 0.0, 255.0);
    }
  }
  Plane out{ow, oh, std::vector<double>(static_cast<size_t>(ow) * oh)};
  for (int32_t x = 0; x < ow; ++x) {
    int32_t f;
    const std::vector<double> w = LanczosWeights(s.w, ow, x, &f);
    for (int32_t y = 0; y < oh; ++y) {
      double v = 0;
      for (int32_t k = 0; k < s.w; ++k) v += w[k] * mid.at(k, y);
      out.v[y * ow + x] = std::clamp(v, 0.0, 255.0);
    }
  }
  return out;
}

// Reference bilinear: sample the source at the centre of output pixel
// (X, Y), edge pixels repeated.
double Bilinear(const Plane& s, int32_t ow, int32_t oh, int32_t X, int32_t Y) {
  auto coord = [](int32_t j, int32_t in, int32_t out) {
    return std::clamp((j + 0.5) * in / out - 0.5, 0.0, double(in - 1));
  };
  const double fx = coord(X, s.w, ow), fy = coord(Y, s.h, oh);
  const int32_t x0 = int32_t(fx), y0 = int32_t(fy);
  const int32_t x1 = std::min(x0 + 1, s.w - 1), y1 = std::min(y0 + 1, s.h - 1);
  const double ax = fx - x0, ay = fy - y0;
  return (1 - ay) * ((1 - ax) * s.at(x0, y0) + ax * s.at(x1, y0)) +
         ay * ((1 - ax) * s.at(x0, y1) + ax * s.at(x1, y1));
}

// Stretches the whole of `src` (sw x sh) into a new ow x oh bitmap at (0, 0);
// `to24` picks a DIB section or a 32-bit bitmap as the destination.
HBITMAP StretchWhole(HBITMAP src, int32_t sw, int32_t sh, int32_t ow,
                     int32_t oh, bool to24) {
  const HBITMAP dst =
      to24 ? MakeSection(ow, oh)
           : CreateBitmapFromPixels(ow, oh, std::vector<uint8_t>(ow * oh * 4),
                                    ow * 4);
  SelectedDc s(src), d(dst);
  EXPECT_TRUE(
      StretchBlt(d.get(), 0, 0, ow, oh, s.get(), 0, 0, sw, sh, SRCCOPY));
  return dst;
}

HBITMAP NoiseSection(int32_t w, int32_t h, uint32_t seed) {
  std::mt19937 gen(seed);
  const HBITMAP bmp = MakeSection(w, h);
  for (int32_t y = 0; y < h; ++y) {
    for (int32_t x = 0; x < w; ++x) {
      const uint32_t r = gen();
      SetPixel(bmp, x, y, {uint8_t(r), uint8_t(r >> 8), uint8_t(r >> 16)});
    }
  }
  return bmp;
}

TEST_F(GdiStretchTest, AFlatPictureStaysFlatAtAnyScale) {
  const Bgr colour{17, 128, 250};
  struct Size {
    int32_t sw, sh, ow, oh;
  };
  for (const Size z :
       {Size{97, 61, 13, 7}, Size{13, 7, 100, 50}, Size{40, 9, 7, 31},
        Size{3, 300, 301, 2}, Size{1, 1, 5, 4}, Size{600, 1, 1, 1}}) {
    SCOPED_TRACE(::testing::Message()
                 << z.sw << "x" << z.sh << " -> " << z.ow << "x" << z.oh);
    const HBITMAP src = MakeSection(z.sw, z.sh);
    Fill(src, colour);
    for (const bool to24 : {true, false}) {
      const HBITMAP out = StretchWhole(src, z.sw, z.sh, z.ow, z.oh, to24);
      for (int32_t y = 0; y < z.oh; ++y) {
        for (int32_t x = 0; x < z.ow; ++x) {
          ASSERT_EQ(GetPixel(out, x, y), colour) << x << "," << y;
        }
      }
      EXPECT_TRUE(DeleteObject(out));
    }
    EXPECT_TRUE(DeleteObject(src));
  }
}

TEST_F(GdiStretchTest, ShrinkingACheckerboardKeepsItsMean) {
  // A one-pixel checkerboard of 0 and 255 at a ratio that is not whole.
  constexpr int32_t kW = 400, kH = 300, kOW = 150, kOH = 113;
  const HBITMAP src = MakeSection(kW, kH);
  for (int32_t y = 0; y < kH; ++y) {
    for (int32_t x = 0; x < kW; ++x) {
      const uint8_t v = (x + y) % 2 ? 255 : 0;
      SetPixel(src, x, y, {v, v, v});
    }
  }
  const HBITMAP out = StretchWhole(src, kW, kH, kOW, kOH, false);
  double sum = 0;
  int32_t lo = 255, hi = 0;
  for (int32_t y = 0; y < kOH; ++y) {
    for (int32_t x = 0; x < kOW; ++x) {
      const int32_t v = GetPixel(out, x, y)[1];
      sum += v;
      lo = std::min(lo, v);
      hi = std::max(hi, v);
    }
  }
  EXPECT_NEAR(sum / (kOW * kOH), 127.5, 1.0);
  // An area average cannot alias the pattern into dark or light blotches:
  // each output covers at least 2.6 x 2.6 source pixels.
  EXPECT_GE(lo, 100);
  EXPECT_LE(hi, 155);
  EXPECT_TRUE(DeleteObject(src));
  EXPECT_TRUE(DeleteObject(out));
}

TEST_F(GdiStretchTest, AHugeShrinkStillAveragesEveryPixel) {
  // 50 000 : 1, where each source pixel's weight is below one 2.14 step.
  constexpr int32_t kW = 50000;
  const HBITMAP src = MakeSection(kW, 1);
  for (int32_t x = 0; x < kW; ++x) {
    // A fine pattern of mean 100 whose two edge pixels (repeated beyond the
    // picture by the filter) average 100 too.
    const uint8_t v = x % 2 == 0 ? 0 : 200;
    SetPixel(src, x, 0, {v, v, v});
  }
  const HBITMAP out = StretchWhole(src, kW, 1, 1, 1, true);
  EXPECT_NEAR(GetPixel(out, 0, 0)[0], 100, 1);
  EXPECT_TRUE(DeleteObject(src));
  EXPECT_TRUE(DeleteObject(out));
}

TEST_F(GdiStretchTest, MatchesLanczosShrinkAndBilinearGrowthWithinOneLevel) {
  struct Size {
    int32_t sw, sh, ow, oh;
    bool shrink;
  };
  for (const Size z : {Size{101, 77, 23, 10, true}, Size{50, 50, 49, 17, true},
                       Size{64, 48, 32, 24, true}, Size{7, 40, 3, 8, true},
                       Size{300, 7, 150, 3, true}, Size{9, 7, 40, 31, false},
                       Size{16, 12, 33, 25, false}}) {
    SCOPED_TRACE(::testing::Message()
                 << z.sw << "x" << z.sh << " -> " << z.ow << "x" << z.oh);
    const HBITMAP src = NoiseSection(z.sw, z.sh, 11);
    const HBITMAP out = StretchWhole(src, z.sw, z.sh, z.ow, z.oh, false);
    for (int ch = 0; ch < 3; ++ch) {
      const Plane p = ChannelOf(src, z.sw, z.sh, ch);
      const Plane shrunk =
          z.shrink ? LanczosShrink(p, z.ow, z.oh) : Plane{0, 0, {}};
      for (int32_t y = 0; y < z.oh; ++y) {
        for (int32_t x = 0; x < z.ow; ++x) {
          const double want =
              z.shrink ? shrunk.at(x, y) : Bilinear(p, z.ow, z.oh, x, y);
          const int32_t got = GetPixel(out, x, y)[ch];
          ASSERT_LE(std::abs(got - want), 1.0) << x << "," << y << " ch " << ch;
        }
      }
    }
    EXPECT_TRUE(DeleteObject(src));
    EXPECT_TRUE(DeleteObject(out));
  }
}

TEST_F(GdiStretchTest, ClippingCutsTheResultWithoutChangingIt) {
  constexpr int32_t kSW = 57, kSH = 41, kOW = 20, kOH = 14;
  const HBITMAP src = NoiseSection(kSW, kSH, 3);
  const HBITMAP whole = StretchWhole(src, kSW, kSH, kOW, kOH, true);
  // The same stretch placed at (-6, 5) in a 12 x 12 picture: only the part
  // inside is drawn, identical to the matching part of the whole result.
  const HBITMAP dst = MakeSection(12, 12);
  Fill(dst, {1, 2, 3});
  {
    SelectedDc s(src), d(dst);
    ASSERT_TRUE(
        StretchBlt(d.get(), -6, 5, kOW, kOH, s.get(), 0, 0, kSW, kSH, SRCCOPY));
  }
  for (int32_t y = 0; y < 12; ++y) {
    for (int32_t x = 0; x < 12; ++x) {
      const Bgr want = y >= 5 ? GetPixel(whole, x + 6, y - 5) : Bgr{1, 2, 3};
      ASSERT_EQ(GetPixel(dst, x, y), want) << x << "," << y;
    }
  }
  for (const HBITMAP h : {src, whole, dst}) EXPECT_TRUE(DeleteObject(h));
}

TEST_F(GdiStretchTest, ASourceRectangleIsScaledUpright) {
  // Top-left quarter red, the rest blue; take the 8 x 6 part at (4, 2) of a
  // 32-bit top-down picture into a bottom-up section at twice the size.
  const HBITMAP src =
      CreateBitmapFromPixels(16, 12, std::vector<uint8_t>(16 * 12 * 4), 64);
  for (int32_t y = 0; y < 12; ++y) {
    for (int32_t x = 0; x < 16; ++x) {
      SetPixel(src, x, y, x < 8 && y < 6 ? Bgr{0, 0, 255} : Bgr{255, 0, 0});
    }
  }
  const HBITMAP dst = MakeSection(16, 12);
  {
    SelectedDc s(src), d(dst);
    ASSERT_TRUE(
        StretchBlt(d.get(), 0, 0, 16, 12, s.get(), 4, 2, 8, 6, SRCCOPY));
  }
  EXPECT_EQ(GetPixel(dst, 0, 0), (Bgr{0, 0, 255}));  // red at the top-left
  EXPECT_EQ(GetPixel(dst, 5, 6), (Bgr{0, 0, 255}));
  EXPECT_EQ(GetPixel(dst, 15, 11), (Bgr{255, 0, 0}));  // blue below, right
  EXPECT_EQ(GetPixel(dst, 15, 0), (Bgr{255, 0, 0}));
  EXPECT_EQ(GetPixel(dst, 0, 11), (Bgr{255, 0, 0}));
  EXPECT_TRUE(DeleteObject(src));
  EXPECT_TRUE(DeleteObject(dst));
}

TEST_F(GdiStretchTest, BadRequestsFailAndChangeNothing) {
  const HBITMAP src = MakePatternBitmap(10, 10);
  const HBITMAP dst = MakeSection(10, 10);
  Fill(dst, {7, 7, 7});
  {
    SelectedDc s(src), d(dst);
    const HDC sd = s.get(), dd = d.get();
    EXPECT_FALSE(StretchBlt(dd, 0, 0, 5, 5, sd, 6, 0, 5, 5, SRCCOPY));  // out
    EXPECT_FALSE(StretchBlt(dd, 0, 0, 5, 5, sd, -1, 0, 5, 5, SRCCOPY));
    EXPECT_FALSE(StretchBlt(dd, 0, 0, 5, 5, sd, 0, 0, 5, INT32_MAX, SRCCOPY));
    EXPECT_FALSE(StretchBlt(dd, 0, 0, -5, 5, sd, 0, 0, 5, 5, SRCCOPY));
    EXPECT_FALSE(StretchBlt(dd, 0, 0, 5, 5, sd, 0, 0, 5, -5, SRCCOPY));
    EXPECT_FALSE(StretchBlt(dd, 0, 0, 5, 5, 999, 0, 0, 5, 5, SRCCOPY));
    EXPECT_FALSE(StretchBlt(dd, 0, 0, 5, 5, sd, 0, 0, 5, 5, 0x02000000));
    EXPECT_TRUE(StretchBlt(dd, 0, 0, 0, 5, sd, 0, 0, 5, 5, SRCCOPY));
    EXPECT_TRUE(StretchBlt(dd, 0, 0, 5, 5, sd, 0, 0, 0, 5, SRCCOPY));
    // Far outside the destination: nothing to draw, and no overflow.
    EXPECT_TRUE(StretchBlt(dd, INT32_MAX, INT32_MIN, INT32_MAX, 3, sd, 0, 0, 10,
                           10, SRCCOPY));
  }
  for (int32_t y = 0; y < 10; ++y) {
    for (int32_t x = 0; x < 10; ++x)
      ASSERT_EQ(GetPixel(dst, x, y), (Bgr{7, 7, 7}));
  }
  EXPECT_TRUE(DeleteObject(src));
  EXPECT_TRUE(DeleteObject(dst));
}

TEST_F(GdiStretchTest, OtherRasterOperationsCombineTheScaledPicture) {
  constexpr int32_t kW = 30, kH = 20;
  const HBITMAP src = NoiseSection(kW, kH, 5);
  const HBITMAP scaled = StretchWhole(src, kW, kH, 11, 9, true);
  const HBITMAP dst = MakeSection(11, 9);
  Fill(dst, {0x5A, 0xA5, 0xFF});
  {
    SelectedDc s(src), d(dst);
    ASSERT_TRUE(
        StretchBlt(d.get(), 0, 0, 11, 9, s.get(), 0, 0, kW, kH, SRCINVERT));
  }
  for (int32_t y = 0; y < 9; ++y) {
    for (int32_t x = 0; x < 11; ++x) {
      const Bgr a = GetPixel(scaled, x, y);
      ASSERT_EQ(GetPixel(dst, x, y),
                (Bgr{uint8_t(a[0] ^ 0x5A), uint8_t(a[1] ^ 0xA5),
                     uint8_t(a[2] ^ 0xFF)}));
    }
  }
  for (const HBITMAP h : {src, scaled, dst}) EXPECT_TRUE(DeleteObject(h));
}

}  // namespace
}  // namespace vg::platform
