// Pictures over the pixel limit: decoded reduced when the hint allows it,
// refused as too large (never as invalid) when nothing the decoders hold
// could fit.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "decoders/decode_picture.h"
#include "picture_testutil.h"
#include "platform/error.h"

namespace vg::decoders {
namespace {

using testing::Rgb;

// 12 000 x 12 000: 144 megapixels, over kMaxPicturePixels at full size.
constexpr int kSide = 12000;

// Four quarters of flat colour, so that every reduced pixel away from the
// middle lines is its quarter's colour.
Rgb Quarter(int x, int y) {
  static const Rgb kColours[4] = {
      {200, 40, 40}, {40, 200, 40}, {40, 40, 200}, {220, 220, 60}};
  return kColours[(y >= kSide / 2 ? 2 : 0) + (x >= kSide / 2 ? 1 : 0)];
}

void FillQuarters(int y, uint8_t* rgb) {
  for (int x = 0; x < kSide; ++x, rgb += 3) {
    const Rgb c = Quarter(x, y);
    rgb[0] = static_cast<uint8_t>(c.r);
    rgb[1] = static_cast<uint8_t>(c.g);
    rgb[2] = static_cast<uint8_t>(c.b);
  }
}

// The description of the error that decoding raises, or "" when it decodes.
std::string FailureOf(const std::function<void()>& decode,
                      int32_t* number = nullptr) {
  try {
    decode();
  } catch (const platform::Error& e) {
    if (number != nullptr) *number = e.number();
    return e.description();
  }
  return "";
}

void ExpectQuarters(const DecodedImage& image, int tolerance) {
  EXPECT_EQ(image.width, kSide);
  EXPECT_EQ(image.height, kSide);
  ASSERT_GT(image.pixel_width, 0);
  const int w = image.pixel_width;
  const int h = image.pixel_height;
  for (int y : {0, h / 4, h * 3 / 4, h - 1}) {
    for (int x : {0, w / 4, w * 3 / 4, w - 1}) {
      EXPECT_EQ(
          testing::ColourDiff(testing::PixelAt(image, x, y),
                              Quarter(x * kSide / w, y * kSide / h), tolerance),
          "")
          << "at " << x << "," << y;
    }
  }
}

// A JPEG is decoded at its reduced scale, a PNG reduced as it is read; at
// full size either is refused as too large, not as invalid.
TEST(LargePictureTest, OverThePixelLimitIsReducedOrRefusedAsTooLarge) {
  struct Case {
    const char* name;
    void (*write)(const std::filesystem::path&, int, int,
                  const testing::RgbRowFiller&);
    int reduced;  // the side decoded for room for 225 pixels across
    int tolerance;
    // For a target the margin would put over the limit, the side of the
    // largest scale under it that still covers the target (0: not asked).
    int near_the_limit;
  };
  for (const Case& c : {Case{"large.jpg", testing::WriteJpegByRows,
                             kSide / 8,  // 1/8 scale
                             3, 10500},  // 7/8
                        Case{"large.png", testing::WritePngByRows,
                             227,  // reduced by 53
                             0, 0}}) {
    SCOPED_TRACE(c.name);
    testing::TempFolder folder;
    const std::filesystem::path path = folder.path() / c.name;
    c.write(path, kSide, kSide, FillQuarters);
    const std::u16string name = testing::NativeToUtf16(path);
    const DecodedImage image = DecodePictureFile(name, {150, 0});
    EXPECT_EQ(image.pixel_width, c.reduced);
    EXPECT_EQ(image.pixel_height, c.reduced);
    ExpectQuarters(image, c.tolerance);
    if (c.near_the_limit != 0) {
      EXPECT_EQ(DecodePictureFile(name, {10000, 0}).pixel_width,
                c.near_the_limit);
    }
    int32_t number = 0;
    EXPECT_EQ(FailureOf([&] { DecodePictureFile(name); }, &number),
              "Picture too large: 12000 \u00D7 12000 (decoded at 12000 "
              "\u00D7 12000, over the 134-megapixel limit)");
    EXPECT_EQ(number, platform::kErrOutOfMemory);
  }
}

// Returns `jpeg` with the size in its frame header replaced.
std::vector<uint8_t> WithJpegSize(std::vector<uint8_t> jpeg, int width,
                                  int height) {
  size_t at = 2;
  while (at + 9 < jpeg.size() &&
         !(jpeg[at + 1] == 0xC0 || jpeg[at + 1] == 0xC2)) {
    at += 2 + (size_t{jpeg[at + 2]} << 8 | jpeg[at + 3]);
  }
  // Marker, length, precision, then height and width.
  at += 5;
  jpeg[at] = static_cast<uint8_t>(height >> 8);
  jpeg[at + 1] = static_cast<uint8_t>(height);
  jpeg[at + 2] = static_cast<uint8_t>(width >> 8);
  jpeg[at + 3] = static_cast<uint8_t>(width);
  return jpeg;
}

// Returns `png` with the size in its header replaced, its CRC made again.
std::vector<uint8_t> WithPngSize(std::vector<uint8_t> png, uint32_t width,
                                 uint32_t height) {
  for (int i = 0; i < 4; ++i) {
    png[16 + static_cast<size_t>(i)] =
        static_cast<uint8_t>(width >> (24 - 8 * i));
    png[20 + static_cast<size_t>(i)] =
        static_cast<uint8_t>(height >> (24 - 8 * i));
  }
  uint32_t crc = 0xFFFFFFFF;
  for (size_t i = 12; i < 29; ++i) {
    crc ^= png[i];
    for (int k = 0; k < 8; ++k) {
      crc = (crc >> 1) ^ (0xEDB88320 & (0 - (crc & 1)));
    }
  }
  crc = ~crc;
  for (int i = 0; i < 4; ++i) {
    png[29 + static_cast<size_t>(i)] =
        static_cast<uint8_t>(crc >> (24 - 8 * i));
  }
  return png;
}

TEST(LargePictureTest, WhatCannotFitIsTooLargeWithItsReason) {
  const std::vector<uint8_t> rgb = testing::MakeRgb(16, 16, [](int x, int y) {
    return Rgb{x * 16, y * 16, 99};
  });
  testing::JpegOptions progressive;
  progressive.progressive = true;
  const std::vector<uint8_t> small_progressive =
      testing::EncodeJpeg(rgb, 16, 16, progressive);
  const std::vector<uint8_t> small_png = testing::EncodeWithQt(
      16, 16, "png",
      [](int x, int y) {
        return Rgb{x * 16, y * 16, 99};
      },
      [](int, int) { return 255; });
  testing::PngSpec interlaced_spec;
  interlaced_spec.width = interlaced_spec.height = 2;
  interlaced_spec.color_type = 6;
  interlaced_spec.interlaced = true;
  interlaced_spec.samples.assign(16, 200);
  const std::vector<uint8_t> interlaced = testing::EncodePng(interlaced_spec);

  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    DecodeHint hint;
    const char* description;
  };
  const Case cases[] = {
      // 1/8 scale would fit, but every coefficient is held until the end.
      {"progressive JPEG",
       WithJpegSize(small_progressive, 65000, 65000),
       {150, 0},
       "Picture too large: 65000 \u00D7 65000 (a progressive JPEG whose "
       "coefficients need 24175 MB, over 1024 MB)"},
      {"interlaced PNG",
       WithPngSize(interlaced, 30000, 30000),
       {150, 0},
       "Picture too large: 30000 \u00D7 30000 (an interlaced PNG, read "
       "whole: 3433 MB, over 1024 MB)"},
      {"PNG wider than any side",
       WithPngSize(small_png, 100000, 10),
       {150, 0},
       "Picture too large: 100000 \u00D7 10 (over 65535 pixels a side)"},
  };
  for (const Case& c : cases) {
    int32_t number = 0;
    EXPECT_EQ(FailureOf([&] { DecodePictureBytes(c.bytes, c.hint); }, &number),
              c.description)
        << c.name;
    EXPECT_EQ(number, platform::kErrOutOfMemory) << c.name;
  }
}

TEST(LargePictureTest, PngFileOfAnyLengthIsStreamed) {
  testing::TempFolder folder;
  const std::vector<uint8_t> png = testing::EncodeWithQt(
      16, 16, "png",
      [](int, int) {
        return Rgb{10, 20, 30};
      },
      [](int, int) { return 255; });
  // Sparse: no disk space, no memory. What follows the end chunk is never
  // read.
  const std::filesystem::path long_png = folder.path() / "long.png";
  testing::WriteFileBytes(long_png, png);
  std::filesystem::resize_file(long_png, kMaxPictureFileBytes + 1);
  const DecodedImage image =
      DecodePictureFile(testing::NativeToUtf16(long_png));
  EXPECT_EQ(testing::ColourDiff(testing::PixelAt(image, 5, 5), {10, 20, 30}, 0),
            "");
}

}  // namespace
}  // namespace vg::decoders
