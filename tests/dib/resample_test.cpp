#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <random>
#include <utility>
#include <vector>

#include "dib/c_dib_section.h"
#include "dib/internal/resample_bilinear.h"
#include "dib/pixels_testutil.h"

namespace vg::dib::dib_internal {
namespace {

using testing::kPadding;
using testing::Pixels;

Pixels RandomPixels(int32_t w, int32_t h, std::mt19937& engine,
                    bool dib_rows = true) {
  Pixels p(w, h, dib_rows);
  for (int32_t y = 0; y < h; ++y) {
    for (int32_t x = 0; x < w; ++x) {
      for (int k = 0; k < 3; ++k) {
        p.at(x, y, k) = static_cast<uint8_t>(engine() >> 24);
      }
    }
  }
  return p;
}

Pixels Resampled(Pixels& src, int32_t w, int32_t h) {
  Pixels dst(w, h);
  ResampleBilinear(src.data(), src.width, src.height, src.stride, dst.data(), w,
                   h, dst.stride);
  return dst;
}

Pixels ResampledByReference(Pixels& src, int32_t w, int32_t h) {
  Pixels dst(w, h);
  ResampleBilinearReference(src.data(), src.width, src.height, src.stride,
                            dst.data(), w, h, dst.stride);
  return dst;
}

void ExpectPaddingIntact(const Pixels& p) {
  for (int32_t y = 0; y < p.height; ++y) {
    for (int32_t i = p.width * 3; i < p.stride; ++i) {
      ASSERT_EQ(p.bytes[static_cast<size_t>(y) * p.stride + i], kPadding)
          << "row " << y << " byte " << i;
    }
  }
}

TEST(ResampleBilinearTest, WorkedExamples) {
  // 3 x 2 -> 4 x 2: positions 0, 0.5, 1, 1.5; 100.5 -> 100 and 101.5 -> 102.
  Pixels src(3, 2);
  const uint8_t blue[] = {100, 101, 102};
  const uint8_t green[] = {0, 255, 7};
  for (int32_t y = 0; y < 2; ++y) {
    for (int32_t x = 0; x < 3; ++x) {
      src.at(x, y, 0) = blue[x];
      src.at(x, y, 1) = green[x];
      src.at(x, y, 2) = 200;
    }
  }
  Pixels dst = Resampled(src, 4, 2);
  for (int32_t y = 0; y < 2; ++y) {
    EXPECT_EQ(dst.at(0, y, 0), 100);
    EXPECT_EQ(dst.at(1, y, 0), 100);
    EXPECT_EQ(dst.at(2, y, 0), 101);
    EXPECT_EQ(dst.at(3, y, 0), 102);
    // Green 127.5 -> 128, then 255, then 131.
    EXPECT_EQ(dst.at(0, y, 1), 0);
    EXPECT_EQ(dst.at(1, y, 1), 128);
    EXPECT_EQ(dst.at(2, y, 1), 255);
    EXPECT_EQ(dst.at(3, y, 1), 131);
    for (int32_t x = 0; x < 4; ++x) EXPECT_EQ(dst.at(x, y, 2), 200);
  }

  // Halving a 4-pixel row samples 0 and 1.5: pixel 3 never counts.
  for (uint8_t last : {0, 255}) {
    Pixels row(4, 2);
    const uint8_t values[] = {9, 10, 13, last};
    for (int32_t y = 0; y < 2; ++y) {
      for (int32_t x = 0; x < 4; ++x) {
        for (int k = 0; k < 3; ++k) row.at(x, y, k) = values[x];
      }
    }
    Pixels half = Resampled(row, 2, 2);
    for (int32_t y = 0; y < 2; ++y) {
      EXPECT_EQ(half.at(0, y, 1), 9);
      EXPECT_EQ(half.at(1, y, 1), 12);  // 11.5, halves to even
    }
  }

  // Rows: 2 -> 4 samples 0, 0.25, 0.5, 0.75, anchored at memory row 0.
  Pixels two_rows(1, 2);
  for (int k = 0; k < 3; ++k) {
    two_rows.at(0, 0, k) = 10;
    two_rows.at(0, 1, k) = 50;
  }
  Pixels four_rows = Resampled(two_rows, 1, 4);
  EXPECT_EQ(four_rows.at(0, 0, 0), 10);
  EXPECT_EQ(four_rows.at(0, 1, 0), 20);
  EXPECT_EQ(four_rows.at(0, 2, 0), 30);
  EXPECT_EQ(four_rows.at(0, 3, 0), 40);
}

// The weighted sum a + t * (b - a) rounded to the nearest integer, halves to
// even, in integers: t (a float fraction) is taken as n / 2^48 exactly.
uint8_t ExactNearest(int64_t a, int64_t b, float t) {
  constexpr int64_t kOne = int64_t{1} << 48;
  const auto n = static_cast<int64_t>(static_cast<double>(t) * 0x1p48);
  EXPECT_EQ(static_cast<double>(n) * 0x1p-48, static_cast<double>(t))
      << "fraction too fine for the exact check";
  const int64_t sum = a * kOne + n * (b - a);  // >= 0: it lies between a, b
  int64_t q = sum >> 48;
  const int64_t r = sum & (kOne - 1);
  if (r > kOne / 2 || (r == kOne / 2 && (q & 1) != 0)) ++q;
  return static_cast<uint8_t>(q);
}

// The resampled picture from exact integer sums, with the same float scales,
// positions and fractions: independent of both resamplers' double weights.
Pixels ExactlyResampled(Pixels& src, int32_t w, int32_t h) {
  Pixels dst(w, h);
  const auto scale = [](int32_t from, int32_t to) {
    return static_cast<float>(static_cast<double>(from - 1) / to);
  };
  const auto at = [](float s, int32_t i, int32_t size) {
    const auto pos = static_cast<float>(static_cast<double>(s) * i);
    const int32_t index = std::min(static_cast<int32_t>(pos), size - 1);
    return std::pair{index, pos - static_cast<float>(index)};
  };
  for (int32_t y = 0; y < h; ++y) {
    const auto [yi, yf] = at(scale(src.height, h), y, src.height);
    const int32_t yn = std::min(yi + 1, src.height - 1);
    for (int32_t x = 0; x < w; ++x) {
      const auto [xi, xf] = at(scale(src.width, w), x, src.width);
      const int32_t xn = std::min(xi + 1, src.width - 1);
      for (int k = 0; k < 3; ++k) {
        const uint8_t left =
            ExactNearest(src.at(xi, yi, k), src.at(xi, yn, k), yf);
        const uint8_t right =
            ExactNearest(src.at(xn, yi, k), src.at(xn, yn, k), yf);
        dst.at(x, y, k) = ExactNearest(left, right, xf);
      }
    }
  }
  return dst;
}

TEST(ResampleBilinearTest, RoundsSumsJustPastAHalfUp) {
  // 3 x 2 -> 3 x 6 samples row 1 at float(1/6) = 0.16666667163...:
  // 2 + 3 * that = 2.500000015 gives 3. A weight 1 - t rounded to float
  // loses up to 2^-25 and lands the sum just below the half.
  Pixels columns(3, 2);
  for (int32_t x = 0; x < 3; ++x) {
    for (int k = 0; k < 3; ++k) {
      columns.at(x, 0, k) = 2;
      columns.at(x, 1, k) = 5;
    }
  }
  // 2 x 3 -> 6 x 3 samples column 1 at float(1/6): 10 + 21 * that =
  // 13.5000001 gives 14.
  Pixels rows(2, 3);
  for (int32_t y = 0; y < 3; ++y) {
    for (int k = 0; k < 3; ++k) {
      rows.at(0, y, k) = 10;
      rows.at(1, y, k) = 31;
    }
  }
  for (auto resample : {&Resampled, &ResampledByReference}) {
    Pixels taller = resample(columns, 3, 6);
    for (int32_t x = 0; x < 3; ++x) {
      EXPECT_EQ(taller.at(x, 0, 0), 2);
      EXPECT_EQ(taller.at(x, 1, 0), 3) << "column " << x;
    }
    Pixels wider = resample(rows, 6, 3);
    for (int32_t y = 0; y < 3; ++y) {
      EXPECT_EQ(wider.at(0, y, 1), 10);
      EXPECT_EQ(wider.at(1, y, 1), 14) << "row " << y;
    }
  }
}

TEST(ResampleBilinearTest, RampsAtSmallScalesRoundExactly) {
  // Ramps of small integer steps put many exact sums a hair away from a
  // half at scales such as 1/3, 1/6 or 2/7; random noise seldom does.
  // Both resamplers are checked against integer arithmetic.
  std::vector<std::array<int32_t, 4>> cases;
  for (int32_t sw = 2; sw <= 8; ++sw) {
    for (int32_t d : {3, 5, 6, 7, 9, 10, 12}) {
      cases.push_back({sw, 8 - sw + 2, (sw - 1) * d, 2 * d + 1});
      cases.push_back({sw, sw, 2 * d, (sw - 1) * d});
    }
  }
  for (const auto& [sw, sh, dw, dh] : cases) {
    for (int32_t step = 1; step <= 9; step += 2) {
      Pixels src(sw, sh);
      for (int32_t y = 0; y < sh; ++y) {
        for (int32_t x = 0; x < sw; ++x) {
          src.at(x, y, 0) = static_cast<uint8_t>(step * x);
          src.at(x, y, 1) = static_cast<uint8_t>(200 - step * y);
          src.at(x, y, 2) = static_cast<uint8_t>(7 + step * (x + 2 * y));
        }
      }
      const Pixels exact = ExactlyResampled(src, dw, dh);
      ASSERT_EQ(Resampled(src, dw, dh).bytes, exact.bytes)
          << sw << "x" << sh << " -> " << dw << "x" << dh << " step " << step;
      ASSERT_EQ(ResampledByReference(src, dw, dh).bytes, exact.bytes)
          << sw << "x" << sh << " -> " << dw << "x" << dh << " step " << step;
    }
  }
}

TEST(ResampleBilinearTest, RoundsVerticallyFirstThenHorizontally) {
  // 3 x 3 -> 4 x 4 samples pixel (1, 1) at (0.5, 0.5). The columns hold
  // (0, 1) and (2, 3) bottom-up: the vertical steps give 0.5 -> 0 and
  // 2.5 -> 2, then the horizontal step 1. A plain bilinear mean (1.5 -> 2)
  // or horizontal-first rounding (1 and 2, then 1.5 -> 2) would give 2.
  Pixels src(3, 3);
  const uint8_t grid[3][3] = {{0, 2, 2}, {1, 3, 3}, {1, 3, 3}};  // [y][x]
  for (int32_t y = 0; y < 3; ++y) {
    for (int32_t x = 0; x < 3; ++x) {
      for (int k = 0; k < 3; ++k) src.at(x, y, k) = grid[y][x];
    }
  }
  Pixels dst = Resampled(src, 4, 4);
  for (int k = 0; k < 3; ++k) EXPECT_EQ(dst.at(1, 1, k), 1);
  EXPECT_EQ(dst.at(0, 0, 0), 0);
}

TEST(ResampleBilinearTest, ThinSourcesReuseTheirLastColumnOrRow) {
  // Rows and strides exactly 3 * width with no slack: under ASan any read
  // past a 1-pixel source's only column or row is caught.
  Pixels column(1, 3, /*dib_rows=*/false);
  const uint8_t values[] = {0, 100, 200};
  for (int32_t y = 0; y < 3; ++y) {
    for (int k = 0; k < 3; ++k) column.at(0, y, k) = values[y];
  }
  // Rows sample 0, 0.4, 0.8, 1.2, 1.6.
  Pixels wide = Resampled(column, 4, 5);
  const uint8_t expected[] = {0, 40, 80, 120, 160};
  for (int32_t y = 0; y < 5; ++y) {
    for (int32_t x = 0; x < 4; ++x) {
      EXPECT_EQ(wide.at(x, y, 2), expected[y]) << x << "," << y;
    }
  }

  Pixels row(3, 1, /*dib_rows=*/false);
  for (int32_t x = 0; x < 3; ++x) {
    for (int k = 0; k < 3; ++k) row.at(x, 0, k) = values[x];
  }
  Pixels tall = Resampled(row, 5, 4);
  for (int32_t y = 0; y < 4; ++y) {
    for (int32_t x = 0; x < 5; ++x) {
      EXPECT_EQ(tall.at(x, y, 0), expected[x]) << x << "," << y;
    }
  }

  Pixels dot(1, 1, /*dib_rows=*/false);
  dot.at(0, 0, 0) = 1;
  dot.at(0, 0, 1) = 2;
  dot.at(0, 0, 2) = 3;
  Pixels grown = Resampled(dot, 3, 2);
  for (int32_t y = 0; y < 2; ++y) {
    for (int32_t x = 0; x < 3; ++x) {
      EXPECT_EQ(grown.at(x, y, 0), 1);
      EXPECT_EQ(grown.at(x, y, 1), 2);
      EXPECT_EQ(grown.at(x, y, 2), 3);
    }
  }
}

TEST(ResampleBilinearTest, LeavesPaddingAndSourceAlone) {
  std::mt19937 engine(7);
  for (auto [sw, sh, dw, dh] : {std::array{5, 4, 7, 3}, std::array{9, 9, 2, 5},
                                std::array{1, 1, 6, 6}}) {
    Pixels src = RandomPixels(sw, sh, engine);
    const std::vector<uint8_t> before = src.bytes;
    Pixels dst = Resampled(src, dw, dh);
    EXPECT_EQ(src.bytes, before);
    ExpectPaddingIntact(dst);
  }
}

TEST(ResampleBilinearTest, KeepsConstantImagesAndStaysWithinSourceRange) {
  std::mt19937 engine(11);
  const std::array<int32_t, 4> sizes[] = {
      {1, 1, 5, 3},   {2, 2, 9, 9},   {7, 5, 3, 2},   {40, 30, 150, 113},
      {64, 48, 5, 4}, {17, 3, 16, 2}, {3, 17, 33, 34}};
  for (const auto& [sw, sh, dw, dh] : sizes) {
    Pixels flat(sw, sh);
    for (int32_t y = 0; y < sh; ++y) {
      for (int32_t x = 0; x < sw; ++x) {
        flat.at(x, y, 0) = 17;
        flat.at(x, y, 1) = 128;
        flat.at(x, y, 2) = 254;
      }
    }
    Pixels out = Resampled(flat, dw, dh);
    for (int32_t y = 0; y < dh; ++y) {
      for (int32_t x = 0; x < dw; ++x) {
        ASSERT_EQ(out.at(x, y, 0), 17);
        ASSERT_EQ(out.at(x, y, 1), 128);
        ASSERT_EQ(out.at(x, y, 2), 254);
      }
    }

    // Values between 60 and 190 only: no output may leave that range.
    Pixels noisy(sw, sh);
    for (int32_t y = 0; y < sh; ++y) {
      for (int32_t x = 0; x < sw; ++x) {
        for (int k = 0; k < 3; ++k) {
          noisy.at(x, y, k) = static_cast<uint8_t>(60 + engine() % 131);
        }
      }
    }
    Pixels mixed = Resampled(noisy, dw, dh);
    for (int32_t y = 0; y < dh; ++y) {
      for (int32_t x = 0; x < dw; ++x) {
        for (int k = 0; k < 3; ++k) {
          ASSERT_GE(mixed.at(x, y, k), 60);
          ASSERT_LE(mixed.at(x, y, k), 190);
        }
      }
    }
  }
}

TEST(ResampleBilinearTest, MatchesThePixelByPixelFormula) {
  std::mt19937 engine(2024);
  std::uniform_int_distribution<int32_t> size(1, 70);
  std::vector<std::array<int32_t, 4>> cases = {
      {1920, 3, 1919, 2},  // near-identity: the whole-row path
      {4000, 4, 150, 3},   // steep shrink: only the sampled columns
      {640, 2, 1280, 4},   // twofold enlargement
      {1, 1, 1, 1},       {1, 5, 1, 9}, {5, 1, 9, 1}, {2, 2, 1, 1}};
  for (int i = 0; i < 300; ++i) {
    cases.push_back({size(engine), size(engine), size(engine), size(engine)});
  }
  for (const auto& [sw, sh, dw, dh] : cases) {
    Pixels src = RandomPixels(sw, sh, engine);
    Pixels fast = Resampled(src, dw, dh);
    Pixels reference = ResampledByReference(src, dw, dh);
    ASSERT_EQ(fast.bytes, reference.bytes)
        << sw << "x" << sh << " -> " << dw << "x" << dh;
  }
}

}  // namespace
}  // namespace vg::dib::dib_internal

namespace vg::dib {
namespace {

// The bytes of a section, padding included (empty when it holds none).
std::vector<uint8_t> BytesOf(const cDIBSection& dib) {
  if (dib.Bits() == nullptr) return {};
  const size_t size = static_cast<size_t>(dib.BytesPerScanLine()) *
                      static_cast<size_t>(dib.Height());
  return {dib.Bits(), dib.Bits() + size};
}

// Fills the pixels (not the padding) of a created section with noise.
void FillNoise(cDIBSection& dib, uint32_t seed) {
  std::mt19937 engine(seed);
  for (int32_t y = 0; y < dib.Height(); ++y) {
    uint8_t* row =
        dib.Bits() + static_cast<ptrdiff_t>(y) * dib.BytesPerScanLine();
    for (int32_t i = 0; i < dib.Width() * 3; ++i) {
      row[i] = static_cast<uint8_t>(engine() >> 24);
    }
  }
}

TEST(cDIBSectionResampleTest, TakesHeightFirstAndInterpolates) {
  cDIBSection source;
  ASSERT_TRUE(source.Create(3, 2));
  for (std::ptrdiff_t y = 0; y < 2; ++y) {
    uint8_t* row = source.Bits() + y * source.BytesPerScanLine();
    for (std::ptrdiff_t x = 0; x < 3; ++x) {
      row[3 * x] = static_cast<uint8_t>(100 + x);
      row[3 * x + 1] = 50;
      row[3 * x + 2] = 60;
    }
  }
  std::unique_ptr<cDIBSection> wider = source.Resample(2, 4);
  ASSERT_NE(wider, nullptr);
  EXPECT_EQ(wider->Width(), 4);
  EXPECT_EQ(wider->Height(), 2);
  for (std::ptrdiff_t y = 0; y < 2; ++y) {
    const uint8_t* row = wider->Bits() + y * wider->BytesPerScanLine();
    EXPECT_EQ(row[0], 100);
    EXPECT_EQ(row[3], 100);
    EXPECT_EQ(row[6], 101);
    EXPECT_EQ(row[9], 102);
    EXPECT_EQ(row[10], 50);
    EXPECT_EQ(row[11], 60);
  }

  // Any other size: the same bytes as the formula, padding as Create left it.
  FillNoise(source, 5);
  std::unique_ptr<cDIBSection> bigger = source.Resample(13, 17);
  ASSERT_NE(bigger, nullptr);
  cDIBSection fresh;
  ASSERT_TRUE(fresh.Create(17, 13));
  std::vector<uint8_t> expected = BytesOf(fresh);
  dib_internal::ResampleBilinearReference(
      source.Bits(), 3, 2, source.BytesPerScanLine(), expected.data(), 17, 13,
      fresh.BytesPerScanLine());
  EXPECT_EQ(BytesOf(*bigger), expected);
}

TEST(cDIBSectionResampleTest, RefusesSizesBelowOne) {
  cDIBSection source;
  ASSERT_TRUE(source.Create(4, 4));
  EXPECT_EQ(source.Resample(0, 4), nullptr);
  EXPECT_EQ(source.Resample(4, 0), nullptr);
  EXPECT_EQ(source.Resample(-3, 4), nullptr);
  EXPECT_EQ(source.Resample(4, -3), nullptr);
}

TEST(cDIBSectionResampleTest, SameSizeGivesAPixelIdenticalCopy) {
  cDIBSection source;
  ASSERT_TRUE(source.Create(7, 5));
  FillNoise(source, 9);
  // Interpolating at the same size would sample at 6/7 of each step and
  // change the noise: the test can tell a copy from an interpolation.
  std::vector<uint8_t> interpolated = BytesOf(source);
  dib_internal::ResampleBilinear(source.Bits(), 7, 5, source.BytesPerScanLine(),
                                 interpolated.data(), 7, 5,
                                 source.BytesPerScanLine());
  ASSERT_NE(interpolated, BytesOf(source));

  std::unique_ptr<cDIBSection> copy = source.Resample(5, 7);
  ASSERT_NE(copy, nullptr);
  ASSERT_EQ(copy->Width(), 7);
  ASSERT_EQ(copy->Height(), 5);
  for (std::ptrdiff_t y = 0; y < 5; ++y) {
    const uint8_t* a = source.Bits() + y * source.BytesPerScanLine();
    const uint8_t* b = copy->Bits() + y * copy->BytesPerScanLine();
    EXPECT_TRUE(std::equal(a, a + 21, b)) << "row " << y;
  }
}

TEST(cDIBSectionResampleTest, ResultIsIndependentOfTheSource) {
  auto source = std::make_unique<cDIBSection>();
  ASSERT_TRUE(source->Create(10, 8));
  FillNoise(*source, 21);
  const std::vector<uint8_t> before = BytesOf(*source);
  std::unique_ptr<cDIBSection> resized = source->Resample(5, 6);
  std::unique_ptr<cDIBSection> copy = source->Resample(8, 10);
  ASSERT_NE(resized, nullptr);
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(BytesOf(*source), before);
  EXPECT_NE(resized->hDib(), source->hDib());
  EXPECT_NE(copy->hDib(), source->hDib());
  EXPECT_NE(copy->Bits(), source->Bits());

  const std::vector<uint8_t> resized_bytes = BytesOf(*resized);
  const std::vector<uint8_t> copy_bytes = BytesOf(*copy);
  FillNoise(*source, 22);
  source.reset();  // the results outlive their source
  EXPECT_EQ(BytesOf(*resized), resized_bytes);
  EXPECT_EQ(BytesOf(*copy), copy_bytes);
}

TEST(cDIBSectionResampleTest, SourceWithoutPixelsIsNeverRead) {
  // After ClearUp the object still reports 6 x 4 but holds no pixels.
  cDIBSection source;
  ASSERT_TRUE(source.Create(6, 4));
  source.ClearUp();
  ASSERT_EQ(source.Bits(), nullptr);
  cDIBSection fresh;
  ASSERT_TRUE(fresh.Create(9, 3));
  for (auto [h, w] : {std::pair{3, 9}, std::pair{4, 6}}) {
    std::unique_ptr<cDIBSection> result = source.Resample(h, w);
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(result->Width(), w);
    EXPECT_EQ(result->Height(), h);
    if (w == 9) {
      EXPECT_EQ(BytesOf(*result), BytesOf(fresh));
    }
  }
}

}  // namespace
}  // namespace vg::dib
