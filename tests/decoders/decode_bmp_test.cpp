// BMPs read by our own reader: bit fields of any width, each channel scaled
// to 8 bits with rounding, and V5 headers whose embedded ICC profile is
// converted to sRGB.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "decoders/decode_picture.h"
#include "picture_testutil.h"
#include "platform/error.h"

namespace vg::decoders {
namespace {

using testing::AlphaAt;
using testing::BmpOf;
using testing::BmpSpec;
using testing::ColourDiff;
using testing::MakeBmp;
using testing::PixelAt;
using testing::Rgb;

constexpr int kWidth = 19;
constexpr int kHeight = 7;

// The value of a channel `max` wide at pixel (x, y): all of 0 .. max over
// the picture, with both ends.
uint32_t ChannelValue(uint32_t max, int x, int y, int channel) {
  if (x == 0) return 0;
  if (x == 1) return max;
  const uint64_t step = uint64_t{max} * 2654435761u;  // spread over the range
  return static_cast<uint32_t>(
      (step * static_cast<uint64_t>(x + y * kWidth + channel * 7)) %
      (uint64_t{max} + 1));
}

int Expected8(uint32_t value, uint32_t max) {
  return static_cast<int>(std::lround(value * 255.0 / max));
}

struct FieldsCase {
  const char* name;
  std::vector<uint32_t> masks;  // R, G, B (A); the stored ones
  uint32_t compression;         // 0 (16 bits: 5-5-5), 3 or 6
  uint16_t bits;
  bool top_down;
};

std::vector<uint8_t> FieldsPixels(const FieldsCase& c,
                                  const std::vector<uint32_t>& masks) {
  const size_t stride = (kWidth * c.bits / 8 + 3) / 4 * 4;
  std::vector<uint8_t> data(stride * kHeight, 0);
  for (int row = 0; row < kHeight; ++row) {
    const int y = c.top_down ? row : kHeight - 1 - row;
    for (int x = 0; x < kWidth; ++x) {
      uint32_t pixel = 0;
      for (size_t i = 0; i < masks.size(); ++i) {
        if (masks[i] == 0) continue;
        const int shift = std::countr_zero(masks[i]);
        pixel |= ChannelValue(masks[i] >> shift, x, y, static_cast<int>(i))
                 << shift;
      }
      for (int b = 0; b < c.bits / 8; ++b) {
        data[row * stride + x * (c.bits / 8) + b] =
            static_cast<uint8_t>(pixel >> (8 * b));
      }
    }
  }
  return data;
}

TEST(BmpFieldsTest, ChannelsOfAnyWidthScaledTo8Bits) {
  const std::vector<uint32_t> k555 = {0x7C00, 0x03E0, 0x001F};
  const FieldsCase kCases[] = {
      {"5-5-5 by default", {}, 0, 16, false},
      {"5-6-5", {0xF800, 0x07E0, 0x001F}, 3, 16, false},
      {"4-4-4-4 alpha after the header",
       {0x0F00, 0x00F0, 0x000F, 0xF000},
       6,
       16,
       true},
      {"10-10-10-2",
       {0x3FF00000, 0x000FFC00, 0x000003FF, 0xC0000000},
       3,
       32,
       false},
      {"7-17-8 no alpha", {0x0000007F, 0x00FFFF80, 0xFF000000}, 3, 32, true},
      {"1-bit red, 30-bit green", {0x00000001, 0x7FFFFFFE, 0, 0}, 3, 32, false},
  };

  for (const FieldsCase& c : kCases) {
    SCOPED_TRACE(c.name);
    BmpSpec spec =
        BmpOf(kWidth, c.top_down ? -kHeight : kHeight, c.bits, c.compression);
    spec.masks = c.masks;
    const std::vector<uint32_t> masks = c.masks.empty() ? k555 : c.masks;
    spec.pixel_data = FieldsPixels(c, masks);
    const std::vector<uint8_t> bmp = MakeBmp(spec);
    DecodeHint hint;
    hint.keep_alpha = true;
    const DecodedImage image = DecodePictureBytes(bmp, hint);
    ASSERT_EQ(image.pixel_width, kWidth);
    ASSERT_EQ(image.pixel_height, kHeight);
    int wrong = 0;
    for (int y = 0; y < kHeight; ++y) {
      for (int x = 0; x < kWidth; ++x) {
        int want[4] = {0, 0, 0, 255};
        for (size_t i = 0; i < masks.size(); ++i) {
          if (masks[i] == 0) continue;
          const uint32_t max = masks[i] >> std::countr_zero(masks[i]);
          want[i] =
              Expected8(ChannelValue(max, x, y, static_cast<int>(i)), max);
        }
        const int alpha = AlphaAt(image, x, y);
        Rgb got = PixelAt(image, x, y);
        // With alpha kept, a pixel of alpha 0 is all 0; colours survive
        // only where there is some alpha to hold them.
        if (want[3] == 0) want[0] = want[1] = want[2] = 0;
        if ((got.r != want[0] || got.g != want[1] || got.b != want[2] ||
             alpha != want[3]) &&
            ++wrong <= 3) {
          ADD_FAILURE() << "at " << x << "," << y << ": " << got.r << " "
                        << got.g << " " << got.b << " " << alpha << ", want "
                        << want[0] << " " << want[1] << " " << want[2] << " "
                        << want[3];
        }
      }
    }
    // The same pixels without keep_alpha: composited on white.
    const DecodedImage on_white = DecodePictureBytes(bmp);
    for (size_t i = 3; i < on_white.bgrx.size(); i += 4) {
      ASSERT_EQ(on_white.bgrx[i], 255);
    }
  }
}

TEST(BmpFieldsTest, RowsTheFileDoesNotHoldAreGrey) {
  // 10-bit channels, bottom-up: the file ends after the two bottom rows.
  BmpSpec spec = BmpOf(4, 4, 32, 3);
  spec.masks = {0x3FF00000, 0x000FFC00, 0x000003FF};
  spec.pixel_data.assign(4 * 4 * 2, 0xFF);
  const DecodedImage image = DecodePictureBytes(MakeBmp(spec));
  EXPECT_EQ(ColourDiff(PixelAt(image, 0, 3), {255, 255, 255}, 0), "");
  EXPECT_EQ(ColourDiff(PixelAt(image, 3, 2), {255, 255, 255}, 0), "");
  EXPECT_EQ(ColourDiff(PixelAt(image, 0, 1), {128, 128, 128}, 0), "");
  EXPECT_EQ(ColourDiff(PixelAt(image, 3, 0), {128, 128, 128}, 0), "");
}

TEST(BmpProfileTest, EmbeddedProfileConvertedToSrgb) {
  // Grey 128 in a linear-RGB profile: about 188 in sRGB. 24 bits, 32 bits
  // without fields, and 10-bit fields (512 of 1023 is 128).
  struct ProfileCase {
    const char* name;
    uint16_t bits;
    uint32_t compression;
    std::vector<uint32_t> masks;
    uint32_t grey;
  };
  const ProfileCase kCases[] = {
      {"24 bits", 24, 0, {}, 0x808080},
      {"32 bits", 32, 0, {}, 0x808080},
      {"10-bit fields",
       32,
       3,
       {0x3FF00000, 0x000FFC00, 0x000003FF, 0},
       0x20080200},
  };
  for (const ProfileCase& c : kCases) {
    SCOPED_TRACE(c.name);
    BmpSpec spec = BmpOf(8, 2, c.bits, c.compression);
    spec.masks = c.masks;
    for (int i = 0; i < 16; ++i) {
      for (int b = 0; b < c.bits / 8; ++b) {
        spec.pixel_data.push_back(static_cast<uint8_t>(c.grey >> (8 * b)));
      }
    }
    spec.profile = testing::LinearRgbProfile();
    std::vector<uint8_t> bmp = MakeBmp(spec);
    EXPECT_EQ(
        ColourDiff(PixelAt(DecodePictureBytes(bmp), 3, 1), {188, 188, 188}, 4),
        "");
    // A profile said to lie past the end of the file is no profile.
    const size_t size_at = 14 + 116;
    bmp[size_at + 3] = 0x40;
    EXPECT_EQ(
        ColourDiff(PixelAt(DecodePictureBytes(bmp), 3, 1), {128, 128, 128}, 1),
        "");
  }
}

}  // namespace
}  // namespace vg::decoders
