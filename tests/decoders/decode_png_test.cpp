// PNG through libpng: every layout against QtGui's reader of the same file,
// the file streamed from disk, and damage.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "decoders/decode_picture.h"
#include "decoders/internal/picture_format.h"
#include "decoders/internal/qt_decoder.h"
#include "picture_testutil.h"
#include "platform/error.h"

namespace vg::decoders {
namespace {

using testing::PngSpec;
using testing::Rgb;

// The largest difference of any channel between two decodes of one size.
int MaxDifference(const DecodedImage& a, const DecodedImage& b) {
  EXPECT_EQ(a.width, b.width);
  EXPECT_EQ(a.height, b.height);
  EXPECT_EQ(a.pixel_width, b.pixel_width);
  EXPECT_EQ(a.pixel_height, b.pixel_height);
  if (a.bgrx.size() != b.bgrx.size()) return 256;
  int most = 0;
  for (size_t i = 0; i < a.bgrx.size(); ++i) {
    most = std::max(most, std::abs(int{a.bgrx[i]} - int{b.bgrx[i]}));
  }
  return most;
}

// A 37 x 23 picture of `channels` samples a pixel, all different.
PngSpec Picture(int color_type, int bit_depth, int channels) {
  PngSpec spec;
  spec.width = 37;
  spec.height = 23;
  spec.color_type = color_type;
  spec.bit_depth = bit_depth;
  const int top = (1 << bit_depth) - 1;
  for (int y = 0; y < spec.height; ++y) {
    for (int x = 0; x < spec.width; ++x) {
      for (int c = 0; c < channels; ++c) {
        const int v =
            (x * 2179 + y * 7919 + c * 104729 + x * y * 31) % (top + 1);
        spec.samples.push_back(static_cast<uint16_t>(v));
      }
    }
  }
  return spec;
}

TEST(PngDecodeTest, EveryLayoutDecodesAsQtGuiDecodesIt) {
  struct Case {
    std::string name;
    PngSpec spec;
    int tolerance;
  };
  std::vector<Case> cases;
  cases.push_back({"grey 8", Picture(0, 8, 1), 0});
  for (int depth : {1, 2, 4}) {
    cases.push_back({"grey " + std::to_string(depth), Picture(0, depth, 1), 0});
  }
  // 16-bit samples rounded to 8 by both, by different arithmetic.
  cases.push_back({"grey 16", Picture(0, 16, 1), 1});
  cases.push_back({"grey alpha 8", Picture(4, 8, 2), 0});
  cases.push_back({"grey alpha 16", Picture(4, 16, 2), 1});
  cases.push_back({"RGB 8", Picture(2, 8, 3), 0});
  cases.push_back({"RGB 16", Picture(2, 16, 3), 1});
  cases.push_back({"RGBA 8", Picture(6, 8, 4), 0});
  cases.push_back({"RGBA 16", Picture(6, 16, 4), 1});
  PngSpec grey_key = Picture(0, 8, 1);
  grey_key.transparent = {grey_key.samples[5]};
  cases.push_back({"grey with a transparent value", grey_key, 0});
  PngSpec rgb_key = Picture(2, 8, 3);
  rgb_key.transparent = {rgb_key.samples[0], rgb_key.samples[1],
                         rgb_key.samples[2]};
  cases.push_back({"RGB with a transparent colour", rgb_key, 0});
  for (int depth : {4, 8}) {
    PngSpec palette = Picture(3, depth, 1);
    for (int i = 0; i < (1 << depth); ++i) {
      palette.palette.push_back({i * 37 % 256, i * 101 % 256, i * 13 % 256});
    }
    // Fewer alphas than colours: the rest are opaque.
    for (int i = 0; i < (1 << depth) / 2; ++i) {
      palette.palette_alpha.push_back(static_cast<uint8_t>(i * 17 % 256));
    }
    cases.push_back({"palette " + std::to_string(depth), palette, 0});
  }
  // Converted to sRGB by LittleCMS here, by QColorTransform in QtGui.
  PngSpec gamma = Picture(2, 8, 3);
  gamma.gamma = 1 / 1.8;
  cases.push_back({"RGB with gAMA", gamma, 2});
  PngSpec primaries = Picture(6, 8, 4);
  primaries.gamma = 1 / 2.2;
  primaries.chrm = true;
  cases.push_back({"RGBA with gAMA and cHRM", primaries, 2});
  PngSpec interlaced = Picture(6, 8, 4);
  interlaced.interlaced = true;
  cases.push_back({"RGBA interlaced", interlaced, 0});

  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<uint8_t> png = testing::EncodePng(c.spec);
    // Full size, then reduced by 3 (room for 2.5 x 5 = 13 pixels of 37).
    for (DecodeHint hint : {DecodeHint{}, DecodeHint{5, 0}}) {
      const DecodedImage ours = DecodePictureBytes(png, hint);
      const DecodedImage by_qt = decoders_internal::DecodeWithQt(
          png, decoders_internal::PictureFormat::kPng, hint);
      EXPECT_LE(MaxDifference(ours, by_qt), c.tolerance)
          << "hint " << hint.target_width_px;
    }
  }
}

TEST(PngDecodeTest, FileIsStreamedWithTheSamePixels) {
  testing::TempFolder folder;
  const std::vector<uint8_t> png = testing::EncodePng(Picture(6, 8, 4));
  const std::filesystem::path path = folder.path() / "a.png";
  testing::WriteFileBytes(path, png);
  for (DecodeHint hint : {DecodeHint{}, DecodeHint{5, 0}}) {
    EXPECT_EQ(DecodePictureFile(testing::NativeToUtf16(path), hint).bgrx,
              DecodePictureBytes(png, hint).bgrx);
  }
  // Cut anywhere in its pixel data, the file is refused, as from memory.
  for (size_t keep : {png.size() / 2, png.size() - 20}) {
    std::vector<uint8_t> cut(png.begin(),
                             png.begin() + static_cast<ptrdiff_t>(keep));
    testing::WriteFileBytes(path, cut);
    try {
      DecodePictureFile(testing::NativeToUtf16(path));
      ADD_FAILURE() << "a file cut at " << keep << " decoded";
    } catch (const platform::Error& e) {
      EXPECT_EQ(e.number(), platform::kErrInvalidPicture) << keep;
    }
  }
}

}  // namespace
}  // namespace vg::decoders
