// Transparency kept as alpha (DecodeHint::keep_alpha): straight alpha where
// the picture has some, the same from memory, from a file and from a
// decoder process; reduced pictures weighted by alpha; every other picture,
// and every picture without keep_alpha, as it comes out composited on white.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "decoders/decode_picture.h"
#include "decoders/decoder_processes.h"
#include "picture_testutil.h"

namespace vg::decoders {
namespace {

using testing::AlphaAt;
using testing::ColourDiff;
using testing::GridColour;
using testing::PixelAt;
using testing::Rgb;

// Decodes `bytes` from memory, from a file in this process and from a file
// in one of `processes`; expects the three alike and returns the first.
DecodedImage DecodeEveryWay(const std::vector<uint8_t>& bytes,
                            const DecodeHint& hint,
                            DecoderProcesses& processes) {
  testing::TempFolder folder;
  const std::u16string path = testing::NativeToUtf16(folder.path() / "picture");
  testing::WriteFileBytes(folder.path() / "picture", bytes);
  DecodedImage in_memory = DecodePictureBytes(bytes, hint);
  const DecodedImage from_file = DecodePictureFile(path, hint);
  const DecodedImage in_a_decoder = [&] {
    const UseDecoderProcesses in_processes(processes);
    return DecodePictureFile(path, hint);
  }();
  for (const DecodedImage* other : {&from_file, &in_a_decoder}) {
    EXPECT_EQ(other->has_alpha, in_memory.has_alpha);
    EXPECT_EQ(other->pixel_width, in_memory.pixel_width);
    EXPECT_TRUE(other->bgrx == in_memory.bgrx);
  }
  return in_memory;
}

// The pictures made here are kWidth x kHeight: opaque left of kEdge, and
// transparent from there over a hidden colour (red, or a grey).
constexpr int kWidth = 40;
constexpr int kHeight = 8;
constexpr int kEdge = 20;
constexpr Rgb kBlue = {0, 0, 255};
constexpr Rgb kRed = {255, 0, 0};
constexpr Rgb kGrey = {60, 60, 60};

// Returns that picture, blue (grey) where it shows, as a PNG of
// `color_type`: with tRNS where the type has no alpha channel. `opaque`
// makes the alpha channel's every value 255.
std::vector<uint8_t> SplitPng(int color_type, bool opaque = false) {
  testing::PngSpec picture;
  picture.width = kWidth;
  picture.height = kHeight;
  picture.color_type = color_type;
  if (color_type == 0) picture.transparent = {200};
  if (color_type == 3) {
    picture.palette = {kBlue, kRed};
    picture.palette_alpha = {255, 0};
  }
  for (int i = 0; i < kWidth * kHeight; ++i) {
    const bool shows = i % kWidth < kEdge;
    const uint16_t on = shows ? 255 : 0;
    const uint16_t off = 255 - on;
    const uint16_t alpha = opaque ? 255 : on;
    const uint16_t grey = shows ? 60 : 200;
    switch (color_type) {
      case 0:
        picture.samples.push_back(grey);
        break;
      case 3:
        picture.samples.push_back(shows ? 0 : 1);
        break;
      case 4:
        picture.samples.insert(picture.samples.end(), {grey, alpha});
        break;
      default:
        picture.samples.insert(picture.samples.end(), {off, 0, on, alpha});
    }
  }
  return testing::EncodePng(picture);
}

// Returns that picture as QtGui writes an icon (`type` 1), or a cursor (2).
std::vector<uint8_t> SplitIcon(int type) {
  std::vector<uint8_t> icon = testing::EncodeWithQt(
      kWidth, kHeight, "ico",
      [](int x, int) { return x < kEdge ? kBlue : kRed; },
      [](int x, int) { return x < kEdge ? 255 : 0; });
  icon[2] = static_cast<uint8_t>(type);  // 1 icon, 2 cursor
  return icon;
}

// Returns that picture as a 32-bit BMP whose bit fields hold alpha.
std::vector<uint8_t> SplitBmp() {
  testing::BmpSpec picture;
  picture.width = kWidth;
  picture.height = kHeight;
  picture.bits = 32;
  picture.compression = 3;
  picture.masks = {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000};
  for (int i = 0; i < kWidth * kHeight; ++i) {
    const uint8_t on = i % kWidth < kEdge ? 255 : 0;
    const uint8_t off = 255 - on;
    // Blue, green, red, alpha.
    picture.pixel_data.insert(picture.pixel_data.end(), {on, 0, off, on});
  }
  return testing::MakeBmp(picture);
}

struct Sample {
  std::string name;
  std::vector<uint8_t> bytes;
  bool has_alpha;  // decoded with keep_alpha
  Rgb colour;      // of pixel (4, 4), opaque
  int tolerance;
  int clear_x = 30;  // a pixel that shows nothing, when has_alpha
  int clear_y = 4;
};

std::vector<Sample> Samples() {
  auto fixture = [](const char* name) {
    return testing::ReadFileBytes(testing::FixturePath(name));
  };
  const Rgb red = GridColour(0, 0);
  return {
      // The grid's cyan block is transparent.
      {"grid_alpha.webp", fixture("grid_alpha.webp"), true, red, 0, 20, 12},
      {"grid_alpha.tif", fixture("grid_alpha.tif"), true, red, 0, 20, 12},
      // Its magenta block is.
      {"grid_transparent.gif", fixture("grid_transparent.gif"), true, red, 0,
       12, 12},
      // The image decoded, the largest, is opaque.
      {"icons.ico", fixture("icons.ico"), false, red, 2},
      {"RGBA PNG", SplitPng(6), true, kBlue, 0},
      {"grey and alpha PNG", SplitPng(4), true, kGrey, 0},
      {"palette PNG with tRNS", SplitPng(3), true, kBlue, 0},
      {"grey PNG with tRNS", SplitPng(0), true, kGrey, 0},
      {"ICO", SplitIcon(1), true, kBlue, 0},
      {"CUR", SplitIcon(2), true, kBlue, 0},
      {"32-bit BMP with an alpha mask", SplitBmp(), true, kBlue, 0},
      {"RGBA PNG all opaque", SplitPng(6, true), false, kBlue, 0},
      {"JPEG",
       testing::EncodeJpeg(
           testing::MakeRgb(kWidth, kHeight, [](int, int) { return kBlue; }),
           kWidth, kHeight),
       false, kBlue, 4},
  };
}

TEST(KeepAlphaTest, StraightAlphaWhereThePictureHasSome) {
  DecoderProcesses processes;
  for (const Sample& s : Samples()) {
    SCOPED_TRACE(s.name);
    const DecodedImage image = DecodeEveryWay(s.bytes, {0, 0, true}, processes);
    EXPECT_EQ(image.has_alpha, s.has_alpha);
    EXPECT_EQ(ColourDiff(PixelAt(image, 4, 4), s.colour, s.tolerance), "");
    EXPECT_EQ(AlphaAt(image, 4, 4), 255);
    if (s.has_alpha) {
      EXPECT_EQ(ColourDiff(PixelAt(image, s.clear_x, s.clear_y), {}, 0), "");
      EXPECT_EQ(AlphaAt(image, s.clear_x, s.clear_y), 0);
    }
  }
}

TEST(KeepAlphaTest, WithoutKeepAlphaOrTransparencyPixelsAreOnWhite) {
  DecoderProcesses processes;
  for (const Sample& s : Samples()) {
    for (const DecodeHint hint : {DecodeHint{}, DecodeHint{4, 0}}) {
      SCOPED_TRACE(s.name + " at " + std::to_string(hint.target_width_px));
      const DecodedImage plain = DecodeEveryWay(s.bytes, hint, processes);
      const DecodedImage kept =
          DecodeEveryWay(s.bytes, {hint.target_width_px, 0, true}, processes);
      EXPECT_FALSE(plain.has_alpha);
      if (!kept.has_alpha) {
        EXPECT_TRUE(kept.bgrx == plain.bgrx);
        continue;
      }
      ASSERT_EQ(kept.bgrx.size(), plain.bgrx.size());
      // Reduced, the two differ by design: only the kept means are weighted.
      if (kept.pixel_width != kept.width) continue;
      for (size_t i = 0; i < kept.bgrx.size(); i += 4) {
        const unsigned a = kept.bgrx[i + 3];
        for (size_t c = 0; c < 3; ++c) {
          const unsigned on_white =
              (kept.bgrx[i + c] * a + 255 * (255 - a) + 127) / 255;
          ASSERT_EQ(plain.bgrx[i + c], on_white) << "byte " << i + c;
        }
        ASSERT_EQ(plain.bgrx[i + 3], 255);
      }
    }
  }
}

TEST(KeepAlphaTest, ReducedPngWeighsColoursByAlpha) {
  // Opaque blue, then two columns of half-transparent blue, then nothing
  // over a hidden black or white, then two opaque blue columns. A 4-pixel
  // target reduces 40 columns by 6: the fourth block holds the two
  // half-transparent columns and four clear, the last and partial one two
  // clear and two opaque, the last repeated for the two it lacks.
  DecoderProcesses processes;
  for (const uint16_t hidden : {0, 255}) {
    SCOPED_TRACE(hidden);
    testing::PngSpec picture;
    picture.width = kWidth;
    picture.height = kHeight;
    picture.color_type = 6;
    for (int i = 0; i < kWidth * kHeight; ++i) {
      const int x = i % kWidth;
      const uint16_t alpha = x < 18 || x >= 38 ? 255 : x < 20 ? 128 : 0;
      const uint16_t red_green = alpha > 0 ? 0 : hidden;
      const uint16_t blue = alpha > 0 ? 255 : hidden;
      picture.samples.insert(picture.samples.end(),
                             {red_green, red_green, blue, alpha});
    }
    const DecodedImage image =
        DecodeEveryWay(testing::EncodePng(picture), {4, 0, true}, processes);
    ASSERT_EQ(image.pixel_width, 7);
    EXPECT_TRUE(image.has_alpha);
    EXPECT_EQ(ColourDiff(PixelAt(image, 2, 0), kBlue, 0), "");
    EXPECT_EQ(AlphaAt(image, 2, 0), 255);
    EXPECT_EQ(ColourDiff(PixelAt(image, 3, 0), kBlue, 0), "");
    EXPECT_EQ(AlphaAt(image, 3, 0), 43);  // 2 x 128 / 6
    EXPECT_EQ(ColourDiff(PixelAt(image, 4, 0), {}, 0), "");
    EXPECT_EQ(AlphaAt(image, 4, 0), 0);
    EXPECT_EQ(ColourDiff(PixelAt(image, 6, 0), kBlue, 0), "");
    EXPECT_EQ(AlphaAt(image, 6, 0), 170);  // 4 x 255 / 6
  }
}

}  // namespace
}  // namespace vg::decoders
