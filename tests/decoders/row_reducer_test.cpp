// The row-by-row reduction: block means against a plain reference, with
// alpha composited on white or kept and weighted, every row layout, rows
// missing at the end, and the same pixels as the QtGui readers' reduction
// for the same picture.
#include "decoders/internal/row_reducer.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "decoders/internal/decode_budget.h"
#include "decoders/internal/picture_format.h"
#include "decoders/internal/qt_decoder.h"
#include "picture_testutil.h"

namespace vg::decoders {
namespace {

using decoders_internal::ReductionFactor;
using decoders_internal::RowLayout;
using decoders_internal::RowLayoutBytes;
using decoders_internal::RowReducer;

// A picture whose channels all vary, so that a block mean is off when any
// pixel of the block is missed or counted twice.
uint8_t Channel(int x, int y, int c) {
  return static_cast<uint8_t>((x * 37 + y * 91 + c * 53 + x * y * 7) % 256);
}

DecodedImage Reduce(int width, int height, int factor, RowLayout layout,
                    int rows_given, bool keep_alpha = false) {
  RowReducer reducer(width, height, factor, layout, keep_alpha);
  const int bytes = RowLayoutBytes(layout);
  std::vector<uint8_t> row(static_cast<size_t>(width) * bytes);
  for (int y = 0; y < rows_given; ++y) {
    for (int x = 0; x < width; ++x) {
      for (int c = 0; c < bytes; ++c) {
        row[static_cast<size_t>(x) * bytes + static_cast<size_t>(c)] =
            Channel(x, y, c);
      }
    }
    reducer.AddRow(row.data());
  }
  EXPECT_EQ(reducer.rows_added(), std::min(rows_given, height));
  return reducer.Finish();
}

// The blue, green and red Reduce's pixel (x, y) shows in `layout`, on white.
std::array<int, 3> BgrOnWhite(RowLayout layout, int x, int y) {
  const int bytes = RowLayoutBytes(layout);
  const bool alpha = layout == RowLayout::kGreyAlpha ||
                     layout == RowLayout::kRgba || layout == RowLayout::kBgra;
  const int a = alpha ? Channel(x, y, bytes - 1) : 255;
  auto on_white = [a](int v) { return (v * a + 255 * (255 - a) + 127) / 255; };
  if (bytes <= 2) {
    const int v = on_white(Channel(x, y, 0));
    return {v, v, v};
  }
  const bool rgb = layout == RowLayout::kRgb || layout == RowLayout::kRgba;
  return {on_white(Channel(x, y, rgb ? 2 : 0)), on_white(Channel(x, y, 1)),
          on_white(Channel(x, y, rgb ? 0 : 2))};
}

TEST(RowReducerTest, EachPixelIsTheRoundedMeanOfItsBlockEdgesRepeated) {
  // 3 does not divide 11 or 7: the last column and row of blocks are
  // partial.
  using enum RowLayout;
  for (RowLayout layout : {kRgb, kGrey, kGreyAlpha, kRgba, kBgrx, kBgra}) {
    for (int factor : {1, 2, 3, 4, 11}) {
      SCOPED_TRACE(std::to_string(factor) + " layout " +
                   std::to_string(static_cast<int>(layout)));
      const int width = 11;
      const int height = 7;
      DecodedImage image = Reduce(width, height, factor, layout, height);
      // Kept alpha, all opaque: the weighted means are these to the byte.
      if (layout == kRgb) {
        EXPECT_EQ(Reduce(width, height, factor, kRgb, height, true).bgrx,
                  image.bgrx);
      }
      ASSERT_EQ(image.width, width);
      ASSERT_EQ(image.height, height);
      ASSERT_EQ(image.pixel_width, (width + factor - 1) / factor);
      ASSERT_EQ(image.pixel_height, (height + factor - 1) / factor);
      ASSERT_EQ(image.stride_bytes, image.pixel_width * 4);
      // 11 x 7 divides by none of the factors but 1: the picture covers the
      // last column and row in part.
      EXPECT_DOUBLE_EQ(image.area.width,
                       factor == 1 ? 0.0 : static_cast<double>(width) / factor);
      EXPECT_DOUBLE_EQ(
          image.area.height,
          factor == 1 ? 0.0 : static_cast<double>(height) / factor);
      ASSERT_EQ(image.bgrx.size(),
                static_cast<size_t>(image.stride_bytes) * image.pixel_height);
      for (int by = 0; by < image.pixel_height; ++by) {
        for (int bx = 0; bx < image.pixel_width; ++bx) {
          for (int c = 0; c < 3; ++c) {
            int sum = 0;
            int count = 0;
            // A partial block counts its last column and row again for the
            // ones the picture lacks: always factor x factor pixels.
            for (int y = by * factor; y < (by + 1) * factor; ++y) {
              for (int x = bx * factor; x < (bx + 1) * factor; ++x) {
                sum += BgrOnWhite(layout, std::min(x, width - 1),
                                  std::min(y, height - 1))[c];
                ++count;
              }
            }
            const int expected = (sum * 2 + count) / (count * 2);
            const size_t at = static_cast<size_t>(by) * image.stride_bytes +
                              static_cast<size_t>(bx) * 4;
            EXPECT_EQ(image.bgrx[at + static_cast<size_t>(c)], expected)
                << "block " << bx << "," << by << " channel " << c;
          }
          EXPECT_EQ(image.bgrx[static_cast<size_t>(by) * image.stride_bytes +
                               static_cast<size_t>(bx) * 4 + 3],
                    255);
        }
      }
    }
  }
}

TEST(RowReducerTest, WhiteStaysWhiteAtTheLargestFactors) {
  // A block of 257 x 257 white bytes sums to 65535 a column: the most 16
  // bits hold. Past that the sums take 32 bits. The last row, alone in its
  // block row, counts 257 or 258 times; rows of 274 or 275 pixels end in a
  // partial block.
  using enum RowLayout;
  for (RowLayout layout : {kGrey, kRgb, kBgrx}) {
    for (int factor : {257, 258}) {
      SCOPED_TRACE(std::to_string(factor) + " layout " +
                   std::to_string(static_cast<int>(layout)));
      RowReducer reducer(factor + 17, factor + 1, factor, layout);
      const std::vector<uint8_t> row(
          static_cast<size_t>((factor + 17) * RowLayoutBytes(layout)), 255);
      for (int y = 0; y < factor + 1; ++y) reducer.AddRow(row.data());
      const DecodedImage image = reducer.Finish();
      ASSERT_EQ(image.bgrx.size(), size_t{2 * 2 * 4});
      EXPECT_EQ(image.bgrx, std::vector<uint8_t>(16, 255));
    }
  }
}

TEST(RowReducerTest, LayoutsBecomeBgrxWithAlphaOverWhiteOrKept) {
  struct Case {
    RowLayout layout;
    std::vector<uint8_t> pixel;
    testing::Rgb on_white;
    testing::Rgb kept;
    int alpha;
  };
  // Half-transparent: 128 of 255 of the colour, the rest white. Kept, a
  // pixel of alpha 0 has no colour.
  using enum RowLayout;
  const std::vector<Case> cases = {
      {kGrey, {77}, {77, 77, 77}, {77, 77, 77}, 255},
      {kGreyAlpha, {0, 128}, {127, 127, 127}, {0, 0, 0}, 128},
      {kGreyAlpha, {200, 255}, {200, 200, 200}, {200, 200, 200}, 255},
      {kGreyAlpha, {90, 0}, {255, 255, 255}, {0, 0, 0}, 0},
      {kRgb, {10, 20, 30}, {10, 20, 30}, {10, 20, 30}, 255},
      {kRgba, {255, 0, 100, 128}, {255, 127, 177}, {255, 0, 100}, 128},
      {kRgba, {1, 2, 3, 255}, {1, 2, 3}, {1, 2, 3}, 255},
      {kRgba, {9, 8, 7, 0}, {255, 255, 255}, {0, 0, 0}, 0},
      {kBgrx, {30, 20, 10, 0}, {10, 20, 30}, {10, 20, 30}, 255},
      {kBgra, {30, 20, 10, 128}, {132, 137, 142}, {10, 20, 30}, 128},
  };
  for (const Case& c : cases) {
    for (bool keep_alpha : {false, true}) {
      SCOPED_TRACE(std::to_string(static_cast<int>(c.layout)) +
                   (keep_alpha ? " kept" : " on white"));
      RowReducer reducer(1, 1, 1, c.layout, keep_alpha);
      reducer.AddRow(c.pixel.data());
      DecodedImage image = reducer.Finish();
      EXPECT_EQ(testing::ColourDiff(testing::PixelAt(image, 0, 0),
                                    keep_alpha ? c.kept : c.on_white, 0),
                "");
      EXPECT_EQ(image.bgrx[3], keep_alpha ? c.alpha : 255);
      EXPECT_EQ(image.has_alpha, keep_alpha && c.alpha != 255);
    }
  }
}

TEST(RowReducerTest, EveryColourThroughEveryAlphaIsRoundedAsOnePixelIs) {
  // One row of every (colour, alpha) pair, four pixels at a time as the
  // conversion takes them, then eight opaque pixels and an odd one out.
  std::vector<std::array<int, 4>> pixels;  // red, green, blue, alpha
  for (int a = 0; a < 256; ++a) {
    for (int c = 0; c < 256; ++c) pixels.push_back({c, 255 - c, c ^ 0x5A, a});
  }
  for (int i = 0; i < 9; ++i) pixels.push_back({i * 29, 7, 250 - i, 255});
  auto on_white = [](int v, int a) {
    return (v * a + 255 * (255 - a) + 127) / 255;
  };
  for (RowLayout layout : {RowLayout::kRgba, RowLayout::kBgra}) {
    const bool rgb = layout == RowLayout::kRgba;
    std::vector<uint8_t> row;
    for (const auto& [r, g, b, a] : pixels) {
      row.insert(row.end(),
                 {static_cast<uint8_t>(rgb ? r : b), static_cast<uint8_t>(g),
                  static_cast<uint8_t>(rgb ? b : r), static_cast<uint8_t>(a)});
    }
    const auto width = static_cast<int32_t>(pixels.size());
    RowReducer reducer(width, 1, 1, layout);
    reducer.AddRow(row.data());
    const DecodedImage image = reducer.Finish();
    int wrong = 0;
    for (size_t x = 0; x < pixels.size(); ++x) {
      const auto& [r, g, b, a] = pixels[x];
      const std::array<int, 4> expected = {on_white(b, a), on_white(g, a),
                                           on_white(r, a), 255};
      for (size_t c = 0; c < 4; ++c) {
        wrong += image.bgrx[x * 4 + c] != expected[c];
      }
    }
    EXPECT_EQ(wrong, 0) << (rgb ? "RGBA" : "BGRA");
  }
}

TEST(RowReducerTest, RowsNeverAddedAreTheFillColourInsideABlockToo) {
  // 10 rows at factor 4: rows 5 and up are missing. Block row 1 holds rows
  // 4 (given) and 5-7 (fill); block row 2 only fill.
  RowReducer reducer(4, 10, 4, RowLayout::kGrey);
  const std::vector<uint8_t> row(4, 200);
  for (int y = 0; y < 5; ++y) reducer.AddRow(row.data());
  DecodedImage image = reducer.Finish(0, 40, 80);
  ASSERT_EQ(image.pixel_height, 3);
  EXPECT_EQ(
      testing::ColourDiff(testing::PixelAt(image, 0, 0), {200, 200, 200}, 0),
      "");
  // (200 + 3 * 80) / 4 = 110, (200 + 3 * 40) / 4 = 80, 200 / 4 = 50.
  EXPECT_EQ(
      testing::ColourDiff(testing::PixelAt(image, 0, 1), {110, 80, 50}, 0), "");
  EXPECT_EQ(testing::ColourDiff(testing::PixelAt(image, 0, 2), {80, 40, 0}, 0),
            "");
}

TEST(RowReducerTest, RowsPastTheLastAreIgnored) {
  RowReducer reducer(2, 1, 1, RowLayout::kGrey);
  const std::vector<uint8_t> first = {1, 2};
  const std::vector<uint8_t> extra = {9, 9};
  reducer.AddRow(first.data());
  reducer.AddRow(extra.data());
  EXPECT_EQ(reducer.rows_added(), 1);
  DecodedImage image = reducer.Finish();
  EXPECT_EQ(testing::PixelAt(image, 1, 0).r, 2);
}

TEST(RowReducerTest, FactorKeepsTheReducedJpegMarginOverTheHint) {
  // 225 = 150 * 3 / 2 pixels kept across the hinted side.
  EXPECT_EQ(ReductionFactor(20000, 10000, {150, 0}), 88);
  EXPECT_EQ(ReductionFactor(20000, 10000, {0, 150}), 44);
  EXPECT_EQ(ReductionFactor(20000, 10000, {150, 150}), 44);
  EXPECT_EQ(ReductionFactor(20000, 10000, {}), 1);
  EXPECT_EQ(ReductionFactor(300, 200, {150, 0}), 1);
  EXPECT_EQ(ReductionFactor(450, 200, {150, 0}), 2);
  EXPECT_EQ(ReductionFactor(674, 200, {150, 0}), 2);
}

TEST(RowReducerTest, SameResultAsTheQtReadersReduction) {
  // A PNG with partial transparency, reduced by the QtGui path and by the
  // reducer fed with the same pixels as RGBA rows.
  const int width = 101;
  const int height = 67;
  auto colour = [](int x, int y) {
    return testing::Rgb{Channel(x, y, 0), Channel(x, y, 1), Channel(x, y, 2)};
  };
  auto alpha = [](int x, int y) { return (x * 5 + y * 3) % 256; };
  const std::vector<uint8_t> png =
      testing::EncodeWithQt(width, height, "png", colour, alpha);
  for (int target : {0, 30, 10, 4}) {
    SCOPED_TRACE(target);
    const DecodeHint hint{target, 0};
    const DecodedImage by_qt = decoders_internal::DecodeWithQt(
        png, decoders_internal::PictureFormat::kPng, hint,
        decoders_internal::SharedDecodeBudget());
    RowReducer reducer(width, height, ReductionFactor(width, height, hint),
                       RowLayout::kRgba);
    std::vector<uint8_t> row(static_cast<size_t>(width) * 4);
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        const testing::Rgb c = colour(x, y);
        uint8_t* p = &row[static_cast<size_t>(x) * 4];
        p[0] = static_cast<uint8_t>(c.r);
        p[1] = static_cast<uint8_t>(c.g);
        p[2] = static_cast<uint8_t>(c.b);
        p[3] = static_cast<uint8_t>(alpha(x, y));
      }
      reducer.AddRow(row.data());
    }
    const DecodedImage ours = reducer.Finish();
    ASSERT_EQ(ours.pixel_width, by_qt.pixel_width);
    ASSERT_EQ(ours.pixel_height, by_qt.pixel_height);
    EXPECT_EQ(ours.bgrx, by_qt.bgrx);
  }
}

}  // namespace
}  // namespace vg::decoders
