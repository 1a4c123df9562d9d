// JPEG decoding: colours of every colour model, EXIF orientation, ICC
// profiles, reduced DCT scales, damaged and hostile files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "decoders/decode_picture.h"
#include "decoders/internal/jpeg_decoder.h"
#include "picture_testutil.h"
#include "platform/error.h"

namespace vg::decoders {
namespace {

using decoders_internal::ChooseJpegScale;
using testing::ColourDiff;
using testing::GridColour;
using testing::GridPixel;
using testing::PixelAt;
using testing::Rgb;

std::vector<uint8_t> GridJpeg(int width, int height,
                              const testing::JpegOptions& options = {}) {
  std::vector<uint8_t> rgb = testing::MakeRgb(width, height, [&](int x, int y) {
    return GridPixel(x, y, width, height);
  });
  return testing::EncodeJpeg(rgb, width, height, options);
}

// The grid with noise, so that the image data, not the tables, fills the
// file.
std::vector<uint8_t> NoisyGridJpeg(int width, int height,
                                   const testing::JpegOptions& options = {}) {
  uint32_t state = 1;
  std::vector<uint8_t> rgb = testing::MakeRgb(width, height, [&](int x, int y) {
    state = state * 1103515245u + 12345u;
    int noise = static_cast<int>(state >> 27) - 16;
    Rgb c = GridPixel(x, y, width, height);
    auto clamp = [](int v) { return std::clamp(v, 0, 255); };
    return Rgb{clamp(c.r + noise), clamp(c.g + noise), clamp(c.b + noise)};
  });
  return testing::EncodeJpeg(rgb, width, height, options);
}

std::vector<uint8_t> FlatJpeg(int width, int height, Rgb colour) {
  std::vector<uint8_t> rgb =
      testing::MakeRgb(width, height, [&](int, int) { return colour; });
  return testing::EncodeJpeg(rgb, width, height);
}

// Checks the centre of each of the grid's six blocks.
using testing::ErrorNumberOf;

// Returns the offset just past the header of the first start-of-scan segment.
size_t FirstScanData(const std::vector<uint8_t>& jpeg) {
  size_t at = 2;
  while (at + 4 <= jpeg.size()) {
    uint8_t marker = jpeg[at + 1];
    size_t length = size_t{jpeg[at + 2]} << 8 | jpeg[at + 3];
    if (marker == 0xDA) return at + 2 + length;
    at += 2 + length;
  }
  return jpeg.size();
}

// Returns the offset of the frame header's height field (SOF0 or SOF2).
size_t FrameSizeOffset(const std::vector<uint8_t>& jpeg) {
  size_t at = 2;
  while (at + 4 <= jpeg.size()) {
    uint8_t marker = jpeg[at + 1];
    if (marker == 0xC0 || marker == 0xC2) return at + 5;
    at += 2 + (size_t{jpeg[at + 2]} << 8 | jpeg[at + 3]);
  }
  return 0;
}

TEST(JpegDecodeTest, BaselineGridKeepsItsColoursAndSize) {
  DecodedImage image = DecodePictureBytes(GridJpeg(24, 16));
  ASSERT_NO_FATAL_FAILURE(testing::ExpectLayout(image, 24, 16, 24, 16));
  testing::ExpectGridBlocks(image, 10);
}

TEST(JpegDecodeTest, ProgressiveSubsampledGreyAndTinyPictures) {
  testing::JpegOptions progressive;
  progressive.progressive = true;
  progressive.subsampling_420 = true;
  testing::ExpectGridBlocks(DecodePictureBytes(GridJpeg(48, 32, progressive)),
                            12);

  testing::JpegOptions grey;
  grey.grey = true;
  std::vector<uint8_t> ramp = testing::MakeRgb(64, 8, [](int x, int) {
    return Rgb{x * 4, x * 4, x * 4};
  });
  DecodedImage image =
      DecodePictureBytes(testing::EncodeJpeg(ramp, 64, 8, grey));
  for (int x : {4, 20, 40, 60}) {
    EXPECT_EQ(ColourDiff(PixelAt(image, x, 4), Rgb{x * 4, x * 4, x * 4}, 6), "")
        << "x " << x;
  }

  DecodedImage one = DecodePictureBytes(FlatJpeg(1, 1, {10, 200, 30}));
  EXPECT_EQ(one.width, 1);
  EXPECT_EQ(one.height, 1);
  ASSERT_EQ(one.bgrx.size(), 4u);
  EXPECT_EQ(ColourDiff(PixelAt(one, 0, 0), {10, 200, 30}, 8), "");
}

// A CMYK pixel for each grid colour: red is magenta and yellow ink, and so on.
std::vector<uint8_t> GridCmyk(int width, int height, bool inverted) {
  std::vector<uint8_t> out;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      Rgb c = GridPixel(x, y, width, height);
      uint8_t ink[4] = {static_cast<uint8_t>(255 - c.r),
                        static_cast<uint8_t>(255 - c.g),
                        static_cast<uint8_t>(255 - c.b), 0};
      for (uint8_t v : ink) out.push_back(inverted ? 255 - v : v);
    }
  }
  return out;
}

TEST(JpegDecodeTest, CmykAndYcckComeOutInTheirColours) {
  struct Case {
    bool ycck;
    bool adobe;  // Adobe's marker: the data is inverted
  } cases[] = {{false, true}, {true, true}, {false, false}};
  for (const Case& c : cases) {
    std::vector<uint8_t> cmyk = GridCmyk(24, 16, c.adobe);
    DecodedImage image = DecodePictureBytes(
        testing::EncodeCmykJpeg(cmyk, 24, 16, c.ycck, c.adobe));
    SCOPED_TRACE(c.ycck ? "YCCK" : c.adobe ? "Adobe CMYK" : "plain CMYK");
    testing::ExpectGridBlocks(image, 12);
  }
}

TEST(JpegDecodeTest, BlackInkDarkensEveryChannel) {
  // 50% black over no ink, Adobe-inverted: 127 grey.
  std::vector<uint8_t> cmyk;
  for (int i = 0; i < 16 * 16; ++i) {
    for (uint8_t v : {255, 255, 255, 128}) cmyk.push_back(v);
  }
  DecodedImage image =
      DecodePictureBytes(testing::EncodeCmykJpeg(cmyk, 16, 16, false, true));
  EXPECT_EQ(ColourDiff(PixelAt(image, 8, 8), {128, 128, 128}, 4), "");
}

TEST(JpegDecodeTest, CmykFileFromImageMagickMatchesItsSource) {
  DecodedImage image = DecodePictureFile(
      testing::NativeToUtf16(testing::FixturePath("grid_cmyk.jpg")));
  EXPECT_EQ(image.width, 24);
  EXPECT_EQ(image.height, 16);
  testing::ExpectGridBlocks(image, 16);
}

TEST(JpegDecodeTest, EmbeddedProfileIsConvertedToSrgb) {
  std::vector<uint8_t> plain = FlatJpeg(16, 16, {128, 128, 128});
  std::vector<uint8_t> profile = testing::LinearRgbProfile();
  std::vector<uint8_t> linear =
      testing::InsertJpegSegment(plain, 0xE2, testing::IccApp2(profile));
  EXPECT_EQ(
      ColourDiff(PixelAt(DecodePictureBytes(plain), 8, 8), {128, 128, 128}, 2),
      "");
  EXPECT_EQ(
      ColourDiff(PixelAt(DecodePictureBytes(linear), 8, 8), {188, 188, 188}, 3),
      "");
  // A damaged profile is ignored, not fatal.
  std::vector<uint8_t> junk(200, 0x5A);
  std::vector<uint8_t> damaged =
      testing::InsertJpegSegment(plain, 0xE2, testing::IccApp2(junk));
  EXPECT_EQ(ColourDiff(PixelAt(DecodePictureBytes(damaged), 8, 8),
                       {128, 128, 128}, 2),
            "");
}

TEST(JpegDecodeTest, GreyProfileAndOrientationTogether) {
  // Left half grey 128, right half black; a linear grey profile; turned 180
  // degrees, so the black half comes out on the left. Whole, and progressive
  // at 1/8 (one pixel a block, read from the DC scans alone).
  for (const bool eighth : {false, true}) {
    SCOPED_TRACE(eighth ? "progressive at 1/8" : "whole");
    testing::JpegOptions grey;
    grey.grey = true;
    grey.progressive = eighth;
    std::vector<uint8_t> rgb = testing::MakeRgb(32, 16, [](int x, int) {
      return x < 16 ? Rgb{128, 128, 128} : Rgb{0, 0, 0};
    });
    std::vector<uint8_t> jpeg = testing::EncodeJpeg(rgb, 32, 16, grey);
    jpeg = testing::InsertJpegSegment(
        jpeg, 0xE2, testing::IccApp2(testing::LinearGreyProfile()));
    jpeg = testing::InsertJpegSegment(jpeg, 0xE1,
                                      testing::ExifWithOrientation(3, false));
    DecodedImage image = DecodePictureBytes(jpeg, {eighth ? 2 : 0, 0});
    const int scale = eighth ? 8 : 1;
    ASSERT_EQ(image.pixel_width, 32 / scale);
    EXPECT_EQ(ColourDiff(PixelAt(image, 4 / scale, 4 / scale), {0, 0, 0}, 3),
              "");
    EXPECT_EQ(
        ColourDiff(PixelAt(image, 28 / scale, 12 / scale), {188, 188, 188}, 4),
        "");
  }
}

// Where the stored picture's top-left, top-right and bottom-left corners land
// in the upright picture, as the EXIF orientation tag defines it.
enum Corner { kTopLeft, kTopRight, kBottomLeft, kBottomRight };
struct OrientationCase {
  int orientation;
  Corner top_left, top_right, bottom_left;
};
constexpr OrientationCase kOrientations[] = {
    {1, kTopLeft, kTopRight, kBottomLeft},
    {2, kTopRight, kTopLeft, kBottomRight},
    {3, kBottomRight, kBottomLeft, kTopRight},
    {4, kBottomLeft, kBottomRight, kTopLeft},
    {5, kTopLeft, kBottomLeft, kTopRight},
    {6, kTopRight, kBottomRight, kTopLeft},
    {7, kBottomRight, kTopRight, kBottomLeft},
    {8, kBottomLeft, kTopLeft, kBottomRight},
};

Rgb CornerPixel(const DecodedImage& image, Corner corner) {
  int inset = 3;
  int right = image.pixel_width - 1 - inset;
  int bottom = image.pixel_height - 1 - inset;
  switch (corner) {
    case kTopLeft:
      return PixelAt(image, inset, inset);
    case kTopRight:
      return PixelAt(image, right, inset);
    case kBottomLeft:
      return PixelAt(image, inset, bottom);
    case kBottomRight:
      break;
  }
  return PixelAt(image, right, bottom);
}

TEST(JpegDecodeTest, ExifOrientationTurnsThePictureUpright) {
  std::vector<uint8_t> stored = GridJpeg(48, 32);
  for (bool big_endian : {false, true}) {
    for (const OrientationCase& c : kOrientations) {
      SCOPED_TRACE("orientation " + std::to_string(c.orientation) +
                   (big_endian ? " MM" : " II"));
      DecodedImage image = DecodePictureBytes(testing::InsertJpegSegment(
          stored, 0xE1,
          testing::ExifWithOrientation(c.orientation, big_endian)));
      bool swapped = c.orientation >= 5;
      EXPECT_EQ(image.width, swapped ? 32 : 48);
      EXPECT_EQ(image.height, swapped ? 48 : 32);
      EXPECT_EQ(image.pixel_width, image.width);
      EXPECT_EQ(image.pixel_height, image.height);
      EXPECT_EQ(image.stride_bytes, image.pixel_width * 4);
      // Stored corners: red (top-left), blue (top-right), yellow (bottom-left).
      EXPECT_EQ(
          ColourDiff(CornerPixel(image, c.top_left), GridColour(0, 0), 12), "");
      EXPECT_EQ(
          ColourDiff(CornerPixel(image, c.top_right), GridColour(2, 0), 12),
          "");
      EXPECT_EQ(
          ColourDiff(CornerPixel(image, c.bottom_left), GridColour(0, 1), 12),
          "");
    }
  }
}

TEST(JpegDecodeTest, AReducedDecodeTellsWhereThePictureLiesOnceUpright) {
  // 931 x 645 at 2/8 is 232.75 x 161.25 in 233 x 162 pixels: the partial
  // column (0.25 left over) and row (0.75) go where turning puts them.
  const std::vector<uint8_t> stored = GridJpeg(931, 645);
  struct Case {
    int orientation;
    PixelArea area;
  };
  const Case cases[] = {
      {1, {0, 0, 232.75, 161.25}},       {2, {0.25, 0, 232.75, 161.25}},
      {3, {0.25, 0.75, 232.75, 161.25}}, {4, {0, 0.75, 232.75, 161.25}},
      {5, {0, 0, 161.25, 232.75}},       {6, {0.75, 0, 161.25, 232.75}},
      {7, {0.75, 0.25, 161.25, 232.75}}, {8, {0, 0.25, 161.25, 232.75}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.orientation);
    const DecodedImage image = DecodePictureBytes(
        testing::InsertJpegSegment(
            stored, 0xE1, testing::ExifWithOrientation(c.orientation, false)),
        {90, 90});
    EXPECT_EQ(image.pixel_width, c.orientation >= 5 ? 162 : 233);
    EXPECT_DOUBLE_EQ(image.area.x, c.area.x);
    EXPECT_DOUBLE_EQ(image.area.y, c.area.y);
    EXPECT_DOUBLE_EQ(image.area.width, c.area.width);
    EXPECT_DOUBLE_EQ(image.area.height, c.area.height);
  }
  // A whole scale covers all of its pixels.
  EXPECT_EQ(DecodePictureBytes(GridJpeg(928, 648), {150, 150}).area.width, 0);
}

TEST(JpegDecodeTest, RotatedCmykIsConvertedThenTurned) {
  std::vector<uint8_t> cmyk = GridCmyk(48, 32, true);
  std::vector<uint8_t> jpeg = testing::InsertJpegSegment(
      testing::EncodeCmykJpeg(cmyk, 48, 32, true, true), 0xE1,
      testing::ExifWithOrientation(6, false));
  DecodedImage image = DecodePictureBytes(jpeg);
  EXPECT_EQ(image.width, 32);
  EXPECT_EQ(image.height, 48);
  EXPECT_EQ(ColourDiff(CornerPixel(image, kTopRight), GridColour(0, 0), 12),
            "");
  EXPECT_EQ(ColourDiff(CornerPixel(image, kTopLeft), GridColour(0, 1), 12), "");
}

TEST(JpegDecodeTest, ChoosesTheSmallestFastScaleSevenQuartersOfTheTarget) {
  // Of 1/8, 2/8, 4/8 and 8/8: a side that 3/8 or 5/8 to 7/8 would cover
  // takes the next of them. A sequential file takes 1/8 only with 9/4 of
  // the target; a progressive one with 7/4, like every other scale.
  struct Case {
    int32_t width, height;
    DecodeHint hint;
    int32_t progressive, sequential;
  };
  const Case kCases[] = {
      {4000, 3000, {150, 113}, 1, 1},  // 500 x 375: 500 >= 337.5
      {4000, 3000, {222, 0}, 1, 1},    // 500 >= 499.5
      {4000, 3000, {223, 0}, 1, 2},    // 500 < 501.75
      {4000, 3000, {285, 0}, 1, 2},    // 500 >= 498.75
      {4000, 3000, {286, 0}, 2, 2},    // 500 < 500.5
      {2560, 1600, {150, 94}, 1, 2},   // 320 >= 263, < 337.5
      {2560, 1600, {182, 0}, 1, 2},    // 320 >= 318.5
      {2560, 1600, {183, 0}, 2, 2},    // 320 < 320.25
      {2560, 1600, {450, 0}, 4, 4},    // 640 < 787.5
      {4000, 3000, {800, 0}, 4, 4},    // 3/8 would do
      {4000, 3000, {0, 600}, 4, 4},    // 3/8 would do
      {4000, 3000, {1142, 0}, 4, 4},   // 2000 >= 1998.5
      {4000, 3000, {1143, 0}, 8, 8},   // 5/8 would do
      // 6/8 of 16 000 x 9 000 is within the pixel limit, 8/8 is not.
      {16000, 9000, {6800, 0}, 6, 6},
      {4000, 3000, {150, 400}, 2, 2},  // height decides
      {4000, 3000, {150, 167}, 1, 2},  // 375 < 375.75 in height only
      {4000, 3000, {0, 0}, 8, 8},      // full size asked
      {4000, 3000, {2334, 0}, 8, 8},   // nothing smaller
      {100, 100, {5000, 5000}, 8, 8},  // never enlarges
      // Output sizes round up: 4017 at 1/8 is 503, and 287 x 7/4 needs 503.
      {4001, 3000, {0, 0}, 8, 8},
      {4017, 8, {287, 0}, 1, 2},
      {4016, 8, {287, 0}, 2, 2},
      {4017, 8, {223, 0}, 1, 1},  // 223 x 9/4 needs 502
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(::testing::Message()
                 << c.width << " x " << c.height << " for "
                 << c.hint.target_width_px << " x " << c.hint.target_height_px);
    EXPECT_EQ(ChooseJpegScale(c.width, c.height, c.hint, true), c.progressive);
    EXPECT_EQ(ChooseJpegScale(c.width, c.height, c.hint, false), c.sequential);
  }
}

TEST(JpegDecodeTest, LargePhotoDecodesAtAnEighthForASmallTarget) {
  std::vector<uint8_t> jpeg = GridJpeg(4000, 3000);
  DecodedImage image = DecodePictureBytes(jpeg, {150, 113});
  ASSERT_NO_FATAL_FAILURE(testing::ExpectLayout(image, 4000, 3000, 500, 375));
  testing::ExpectGridBlocks(image, 10);

  DecodedImage half = DecodePictureBytes(jpeg, {1142, 0});
  EXPECT_EQ(half.pixel_width, 2000);
  EXPECT_EQ(half.pixel_height, 1500);
}

TEST(JpegDecodeTest, HintOfARotatedPhotoIsUpright) {
  // Stored 1600 x 1200, upright 1200 x 1600. An upright target of 120 x 160
  // needs 210 x 280 upright pixels: 1/4 scale, 300 x 400 after turning.
  std::vector<uint8_t> jpeg = testing::InsertJpegSegment(
      GridJpeg(1600, 1200), 0xE1, testing::ExifWithOrientation(6, true));
  DecodedImage image = DecodePictureBytes(jpeg, {120, 160});
  EXPECT_EQ(image.width, 1200);
  EXPECT_EQ(image.height, 1600);
  EXPECT_EQ(image.pixel_width, 300);
  EXPECT_EQ(image.pixel_height, 400);
  EXPECT_EQ(ColourDiff(CornerPixel(image, kTopRight), GridColour(0, 0), 12),
            "");
  EXPECT_EQ(ColourDiff(CornerPixel(image, kBottomRight), GridColour(2, 0), 12),
            "");
}

TEST(JpegDecodeTest, TruncatedFileDecodesWhatIsThere) {
  for (bool progressive : {false, true}) {
    SCOPED_TRACE(progressive ? "progressive" : "baseline");
    testing::JpegOptions options;
    options.progressive = progressive;
    std::vector<uint8_t> jpeg = NoisyGridJpeg(240, 160, options);
    std::vector<uint8_t> cut(
        jpeg.begin(),
        jpeg.begin() + static_cast<ptrdiff_t>(jpeg.size() * 7 / 10));
    DecodedImage image = DecodePictureBytes(cut);
    EXPECT_EQ(image.width, 240);
    EXPECT_EQ(image.height, 160);
    // The top-left block was in the data that arrived.
    EXPECT_EQ(ColourDiff(PixelAt(image, 10, 10), GridColour(0, 0), 40), "");
  }
  // Baseline: what is missing comes out grey.
  std::vector<uint8_t> jpeg = NoisyGridJpeg(240, 160);
  std::vector<uint8_t> cut(
      jpeg.begin(), jpeg.begin() + static_cast<ptrdiff_t>(jpeg.size() / 2));
  DecodedImage image = DecodePictureBytes(cut);
  EXPECT_EQ(ColourDiff(PixelAt(image, 200, 150), {128, 128, 128}, 2), "");
}

TEST(JpegDecodeTest, FileCutBeforeAnyImageDataIsInvalid) {
  std::vector<uint8_t> jpeg = NoisyGridJpeg(240, 160);
  size_t scan = FirstScanData(jpeg);
  ASSERT_LT(scan, jpeg.size());
  for (size_t length : {size_t{3}, size_t{40}, scan - 1, scan, scan + 4}) {
    std::vector<uint8_t> cut(jpeg.begin(),
                             jpeg.begin() + static_cast<ptrdiff_t>(length));
    EXPECT_EQ(ErrorNumberOf(cut), platform::kErrInvalidPicture)
        << "cut at " << length << " of " << jpeg.size();
  }
}

TEST(JpegDecodeTest, DamagedDataDecodesSilently) {
  std::vector<uint8_t> jpeg = NoisyGridJpeg(240, 160);
  size_t scan = FirstScanData(jpeg);
  for (size_t i = scan + 50; i < jpeg.size() - 2; i += 97) jpeg[i] ^= 0x5A;
  ::testing::internal::CaptureStderr();
  DecodedImage image = DecodePictureBytes(jpeg);
  std::string printed = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(image.width, 240);
  EXPECT_EQ(printed, "");
}

TEST(JpegDecodeTest, HeaderOverTheLimitsIsRefusedUpFront) {
  std::vector<uint8_t> jpeg = GridJpeg(16, 16);
  size_t at = FrameSizeOffset(jpeg);
  ASSERT_NE(at, 0u);
  // At full size, over the pixel limit: too large (Out of memory), before
  // anything is allocated; a side of 0 is no picture.
  struct Size {
    int height, width, error;
  } sizes[] = {{65000, 65000, platform::kErrOutOfMemory},
               {11600, 11600, platform::kErrOutOfMemory},
               {0, 16, platform::kErrInvalidPicture}};
  for (Size s : sizes) {
    std::vector<uint8_t> hostile = jpeg;
    hostile[at] = static_cast<uint8_t>(s.height >> 8);
    hostile[at + 1] = static_cast<uint8_t>(s.height);
    hostile[at + 2] = static_cast<uint8_t>(s.width >> 8);
    hostile[at + 3] = static_cast<uint8_t>(s.width);
    EXPECT_EQ(ErrorNumberOf(hostile), s.error) << s.width << " x " << s.height;
  }
  // Within the limits a small file may claim a large picture: it decodes as
  // far as its data goes (grey below).
  std::vector<uint8_t> tall = jpeg;
  tall[at] = 0x10;  // 4096 rows
  tall[at + 1] = 0x00;
  DecodedImage image = DecodePictureBytes(tall, {16, 0});
  EXPECT_EQ(image.height, 4096);
}

// Returns a progressive JPEG whose first scan is repeated `extra` times.
std::vector<uint8_t> WithRepeatedScan(int extra) {
  testing::JpegOptions options;
  options.progressive = true;
  std::vector<uint8_t> jpeg = GridJpeg(16, 16, options);
  size_t sos = 2;
  while (jpeg[sos + 1] != 0xDA)
    sos += 2 + (size_t{jpeg[sos + 2]} << 8 | jpeg[sos + 3]);
  size_t end = FirstScanData(jpeg);
  while (!(jpeg[end] == 0xFF && jpeg[end + 1] != 0x00 &&
           (jpeg[end + 1] < 0xD0 || jpeg[end + 1] > 0xD7))) {
    ++end;
  }
  std::vector<uint8_t> scan(jpeg.begin() + static_cast<ptrdiff_t>(sos),
                            jpeg.begin() + static_cast<ptrdiff_t>(end));
  std::vector<uint8_t> out(jpeg.begin(),
                           jpeg.begin() + static_cast<ptrdiff_t>(end));
  for (int i = 0; i < extra; ++i)
    out.insert(out.end(), scan.begin(), scan.end());
  out.insert(out.end(), jpeg.begin() + static_cast<ptrdiff_t>(end), jpeg.end());
  return out;
}

TEST(JpegDecodeTest, EndlessScansAreCutOff) {
  EXPECT_EQ(ErrorNumberOf(WithRepeatedScan(20)), 0);
  EXPECT_EQ(
      ErrorNumberOf(WithRepeatedScan(decoders_internal::kMaxJpegScans + 5)),
      platform::kErrInvalidPicture);
}

}  // namespace
}  // namespace vg::decoders
