// WebP, TIFF, HEIF/AVIF and camera RAW: the committed samples (made with
// cwebp/webpmux, ImageMagick/tiffset, heif-enc and a hand-written DNG) hold
// the reference grid, some stored turned with an orientation to undo; each
// must come out upright with its colours at known places, reduced when the
// hint allows, and damaged copies must fail cleanly.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "decoders/decode_picture.h"
#include "decoders/internal/decode_budget.h"
#include "decoders/internal/picture_format.h"
#include "decoders/internal/raw_decoder.h"
#include "decoders/internal/webp_decoder.h"
#include "picture_testutil.h"
#include "platform/error.h"

namespace vg::decoders {
namespace {

using decoders_internal::PictureFormat;
using decoders_internal::SniffPictureFormat;
using testing::ColourDiff;
using testing::FixturePath;
using testing::GridColour;
using testing::PixelAt;
using testing::ReadFileBytes;
using testing::Rgb;

DecodedImage DecodeFixture(const std::string& name,
                           const DecodeHint& hint = {}) {
  return DecodePictureBytes(ReadFileBytes(FixturePath(name)), hint);
}

using testing::ErrorNumberOf;

using testing::ExpectGridBlocks;

Rgb InvertedGridColour(int bx, int by) {
  Rgb c = GridColour(bx, by);
  return {255 - c.r, 255 - c.g, 255 - c.b};
}

Rgb GridWithWhiteCyan(int bx, int by) {
  if (bx == 2 && by == 1) return {255, 255, 255};
  return GridColour(bx, by);
}

using testing::ExpectLayout;

TEST(NewFormatsSniffTest, FormatsKnownByTheirFirstBytes) {
  EXPECT_EQ(SniffPictureFormat(ReadFileBytes(FixturePath("grid.webp"))),
            PictureFormat::kWebp);
  EXPECT_EQ(SniffPictureFormat(ReadFileBytes(FixturePath("grid_rgb16.tif"))),
            PictureFormat::kTiff);
  EXPECT_EQ(SniffPictureFormat(ReadFileBytes(FixturePath("grid96.heic"))),
            PictureFormat::kHeif);
  EXPECT_EQ(SniffPictureFormat(ReadFileBytes(FixturePath("grid96.avif"))),
            PictureFormat::kHeif);
  // A DNG is TIFF-shaped; libraw tells it apart when it is decoded.
  EXPECT_EQ(
      SniffPictureFormat(ReadFileBytes(FixturePath("grid48_orient6.dng"))),
      PictureFormat::kTiff);
  const std::vector<uint8_t> cr3 = {0,   0,   0,   24,  'f', 't', 'y', 'p',
                                    'c', 'r', 'x', ' ', 0,   0,   0,   1};
  EXPECT_EQ(SniffPictureFormat(cr3), PictureFormat::kRaw);
  // An MP4 video and a WAVE file share the containers, not the brands.
  const std::vector<uint8_t> mp4 = {0,   0,   0,   20,  'f', 't', 'y',
                                    'p', 'i', 's', 'o', 'm', 0,   0,
                                    2,   0,   'm', 'p', '4', '1'};
  EXPECT_EQ(SniffPictureFormat(mp4), PictureFormat::kUnknown);
  const std::vector<uint8_t> wave = {'R', 'I', 'F', 'F', 4,   0,
                                     0,   0,   'W', 'A', 'V', 'E'};
  EXPECT_EQ(SniffPictureFormat(wave), PictureFormat::kUnknown);
}

// WebP and TIFF fixtures of the grid: lossless and lossy, alpha over white,
// 16 bits a sample, CMYK, a palette, tiles, stored turned a quarter
// anticlockwise with orientation 6, and scaled or reduced while decoding.
TEST(NewFormatsTest, GridFixturesDecodeUprightAtTheSizeAsked) {
  struct Case {
    const char* name;
    DecodeHint hint;
    int width;
    int height;
    int pixel_width;
    int pixel_height;
    int tolerance;  // -1: the size alone
    Rgb (*colour)(int, int) = GridColour;
  };
  const Case cases[] = {
      {"grid.webp", {}, 24, 16, 24, 16, 0},
      // The cyan block is transparent: white.
      {"grid_alpha.webp", {}, 24, 16, 24, 16, 0, GridWithWhiteCyan},
      {"grid_orient6.webp", {}, 24, 16, 24, 16, 0},
      // A 20-pixel target needs 30 columns, and the rows follow in
      // proportion (rounded up).
      {"grid96_lossy.webp", {20, 0}, 96, 64, 30, 20, 24},
      {"grid96_lossy.webp", {}, 96, 64, 96, 64, 24},
      // LZW, four rows a strip.
      {"grid_rgb16.tif", {}, 24, 16, 24, 16, 0},
      {"grid_cmyk.tif", {}, 24, 16, 24, 16, 0},
      {"grid_palette.tif", {}, 24, 16, 24, 16, 0},
      {"grid_alpha.tif", {}, 24, 16, 24, 16, 0, GridWithWhiteCyan},
      // Tiled 16 x 16, stored 16 x 24.
      {"grid_tiled_orient6.tif", {}, 24, 16, 24, 16, 0},
      // An 8-pixel target needs 12 columns: the grid halves, in its upright
      // orientation.
      {"grid_tiled_orient6.tif", {8, 0}, 24, 16, 12, 8, 0},
      {"grid_rgb16.tif", {0, 3}, 24, 16, 8, 6, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message()
                 << c.name << " for " << c.hint.target_width_px << "x"
                 << c.hint.target_height_px);
    const DecodedImage image = DecodeFixture(c.name, c.hint);
    ExpectLayout(image, c.width, c.height, c.pixel_width, c.pixel_height);
    if (c.tolerance >= 0) ExpectGridBlocks(image, c.tolerance, c.colour);
  }
}

// The margin in both directions; never above the picture's own size.
TEST(WebpTest, SizeChosenWithTheMargin) {
  auto size = decoders_internal::ChooseWebpSize(1000, 100, {0, 10});
  EXPECT_EQ(size.width, 150);
  EXPECT_EQ(size.height, 15);
  size = decoders_internal::ChooseWebpSize(1000, 100, {100, 11});
  EXPECT_EQ(size.width, 170);
  size = decoders_internal::ChooseWebpSize(100, 100, {50, 0});
  EXPECT_EQ(size.width, 75);
  size = decoders_internal::ChooseWebpSize(100, 100, {67, 0});
  EXPECT_EQ(size.width, 100);
}

// One page of a TIFF being written: w x h of one colour, RGB in one strip;
// `reduced` marks it a smaller copy of the first page. A `damaged` page's
// strip is no deflate stream. The `sub_directories` pages written after it
// are its sub-directories.
void AddTiffPage(TIFF* tiff, uint32_t w, uint32_t h, Rgb colour, bool reduced,
                 bool damaged = false, uint16_t sub_directories = 0) {
  if (sub_directories != 0) {
    const std::vector<toff_t> offsets(sub_directories, 0);
    TIFFSetField(tiff, TIFFTAG_SUBIFD, sub_directories, offsets.data());
  }
  TIFFSetField(tiff, TIFFTAG_SUBFILETYPE,
               reduced ? uint32_t{FILETYPE_REDUCEDIMAGE} : uint32_t{0});
  TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, w);
  TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, h);
  TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, uint16_t{8});
  TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, uint16_t{3});
  TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
  TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, h);
  std::vector<uint8_t> pixels(size_t{w} * h * 3);
  for (size_t i = 0; i < pixels.size(); i += 3) {
    pixels[i] = colour.r;
    pixels[i + 1] = colour.g;
    pixels[i + 2] = colour.b;
  }
  if (damaged) {
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
    TIFFWriteRawStrip(tiff, 0, pixels.data(), 64);
  } else {
    TIFFWriteEncodedStrip(tiff, 0, pixels.data(),
                          static_cast<tmsize_t>(pixels.size()));
  }
  TIFFWriteDirectory(tiff);
}

// A pyramid's smaller pages: the smallest that covers the target with the
// reduced decodes' margin is read instead of the picture, which keeps its
// size; a damaged one, or a page that is no copy of the picture, is not.
TEST(TiffTest, TheSmallestReducedPageThatCoversTheTargetIsRead) {
  const Rgb red{200, 0, 0}, green{0, 200, 0}, blue{0, 0, 200}, grey{90, 90, 90};
  struct Case {
    const char* name;
    int32_t target;
    bool damaged_green;
    Rgb expected;
    bool sub_directories = false;  // the smaller pages those of the first
  };
  for (const Case& c :
       {Case{"the green page covers 100", 100, false, green},
        Case{"the blue page covers 200", 200, false, blue},
        Case{"none covers 500", 500, false, red},
        Case{"green damaged", 100, true, red}, Case{"no target", 0, false, red},
        Case{"sub-directories: green covers 100", 100, false, green, true},
        Case{"sub-directories: none covers 500", 500, false, red, true}}) {
    SCOPED_TRACE(c.name);
    testing::TempFolder folder;
    const std::filesystem::path path = folder.path() / "pyramid.tif";
    TIFF* tiff = TIFFOpen(path.c_str(), "w");
    ASSERT_NE(tiff, nullptr);
    AddTiffPage(tiff, 800, 600, red, false, false, c.sub_directories ? 4 : 0);
    AddTiffPage(tiff, 400, 300, blue, true);
    AddTiffPage(tiff, 300, 200, grey, true);  // other proportions
    AddTiffPage(tiff, 200, 150, green, true, c.damaged_green);
    AddTiffPage(tiff, 100, 75, grey, false);  // another picture
    TIFFClose(tiff);
    const DecodedImage image =
        DecodePictureBytes(ReadFileBytes(path), {c.target, 0});
    EXPECT_EQ(image.width, 800);
    EXPECT_EQ(image.height, 600);
    EXPECT_EQ(ColourDiff(
                  PixelAt(image, image.pixel_width / 2, image.pixel_height / 2),
                  c.expected, 2),
              "");
  }
}

TEST(TiffTest, DamageFailsWithoutPrinting) {
  std::vector<uint8_t> bytes = ReadFileBytes(FixturePath("grid_rgb16.tif"));
  ::testing::internal::CaptureStderr();
  std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + 40);
  EXPECT_EQ(ErrorNumberOf(cut), platform::kErrInvalidPicture);
  std::vector<uint8_t> no_ifd = bytes;
  no_ifd[4] = 0xF0;  // the first directory far past the end
  no_ifd[5] = 0xFF;
  EXPECT_EQ(ErrorNumberOf(no_ifd), platform::kErrInvalidPicture);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

TEST(HeifTest, HevcAndAv1WithTheContainersRotation) {
  for (const char* name : {"grid96.heic", "grid96.avif"}) {
    SCOPED_TRACE(name);
    DecodedImage image = DecodeFixture(name);
    ExpectLayout(image, 96, 64, 96, 64);
    ExpectGridBlocks(image, 12);
  }
  // Stored 64 x 96; an irot property turns it a quarter clockwise.
  for (const char* name : {"grid96_irot.heic", "grid96_irot.avif"}) {
    SCOPED_TRACE(name);
    DecodedImage image = DecodeFixture(name);
    ExpectLayout(image, 96, 64, 96, 64);
    ExpectGridBlocks(image, 12);
  }
}

TEST(HeifTest, ExifOrientationIsNotAppliedOverTheContainers) {
  // Stored 64 x 96 with EXIF orientation 6 and no irot: HEIF readers take
  // the container's transformations only, so it stays as stored.
  DecodedImage image = DecodeFixture("grid96_ccw_exif6.heic");
  ExpectLayout(image, 64, 96, 64, 96);
  EXPECT_EQ(ColourDiff(PixelAt(image, 16, 80), GridColour(0, 0), 12), "");
  EXPECT_EQ(ColourDiff(PixelAt(image, 48, 16), GridColour(2, 1), 12), "");
}

// A damaged HEVC stream that libde265 decodes with blocks it never writes:
// the picture must not depend on what the heap held before. Run where the
// C library's heap serves the decoders (a sanitizer's heap fills blocks
// its own way).
TEST(HeifTest, UnwrittenBlocksDoNotShowEarlierMemory) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the sanitizer's heap is not the C library's";
#else
  const std::vector<uint8_t> bytes =
      ReadFileBytes(FixturePath("damaged_unwritten_blocks.heic"));
  std::vector<std::vector<uint8_t> > pictures;
  for (const uint8_t garbage : {0x11, 0xEE}) {
    {
      // Leave the heap's free blocks full of `garbage`.
      std::vector<std::unique_ptr<uint8_t[]> > blocks;
      for (size_t size = 64; size <= (size_t{1} << 20); size *= 2) {
        for (int i = 0; i < 4; ++i) {
          blocks.emplace_back(new uint8_t[size]);
          std::memset(blocks.back().get(), garbage, size);
        }
      }
    }
    try {
      pictures.push_back(DecodePictureBytes(bytes).bgrx);
    } catch (const platform::Error& e) {
      pictures.push_back({});
      EXPECT_EQ(e.number(), platform::kErrInvalidPicture);
    }
  }
  EXPECT_TRUE(pictures[0] == pictures[1]);
#endif
}

TEST(HeifTest, ReducedByAWholeFactor) {
  // A 17-pixel target needs 26 columns: 96 / 26 = 3.
  DecodedImage image = DecodeFixture("grid96.heic", {17, 0});
  ExpectLayout(image, 96, 64, 32, 22);
  ExpectGridBlocks(image, 12);
}

TEST(HeifTest, ThumbnailItemWhenItHoldsWhatTheHintNeeds) {
  // 96 x 64 with a 48 x 32 thumbnail; the margin over a target of 20 is 30.
  const struct {
    const char* name;
    DecodeHint hint;
    int pixel_width;
    int pixel_height;
  } kCases[] = {
      {"grid96_thumb48.heic", {20, 0}, 48, 32},  // the thumbnail
      {"grid96_thumb48.heic", {0, 20}, 48, 32},
      {"grid96_thumb48.heic", {40, 0}, 96, 64},  // 60 > 48: the picture
      {"grid96_thumb48.heic", {}, 96, 64},
      // Turned upright by irot, its thumbnail not: 32 x 48, other
      // proportions, so the picture reduced by 3.
      {"grid96_irot_thumb48.heic", {20, 0}, 32, 22},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::string(c.name) + " " +
                 std::to_string(c.hint.target_width_px) + "x" +
                 std::to_string(c.hint.target_height_px));
    DecodedImage image = DecodeFixture(c.name, c.hint);
    ExpectLayout(image, 96, 64, c.pixel_width, c.pixel_height);
    ExpectGridBlocks(image, 12);
  }
}

TEST(RawTest, PreviewWhenItCoversTheTargetElseTheSensorData) {
  // The DNG's preview holds the grid, its sensor data the grid's inverse,
  // both stored 32 x 48 with orientation 6.
  DecodedImage preview = DecodeFixture("grid48_orient6.dng", {12, 0});
  EXPECT_EQ(preview.width, 48);
  EXPECT_EQ(preview.height, 32);
  EXPECT_GT(preview.pixel_width, preview.pixel_height);
  ExpectGridBlocks(preview, 16);
  // No hint: the preview is as large as the picture, so it serves.
  ExpectGridBlocks(DecodeFixture("grid48_orient6.dng"), 16);
  // A 48-pixel target needs 72 columns, more than the preview has.
  DecodedImage developed = DecodeFixture("grid48_orient6.dng", {48, 0});
  ExpectLayout(developed, 48, 32, 48, 32);
  ExpectGridBlocks(developed, 48, InvertedGridColour);
}

// Returns where the value of `tag` lies in the directory at `ifd` of the
// little-endian TIFF `bytes` (0 when the tag is not there).
size_t TiffEntryValueAt(const std::vector<uint8_t>& bytes, size_t ifd,
                        uint16_t tag) {
  const auto u16 = [&](size_t at) { return bytes[at] | bytes[at + 1] << 8; };
  const size_t count = static_cast<size_t>(u16(ifd));
  for (size_t i = 0; i < count; ++i) {
    const size_t entry = ifd + 2 + i * 12;
    if (u16(entry) == tag) return entry + 8;
  }
  return 0;
}

uint32_t TiffLong(const std::vector<uint8_t>& bytes, size_t at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = v << 8 | bytes[at + static_cast<size_t>(i)];
  return v;
}

TEST(RawTest, PreviewStandsInForSensorDataThatCannotBeRead) {
  // The sensor data is the file's last strip, in the directory IFD0's
  // SubIFDs tag points at; the preview holds the grid, the sensor data
  // its inverse.
  const std::vector<uint8_t> dng =
      ReadFileBytes(FixturePath("grid48_orient6.dng"));
  const size_t sub_ifd = TiffLong(dng, TiffEntryValueAt(dng, 8, 330));
  const size_t strip_offset_at = TiffEntryValueAt(dng, sub_ifd, 273);
  const size_t strip_bytes = TiffLong(dng, TiffEntryValueAt(dng, sub_ifd, 279));
  ASSERT_EQ(TiffLong(dng, strip_offset_at) + strip_bytes, dng.size());
  const std::vector<uint8_t> cut(
      dng.begin(), dng.end() - static_cast<ptrdiff_t>(strip_bytes / 2));
  std::vector<uint8_t> moved = dng;
  moved[strip_offset_at + 3] = 0x7F;  // the strip far past the end
  const struct {
    const char* name;
    const std::vector<uint8_t>& bytes;
  } kDamaged[] = {{"strip cut short", cut}, {"strip past the end", moved}};
  // A 48-pixel target needs more than the 48 x 32 preview: only the
  // sensor data would cover it, and it fails.
  for (const auto& damaged : kDamaged) {
    for (const DecodeHint& hint : {DecodeHint{48, 0}, DecodeHint{}}) {
      SCOPED_TRACE(std::string(damaged.name) + " at " +
                   std::to_string(hint.target_width_px));
      DecodedImage image = DecodePictureBytes(damaged.bytes, hint);
      ExpectLayout(image, 48, 32, 48, 32);
      ExpectGridBlocks(image, 16);
    }
  }
  // Without a preview that decodes, the damage is an invalid picture.
  std::vector<uint8_t> no_preview = cut;
  const size_t preview_at = TiffLong(dng, TiffEntryValueAt(dng, 8, 513));
  const size_t preview_bytes = TiffLong(dng, TiffEntryValueAt(dng, 8, 514));
  std::fill_n(no_preview.begin() + static_cast<ptrdiff_t>(preview_at),
              preview_bytes, 0);
  EXPECT_EQ(ErrorNumberOf(no_preview, {48, 0}), platform::kErrInvalidPicture);
}

TEST(RawTest, OrdinaryTiffWithACameraMakerIsNoRaw) {
  // A scanner's 16-bit grey TIFF, its maker named: libtiff reads it.
  const std::vector<uint8_t> bytes =
      ReadFileBytes(FixturePath("grid_grey16_maker.tif"));
  EXPECT_FALSE(decoders_internal::DecodeRaw(
                   bytes, {}, decoders_internal::SharedDecodeBudget())
                   .has_value());
  DecodedImage image = DecodePictureBytes(bytes);
  ExpectLayout(image, 24, 16, 24, 16);
  const Rgb yellow = PixelAt(image, 4, 12);
  const Rgb blue = PixelAt(image, 20, 4);
  EXPECT_EQ(yellow.r, yellow.g);
  EXPECT_EQ(yellow.g, yellow.b);
  EXPECT_GT(yellow.r, blue.r + 100);
}

TEST(RawTest, FlipValuesAsOrientations) {
  const int expected[8] = {1, 2, 4, 3, 5, 8, 6, 7};
  for (int flip = 0; flip < 8; ++flip) {
    EXPECT_EQ(decoders_internal::OrientationOfRawFlip(flip), expected[flip]);
  }
  EXPECT_EQ(decoders_internal::OrientationOfRawFlip(-1), 1);
}

TEST(NewFormatsColourTest, EmbeddedProfilesConvertedToSrgb) {
  // Grey 128 in a linear-RGB profile: about 188 in sRGB (unconverted, 128).
  for (const char* name : {"grey128_linear_icc.webp", "grey128_linear_icc.tif",
                           "grey128_linear_icc.heic"}) {
    SCOPED_TRACE(name);
    DecodedImage image = DecodeFixture(name);
    ASSERT_EQ(image.pixel_width, 24);
    EXPECT_EQ(ColourDiff(PixelAt(image, 12, 8), {188, 188, 188}, 4), "");
  }
}

TEST(NewFormatsDamageTest, CutShortOrGarbledFailsCleanly) {
  for (const char* name : {"grid.webp", "grid96_lossy.webp", "grid_rgb16.tif",
                           "grid_tiled_orient6.tif", "grid96.heic",
                           "grid96_irot.avif", "grid48_orient6.dng"}) {
    SCOPED_TRACE(name);
    const std::vector<uint8_t> bytes = ReadFileBytes(FixturePath(name));
    // The header alone.
    std::vector<uint8_t> head(bytes.begin(), bytes.begin() + 16);
    EXPECT_EQ(ErrorNumberOf(head), platform::kErrInvalidPicture);
    // Every byte after the header turned over: a picture, or a clean 481.
    std::vector<uint8_t> garbled = bytes;
    for (size_t i = 16; i < garbled.size(); ++i) garbled[i] ^= 0x5A;
    int32_t error = ErrorNumberOf(garbled);
    EXPECT_TRUE(error == 0 || error == platform::kErrInvalidPicture) << error;
  }
  // Cut in the middle of the compressed data: nothing to show.
  for (const char* name : {"grid.webp", "grid96.heic", "grid96.avif"}) {
    SCOPED_TRACE(name);
    const std::vector<uint8_t> bytes = ReadFileBytes(FixturePath(name));
    std::vector<uint8_t> half(
        bytes.begin(),
        bytes.begin() + static_cast<ptrdiff_t>(bytes.size() * 3 / 4));
    EXPECT_EQ(ErrorNumberOf(half), platform::kErrInvalidPicture);
  }
}

}  // namespace
}  // namespace vg::decoders
