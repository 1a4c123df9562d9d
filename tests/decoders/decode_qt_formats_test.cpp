// BMP, ICO, CUR, GIF and PNG: every stored layout, transparency on white,
// damaged and hostile files, several threads at once.
#include <gtest/gtest.h>

#include <QBuffer>
#include <QColorSpace>
#include <QImage>
#include <QImageWriter>
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <future>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "decoders/decode_picture.h"
#include "decoders/internal/decode_budget.h"
#include "decoders/internal/picture_format.h"
#include "decoders/internal/qt_decoder.h"
#include "picture_testutil.h"
#include "platform/error.h"

namespace vg::decoders {
namespace {

using decoders_internal::IconCandidates;
using decoders_internal::PictureFormat;
using testing::BmpOf;
using testing::BmpSpec;
using testing::ColourDiff;
using testing::GridColour;
using testing::GridPixel;
using testing::PixelAt;
using testing::Rgb;

constexpr Rgb kWhite = {255, 255, 255};

using testing::ErrorNumberOf;

// Checks every pixel against the 24 x 16 grid, within `tolerance`.
void ExpectExactGrid(const DecodedImage& image, int tolerance = 0) {
  ASSERT_NO_FATAL_FAILURE(testing::ExpectLayout(image, 24, 16, 24, 16));
  for (int y = 0; y < 16; ++y) {
    for (int x = 0; x < 24; ++x) {
      ASSERT_EQ(
          ColourDiff(PixelAt(image, x, y), GridPixel(x, y, 24, 16), tolerance),
          "")
          << "at " << x << "," << y;
      ASSERT_EQ(image.bgrx[static_cast<size_t>(y) * 96 + x * 4 + 3], 255);
    }
  }
}

uint32_t Packed(Rgb c) {
  return static_cast<uint32_t>(c.r << 16 | c.g << 8 | c.b);
}

// The grid's six colours as a palette; index = block_y * 3 + block_x.
std::vector<uint32_t> GridPalette() {
  std::vector<uint32_t> palette;
  for (int by = 0; by < 2; ++by) {
    for (int bx = 0; bx < 3; ++bx)
      palette.push_back(Packed(GridColour(bx, by)));
  }
  return palette;
}

int GridIndex(int x, int y) { return (y * 2 / 16) * 3 + x * 3 / 24; }

// Returns the grid's rows in the order stored: bottom-up unless top_down,
// each made by `row` and padded to 4 bytes.
template <typename RowFn>
std::vector<uint8_t> StoredRows(bool top_down, RowFn row) {
  std::vector<uint8_t> out;
  for (int i = 0; i < 16; ++i) {
    int y = top_down ? i : 15 - i;
    std::vector<uint8_t> bytes = row(y);
    while (bytes.size() % 4 != 0) bytes.push_back(0);
    out.insert(out.end(), bytes.begin(), bytes.end());
  }
  return out;
}

// Returns row y of the grid as a BMP of `bits` a pixel stores it: palette
// indices (GridPalette) up to 8 bits; 5-5-5, or 5-6-5 through bit fields,
// at 16; blue, green, red at 24, and a padding byte of 0 at 32.
std::vector<uint8_t> GridRow(int bits, bool rgb565, int y) {
  std::vector<uint8_t> row;
  for (int x = 0; x < 24; ++x) {
    const auto index = static_cast<uint8_t>(GridIndex(x, y));
    const Rgb c = GridPixel(x, y, 24, 16);
    if (bits == 4 && x % 2 == 1) {
      row.back() = static_cast<uint8_t>(row.back() | index);
    } else if (bits == 4) {
      row.push_back(static_cast<uint8_t>(index << 4));
    } else if (bits == 8) {
      row.push_back(index);
    } else if (bits == 16) {
      const auto v = rgb565 ? static_cast<uint16_t>((c.r >> 3) << 11 |
                                                    (c.g >> 2) << 5 | c.b >> 3)
                            : static_cast<uint16_t>((c.r >> 3) << 10 |
                                                    (c.g >> 3) << 5 | c.b >> 3);
      row.insert(row.end(),
                 {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)});
    } else {
      row.insert(row.end(),
                 {static_cast<uint8_t>(c.b), static_cast<uint8_t>(c.g),
                  static_cast<uint8_t>(c.r)});
      if (bits == 32) row.push_back(0);
    }
  }
  return row;
}

TEST(BmpDecodeTest, EveryDepthAndRowOrder) {
  struct Depth {
    const char* name;
    int bits;
    bool rgb565;
    int tolerance;
  };
  const Depth depths[] = {
      {"4 bits", 4, false, 0},
      {"8 bits", 8, false, 0},
      {"24 bits", 24, false, 0},
      // The 4th byte is padding, not alpha (0 here), so the picture is
      // opaque.
      {"32 bits without masks", 32, false, 0},
      // Each channel widened to 8 bits (a full 5-bit channel is 255).
      {"16 bits 555", 16, false, 7},
      {"16 bits 565", 16, true, 7},
  };
  for (bool top_down : {false, true}) {
    for (const Depth& d : depths) {
      SCOPED_TRACE(::testing::Message()
                   << d.name << (top_down ? ", top-down" : ", bottom-up"));
      BmpSpec bmp = BmpOf(24, top_down ? -16 : 16, d.bits, d.rgb565 ? 3 : 0);
      if (d.bits <= 8) bmp.palette = GridPalette();
      if (d.rgb565) bmp.masks = {0xF800, 0x07E0, 0x001F};
      bmp.pixel_data = StoredRows(
          top_down, [&](int y) { return GridRow(d.bits, d.rgb565, y); });
      ExpectExactGrid(DecodePictureBytes(testing::MakeBmp(bmp)), d.tolerance);
    }
  }
}

TEST(BmpDecodeTest, OneBitPictureUsesItsPalette) {
  BmpSpec spec = BmpOf(10, 3, 1);
  spec.palette = {0x000000FF, 0x00FFFF00};  // blue, yellow
  // Each row: columns alternate, starting with yellow (bit 1).
  for (int i = 0; i < 3; ++i) {
    spec.pixel_data.insert(spec.pixel_data.end(), {0xAA, 0x80, 0, 0});
  }
  DecodedImage image = DecodePictureBytes(testing::MakeBmp(spec));
  ASSERT_EQ(image.width, 10);
  for (int x = 0; x < 10; ++x) {
    Rgb expected = x % 2 == 0 ? Rgb{255, 255, 0} : Rgb{0, 0, 255};
    EXPECT_EQ(ColourDiff(PixelAt(image, x, 1), expected, 0), "") << "x " << x;
  }
}

TEST(BmpDecodeTest, AlphaBitFieldsAreCompositedOnWhite) {
  BmpSpec spec = BmpOf(3, 1, 32, 3);
  spec.masks = {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000};
  // Opaque red, half-transparent red, fully transparent red.
  spec.pixel_data = {0, 0, 255, 255, 0, 0, 255, 128, 0, 0, 255, 0};
  DecodedImage image = DecodePictureBytes(testing::MakeBmp(spec));
  EXPECT_EQ(ColourDiff(PixelAt(image, 0, 0), {255, 0, 0}, 0), "");
  EXPECT_EQ(ColourDiff(PixelAt(image, 1, 0), {255, 127, 127}, 1), "");
  EXPECT_EQ(ColourDiff(PixelAt(image, 2, 0), kWhite, 0), "");
}

// RLE8 and RLE4 rows of the grid: one run per 8-pixel block.
std::vector<uint8_t> GridRle(bool four_bits) {
  std::vector<uint8_t> data;
  for (int y = 15; y >= 0; --y) {
    for (int bx = 0; bx < 3; ++bx) {
      uint8_t index = static_cast<uint8_t>(GridIndex(bx * 8, y));
      data.push_back(8);
      data.push_back(four_bits ? static_cast<uint8_t>(index << 4 | index)
                               : index);
    }
    data.insert(data.end(), {0, 0});  // end of line
  }
  data.insert(data.end(), {0, 1});  // end of bitmap
  return data;
}

TEST(BmpDecodeTest, RunLengthEncodedPictures) {
  for (bool four_bits : {false, true}) {
    SCOPED_TRACE(four_bits ? "RLE4" : "RLE8");
    BmpSpec spec = BmpOf(24, 16, four_bits ? 4 : 8, four_bits ? 2 : 1);
    spec.palette = GridPalette();
    spec.pixel_data = GridRle(four_bits);
    ExpectExactGrid(DecodePictureBytes(testing::MakeBmp(spec)));
  }
  SCOPED_TRACE("RLE8 written by ImageMagick");
  ExpectExactGrid(DecodePictureFile(
      testing::NativeToUtf16(testing::FixturePath("grid_rle8.bmp"))));
}

TEST(BmpDecodeTest, RunsPastThePictureStayInside) {
  BmpSpec spec = BmpOf(4, 2, 8, 1);
  spec.palette = {0x00FF0000, 0x0000FF00};
  // Runs of 255 pixels in a 4-pixel row, a move far past the corner, an
  // absolute run longer than the row, and more lines than the picture has.
  spec.pixel_data = {255, 1, 255, 1, 0, 2, 200, 200, 0, 40};
  spec.pixel_data.insert(spec.pixel_data.end(), 40, 1);
  for (int i = 0; i < 10; ++i)
    spec.pixel_data.insert(spec.pixel_data.end(), {255, 0, 0, 0});
  spec.pixel_data.insert(spec.pixel_data.end(), {0, 1});
  DecodedImage image = DecodePictureBytes(testing::MakeBmp(spec));
  EXPECT_EQ(image.width, 4);
  EXPECT_EQ(image.height, 2);
  EXPECT_EQ(image.bgrx.size(), 4u * 2u * 4u);
  // The first run fills the bottom row (stored first) with green.
  EXPECT_EQ(ColourDiff(PixelAt(image, 3, 1), {0, 255, 0}, 0), "");
}

// Issue 24: rows a BMP does not hold, and pixels its runs skip, came from
// memory Qt's reader allocated and never wrote.
std::vector<uint8_t> DecodeUnderFill(std::span<const uint8_t> bytes, int fill) {
  testing::AllocationFill filled(fill);
  return DecodePictureBytes(bytes).bgrx;
}

// Returns `bmp` (a 40-byte header followed by three bit-field masks) with
// the masks left out, its offsets adjusted.
std::vector<uint8_t> WithoutMasks(std::vector<uint8_t> bmp) {
  bmp.erase(bmp.begin() + 54, bmp.begin() + 66);
  for (size_t at : {size_t{2}, size_t{10}}) {
    uint32_t v = static_cast<uint32_t>(bmp[at] | bmp[at + 1] << 8 |
                                       bmp[at + 2] << 16 | bmp[at + 3] << 24);
    v -= 12;
    for (size_t i = 0; i < 4; ++i)
      bmp[at + i] = static_cast<uint8_t>(v >> (8 * i));
  }
  return bmp;
}

TEST(BmpDecodeTest, PixelsTheFileDoesNotHoldNeverComeFromMemory) {
  constexpr Rgb kGrey = {128, 128, 128};
  BmpSpec rows = BmpOf(64, 64);
  for (int i = 0; i < 64; ++i) {
    for (int x = 0; x < 64; ++x) {
      rows.pixel_data.insert(rows.pixel_data.end(),
                             {100, static_cast<uint8_t>(4 * (63 - i)),
                              static_cast<uint8_t>(4 * x)});
    }
  }
  const std::vector<uint8_t> whole = testing::MakeBmp(rows);
  const std::vector<uint8_t> cut(whole.begin(), whole.begin() + 80);
  const std::vector<uint8_t> two_rows(whole.begin(),
                                      whole.begin() + 54 + 2 * 64 * 3);

  BmpSpec runs = BmpOf(16, 4, 8, 1);
  runs.palette = {0x00FF0000, 0x0000FF00, 0x000000FF};
  // Two green pixels, a move 3 right and 1 up, two blue ones, end of line,
  // end of picture: most pixels are never written.
  runs.pixel_data = {2, 1, 0, 2, 3, 1, 2, 2, 0, 0, 0, 1};
  const std::vector<uint8_t> skipping = testing::MakeBmp(runs);

  BmpSpec fields = BmpOf(8, 4, 16, 3);
  fields.masks = {0xF800, 0x07E0, 0x001F};
  // The masks missing from the header are read from the first 12 bytes of
  // pixels, which still start where the file header says.
  fields.pixel_data = {0x00, 0xF8, 0, 0, 0xE0, 0x07, 0, 0, 0x1F, 0, 0, 0};
  fields.pixel_data.resize(8 * 4 * 2, 0xFF);
  const std::vector<uint8_t> no_masks = WithoutMasks(testing::MakeBmp(fields));

  for (const auto* bytes : {&cut, &two_rows, &skipping, &no_masks}) {
    SCOPED_TRACE(bytes->size());
    std::vector<uint8_t> first = DecodeUnderFill(*bytes, 0x5A);
    std::vector<uint8_t> second = DecodeUnderFill(*bytes, 0xA5);
    EXPECT_EQ(first, second);
  }
  // Rows missing from the file are grey; a palette picture's skipped pixels
  // take its first colour.
  DecodedImage image = DecodePictureBytes(two_rows);
  EXPECT_EQ(ColourDiff(PixelAt(image, 10, 63), {40, 252, 100}, 0), "");
  EXPECT_EQ(ColourDiff(PixelAt(image, 10, 62), {40, 248, 100}, 0), "");
  EXPECT_EQ(ColourDiff(PixelAt(image, 10, 61), kGrey, 0), "");
  EXPECT_EQ(ColourDiff(PixelAt(DecodePictureBytes(cut), 0, 63), kGrey, 0), "");
  image = DecodePictureBytes(skipping);
  EXPECT_EQ(ColourDiff(PixelAt(image, 1, 3), {0, 255, 0}, 0), "");
  EXPECT_EQ(ColourDiff(PixelAt(image, 2, 3), {255, 0, 0}, 0), "");
  EXPECT_EQ(ColourDiff(PixelAt(image, 5, 2), {0, 0, 255}, 0), "");
  EXPECT_EQ(ColourDiff(PixelAt(image, 15, 0), {255, 0, 0}, 0), "");
  image = DecodePictureBytes(no_masks);
  EXPECT_EQ(ColourDiff(PixelAt(image, 0, 3), {255, 0, 0}, 0), "");
  EXPECT_EQ(ColourDiff(PixelAt(image, 2, 3), {0, 255, 0}, 0), "");
  EXPECT_EQ(ColourDiff(PixelAt(image, 4, 3), {0, 0, 255}, 0), "");
  EXPECT_EQ(ColourDiff(PixelAt(image, 0, 0), {255, 255, 255}, 0), "");
}

TEST(BmpDecodeTest, DamagedAndHostileHeaders) {
  BmpSpec huge = BmpOf(100000, 100000);
  huge.pixel_data.assign(64, 0x11);
  EXPECT_EQ(ErrorNumberOf(testing::MakeBmp(huge)), platform::kErrOutOfMemory);

  BmpSpec over_pixels;  // each side allowed, the product not
  over_pixels.width = 60000;
  over_pixels.height = -60000;
  over_pixels.pixel_data.assign(64, 0x11);
  EXPECT_EQ(ErrorNumberOf(testing::MakeBmp(over_pixels)),
            platform::kErrOutOfMemory);

  // Three pixels wide, 67 million rows top-down: QImageReader::size() does
  // not tell, so the header is read before QtGui allocates 800 MB.
  BmpSpec tall = BmpOf(3, -67108866);
  tall.pixel_data.assign(16, 0x63);
  EXPECT_EQ(ErrorNumberOf(testing::MakeBmp(tall)), platform::kErrOutOfMemory);

  BmpSpec bad_depth = BmpOf(4, 4, 7);
  bad_depth.pixel_data.assign(64, 0);
  EXPECT_EQ(ErrorNumberOf(testing::MakeBmp(bad_depth)),
            platform::kErrInvalidPicture);

  std::vector<uint8_t> header_only = testing::MakeBmp(bad_depth);
  header_only.resize(20);
  EXPECT_EQ(ErrorNumberOf(header_only), platform::kErrInvalidPicture);
}

// Returns the bytes of image `index` of an icon file, as its directory says.
std::vector<uint8_t> IconEntryData(const std::vector<uint8_t>& ico, int index) {
  size_t at = 6 + static_cast<size_t>(index) * 16;
  auto le32 = [&](size_t p) {
    return uint32_t{ico[p]} | uint32_t{ico[p + 1]} << 8 |
           uint32_t{ico[p + 2]} << 16 | uint32_t{ico[p + 3]} << 24;
  };
  uint32_t length = le32(at + 8);
  uint32_t offset = le32(at + 12);
  return {ico.begin() + offset, ico.begin() + offset + length};
}

struct IconImage {
  int size;  // width = height, pixels
  std::vector<uint8_t> data;
  uint32_t offset_override = 0;  // nonzero: the directory points there
};

// Builds an icon (type 1) or cursor (type 2) file from images.
std::vector<uint8_t> MakeIcon(uint16_t type,
                              const std::vector<IconImage>& images) {
  std::vector<uint8_t> out = {
      0, 0, static_cast<uint8_t>(type), 0, static_cast<uint8_t>(images.size()),
      0};
  uint32_t offset = 6 + 16 * static_cast<uint32_t>(images.size());
  auto put32 = [&](uint32_t v) {
    for (int i = 0; i < 4; ++i)
      out.push_back(static_cast<uint8_t>(v >> (8 * i)));
  };
  for (const IconImage& image : images) {
    out.push_back(static_cast<uint8_t>(image.size));
    out.push_back(static_cast<uint8_t>(image.size));
    out.insert(out.end(), {0, 0, 1, 0, 32, 0});
    put32(static_cast<uint32_t>(image.data.size()));
    put32(image.offset_override != 0 ? image.offset_override : offset);
    offset += static_cast<uint32_t>(image.data.size());
  }
  for (const IconImage& image : images) {
    out.insert(out.end(), image.data.begin(), image.data.end());
  }
  return out;
}

// One icon image of `size` pixels, all `colour`, written by Qt.
std::vector<uint8_t> QtIconImage(int size, Rgb colour) {
  std::vector<uint8_t> ico = testing::EncodeWithQt(
      size, size, "ico", [&](int, int) { return colour; },
      [](int, int) { return 255; });
  return IconEntryData(ico, 0);
}

TEST(IconDecodeTest, LargestImageOfTheIconIsTaken) {
  DecodedImage image = DecodePictureFile(
      testing::NativeToUtf16(testing::FixturePath("icons.ico")));
  // 16, 48, 256 (stored as PNG) and 32 pixels: 256 wins.
  EXPECT_EQ(image.width, 256);
  EXPECT_EQ(image.height, 256);
  EXPECT_EQ(ColourDiff(PixelAt(image, 10, 10), GridColour(0, 0), 2), "");
  EXPECT_EQ(ColourDiff(PixelAt(image, 245, 245), GridColour(2, 1), 2), "");

  std::vector<uint8_t> built =
      MakeIcon(1, {{16, QtIconImage(16, {255, 0, 0})},
                   {32, QtIconImage(32, {0, 0, 255})},
                   {24, QtIconImage(24, {0, 255, 0})}});
  DecodedImage blue = DecodePictureBytes(built);
  EXPECT_EQ(blue.width, 32);
  EXPECT_EQ(ColourDiff(PixelAt(blue, 5, 5), {0, 0, 255}, 0), "");
}

TEST(IconDecodeTest, CursorIsReadLikeAnIcon) {
  std::vector<uint8_t> cursor =
      MakeIcon(2, {{32, QtIconImage(32, {0, 255, 0})}});
  ASSERT_EQ(decoders_internal::SniffPictureFormat(cursor), PictureFormat::kCur);
  DecodedImage image = DecodePictureBytes(cursor);
  EXPECT_EQ(image.width, 32);
  EXPECT_EQ(ColourDiff(PixelAt(image, 31, 31), {0, 255, 0}, 0), "");
}

TEST(IconDecodeTest, TransparentIconPixelsAreWhite) {
  std::vector<uint8_t> ico = testing::EncodeWithQt(
      16, 16, "ico",
      [](int, int) {
        return Rgb{0, 0, 0};
      },
      [](int x, int) { return x < 8 ? 0 : 255; });
  DecodedImage image = DecodePictureBytes(ico);
  EXPECT_EQ(ColourDiff(PixelAt(image, 2, 2), kWhite, 0), "");
  EXPECT_EQ(ColourDiff(PixelAt(image, 12, 2), {0, 0, 0}, 0), "");
}

TEST(IconDecodeTest, PngEntryWithTheGammaOfSrgbKeepsItsColours) {
  // A flat dark grey, where a 2.2 curve differs most from sRGB's.
  testing::PngSpec spec;
  spec.width = 16;
  spec.height = 16;
  spec.samples.assign(16 * 16 * 3, 20);
  struct Case {
    const char* name;
    double gamma;
    std::vector<double> chrm;
    bool as_stored;
  };
  const Case cases[] = {
      {"gAMA 45455", 0.45455, {}, true},
      {"gAMA 45455, cHRM of sRGB", 0.45455, testing::SrgbChromaticities(),
       true},
      {"gAMA 45455, cHRM of Adobe RGB", 0.45455,
       testing::AdobeRgbChromaticities(), false},
      {"gAMA 100000", 1.0, {}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    spec.gamma = c.gamma;
    spec.chrm = c.chrm;
    const Rgb grey = PixelAt(
        DecodePictureBytes(MakeIcon(1, {{16, testing::EncodePng(spec)}})), 8,
        8);
    if (c.as_stored) {
      EXPECT_EQ(ColourDiff(grey, {20, 20, 20}, 0), "");
    } else {
      EXPECT_GE(std::abs(grey.g - 20), 4) << grey.g;
    }
  }
}

TEST(IconDecodeTest, TheImageInsideTellsItsSizeWhateverTheDirectorySays) {
  // Directories written by hand or by old tools give sizes the image
  // inside does not have: larger, smaller, or 0 (256) for a small one.
  for (const int stated : {48, 16, 0, 33}) {
    SCOPED_TRACE(stated);
    const DecodedImage image = DecodePictureBytes(
        MakeIcon(1, {{stated, QtIconImage(32, {255, 0, 0})}}));
    EXPECT_EQ(image.width, 32);
    EXPECT_EQ(image.height, 32);
    EXPECT_EQ(ColourDiff(PixelAt(image, 31, 31), {255, 0, 0}, 0), "");
  }
}

TEST(IconDecodeTest, EntriesPointingOutsideTheFileAreSkipped) {
  std::vector<uint8_t> red16 = QtIconImage(16, {255, 0, 0});
  std::vector<uint8_t> blue32 = QtIconImage(32, {0, 0, 255});
  // The larger image's directory entry points past the end of the file.
  IconImage outside{32, blue32, 0x7FFFFFF0};
  std::vector<uint8_t> mixed = MakeIcon(1, {{16, red16}, outside});
  EXPECT_EQ(IconCandidates(mixed, PictureFormat::kIco), std::vector<int>{0});
  DecodedImage image = DecodePictureBytes(mixed);
  EXPECT_EQ(image.width, 16);
  EXPECT_EQ(ColourDiff(PixelAt(image, 1, 1), {255, 0, 0}, 0), "");

  EXPECT_EQ(ErrorNumberOf(MakeIcon(1, {outside})),
            platform::kErrInvalidPicture);

  // A directory that claims more entries than the file holds.
  std::vector<uint8_t> short_directory = MakeIcon(1, {{16, red16}});
  short_directory[4] = 0xFF;
  short_directory[5] = 0xFF;
  EXPECT_NO_THROW(DecodePictureBytes(short_directory));

  // An entry whose data ends past the end of the file.
  std::vector<uint8_t> cut = MakeIcon(1, {{16, red16}});
  cut.resize(cut.size() - 10);
  EXPECT_TRUE(IconCandidates(cut, PictureFormat::kIco).empty());
  EXPECT_EQ(ErrorNumberOf(cut), platform::kErrInvalidPicture);
}

// The header of an icon image stored as a bitmap (its height counts the
// mask rows too) or as a PNG file.
std::vector<uint8_t> DibHeader(int32_t width, int32_t height) {
  std::vector<uint8_t> out;
  auto put = [&](uint32_t v, int n) {
    for (int i = 0; i < n; ++i)
      out.push_back(static_cast<uint8_t>(v >> (8 * i)));
  };
  put(40, 4);
  put(static_cast<uint32_t>(width), 4);
  put(static_cast<uint32_t>(height * 2), 4);
  put(1, 2);
  put(32, 2);
  out.resize(40, 0);
  return out;
}

std::vector<uint8_t> PngHeader(uint32_t width, uint32_t height) {
  std::vector<uint8_t> out = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A,
                              0,    0,   0,   13,  'I',  'H',  'D',  'R'};
  for (uint32_t v : {width, height}) {
    for (int i = 3; i >= 0; --i)
      out.push_back(static_cast<uint8_t>(v >> (8 * i)));
  }
  out.insert(out.end(), {8, 6, 0, 0, 0, 0, 0, 0, 0});
  return out;
}

TEST(IconDecodeTest, CandidatesGoLargestThenDeepest) {
  std::vector<uint8_t> ico = MakeIcon(
      1,
      {{16, DibHeader(16, 16)},
       {48, DibHeader(48, 48)},
       {48, DibHeader(48, 48)},
       {0, PngHeader(256, 256)},        // size byte 0: 256 or more
       {0, PngHeader(100000, 100000)},  // over the limits
       {16, DibHeader(60000, -60000)},  // likewise, whatever the directory says
       {16, std::vector<uint8_t>(8, 0)}});  // no header at all
  ico[6 + 16 * 1 + 6] = 8;  // the first 48-pixel entry has 8 bits per pixel
  EXPECT_EQ(IconCandidates(ico, PictureFormat::kIco),
            (std::vector<int>{3, 2, 1, 0}));

  std::vector<uint8_t> hostile = MakeIcon(1, {{0, PngHeader(30000, 30000)}});
  EXPECT_TRUE(IconCandidates(hostile, PictureFormat::kIco).empty());
  EXPECT_EQ(ErrorNumberOf(hostile), platform::kErrInvalidPicture);
}

TEST(GifDecodeTest, FirstFrameWithTransparencyOnWhite) {
  DecodedImage image = DecodePictureFile(
      testing::NativeToUtf16(testing::FixturePath("grid_transparent.gif")));
  ASSERT_EQ(image.width, 24);
  ASSERT_EQ(image.height, 16);
  for (int by = 0; by < 2; ++by) {
    for (int bx = 0; bx < 3; ++bx) {
      // ImageMagick made the magenta block transparent.
      Rgb expected = (bx == 1 && by == 1) ? kWhite : GridColour(bx, by);
      EXPECT_EQ(ColourDiff(PixelAt(image, bx * 8 + 4, by * 8 + 4), expected, 0),
                "")
          << "block " << bx << "," << by;
    }
  }
}

// A 1 x 1 GIF: a red pixel on a 2-colour palette.
const std::vector<uint8_t> kTinyGif = {
    'G',  'I', 'F',  '8',  '9', 'a', 1, 0, 1, 0,
    0x80, 0,   0,    0xFF, 0,   0,   0, 0, 0,     // palette: red, black
    0x2C, 0,   0,    0,    0,   1,   0, 1, 0, 0,  // image descriptor
    2,    2,   0x44, 0x01, 0,                     // LZW data
    0x3B};

TEST(GifDecodeTest, OnePixelAndHostileScreenSize) {
  DecodedImage image = DecodePictureBytes(kTinyGif);
  EXPECT_EQ(image.width, 1);
  EXPECT_EQ(image.height, 1);
  EXPECT_EQ(ColourDiff(PixelAt(image, 0, 0), {255, 0, 0}, 0), "");

  std::vector<uint8_t> huge = kTinyGif;
  huge[6] = huge[7] = huge[8] = huge[9] = 0xFF;  // 65535 x 65535 screen
  EXPECT_EQ(ErrorNumberOf(huge), platform::kErrOutOfMemory);

  // A frame placed far outside a small screen: QtGui would widen the
  // picture to hold it.
  std::vector<uint8_t> far = kTinyGif;
  far[20] = far[21] = 0xFF;  // frame left 65535
  far[24] = far[25] = 0x7F;  // frame width 32639
  EXPECT_EQ(ErrorNumberOf(far), platform::kErrOutOfMemory);
  std::optional<decoders_internal::StatedSize> size =
      decoders_internal::HeaderSize(far, PictureFormat::kGif);
  ASSERT_TRUE(size.has_value());
  EXPECT_EQ(size->width, 65535 + 32639);
  EXPECT_EQ(size->height, 1);

  std::vector<uint8_t> cut(kTinyGif.begin(), kTinyGif.begin() + 12);
  EXPECT_EQ(ErrorNumberOf(cut), platform::kErrInvalidPicture);
}

TEST(PngDecodeTest, AlphaIsCompositedOnWhite) {
  std::vector<uint8_t> png = testing::EncodeWithQt(
      3, 1, "png",
      [](int, int) {
        return Rgb{0, 0, 255};
      },
      [](int x, int) { return x == 0   ? 255
                              : x == 1 ? 128
                                       : 0; });
  DecodedImage image = DecodePictureBytes(png);
  EXPECT_EQ(ColourDiff(PixelAt(image, 0, 0), {0, 0, 255}, 0), "");
  EXPECT_EQ(ColourDiff(PixelAt(image, 1, 0), {127, 127, 255}, 1), "");
  EXPECT_EQ(ColourDiff(PixelAt(image, 2, 0), kWhite, 0), "");
}

TEST(PngDecodeTest, GridSixteenBitsAndOnePixel) {
  std::vector<uint8_t> png = testing::EncodeWithQt(
      24, 16, "png", [](int x, int y) { return GridPixel(x, y, 24, 16); },
      [](int, int) { return 255; });
  ExpectExactGrid(DecodePictureBytes(png));

  QImage deep(4, 4, QImage::Format_RGBA64);
  deep.fill(QColor::fromRgba64(0xFFFF, 0x8080, 0x0000, 0xFFFF));
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  ASSERT_TRUE(QImageWriter(&buffer, "png").write(deep));
  DecodedImage image =
      DecodePictureBytes(std::vector<uint8_t>(bytes.begin(), bytes.end()));
  EXPECT_EQ(ColourDiff(PixelAt(image, 2, 2), {255, 128, 0}, 1), "");

  std::vector<uint8_t> one = testing::EncodeWithQt(
      1, 1, "png",
      [](int, int) {
        return Rgb{1, 2, 3};
      },
      [](int, int) { return 255; });
  DecodedImage pixel = DecodePictureBytes(one);
  EXPECT_EQ(pixel.width, 1);
  EXPECT_EQ(ColourDiff(PixelAt(pixel, 0, 0), {1, 2, 3}, 0), "");
}

TEST(PngDecodeTest, EmbeddedProfileIsConvertedToSrgb) {
  QImage image(8, 8, QImage::Format_RGB32);
  image.fill(qRgb(128, 128, 128));
  image.setColorSpace(QColorSpace(QColorSpace::Primaries::SRgb,
                                  QColorSpace::TransferFunction::Linear));
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  ASSERT_TRUE(QImageWriter(&buffer, "png").write(image));
  DecodedImage decoded =
      DecodePictureBytes(std::vector<uint8_t>(bytes.begin(), bytes.end()));
  EXPECT_EQ(ColourDiff(PixelAt(decoded, 4, 4), {188, 188, 188}, 3), "");
}

// The CRC-32 of PNG chunks.
uint32_t Crc32(std::span<const uint8_t> bytes) {
  uint32_t crc = 0xFFFFFFFF;
  for (uint8_t b : bytes) {
    crc ^= b;
    for (int k = 0; k < 8; ++k)
      crc = (crc >> 1) ^ (0xEDB88320 & (0 - (crc & 1)));
  }
  return ~crc;
}

TEST(PngDecodeTest, DamagedAndHostileFiles) {
  std::vector<uint8_t> png = testing::EncodeWithQt(
      64, 64, "png",
      [](int x, int y) {
        return Rgb{x * 4, y * 4, (x ^ y) * 4};
      },
      [](int, int) { return 255; });
  // IHDR width and height live at bytes 16 to 23, its CRC at 29 to 32.
  std::vector<uint8_t> huge = png;
  const uint8_t k100000[4] = {0x00, 0x01, 0x86, 0xA0};
  std::copy(k100000, k100000 + 4, huge.begin() + 16);
  std::copy(k100000, k100000 + 4, huge.begin() + 20);
  uint32_t crc = Crc32(std::span(huge).subspan(12, 17));
  for (int i = 0; i < 4; ++i)
    huge[29 + static_cast<size_t>(i)] =
        static_cast<uint8_t>(crc >> (24 - 8 * i));
  EXPECT_EQ(ErrorNumberOf(huge), platform::kErrOutOfMemory);

  std::vector<uint8_t> header_only(png.begin(), png.begin() + 33);
  EXPECT_EQ(ErrorNumberOf(header_only), platform::kErrInvalidPicture);
}

TEST(PngDecodeTest, ChunkLongerThanTheFileIsRefusedBeforeQtReadsIt) {
  std::vector<uint8_t> png = testing::EncodeWithQt(
      8, 8, "png",
      [](int, int) {
        return Rgb{9, 9, 9};
      },
      [](int, int) { return 255; });
  EXPECT_TRUE(decoders_internal::PngChunksFit(png));
  std::vector<uint8_t> trailing = png;
  trailing.insert(trailing.end(), {1, 2, 3});  // after the end chunk: harmless
  EXPECT_TRUE(decoders_internal::PngChunksFit(trailing));
  EXPECT_EQ(ErrorNumberOf(trailing), 0);

  // A text chunk before the end chunk that claims a gigabyte.
  std::vector<uint8_t> text = {0x40, 0, 0, 0, 't', 'E', 'X', 't', 'k', 0, 'v'};
  std::vector<uint8_t> hostile(png.begin(), png.end() - 12);
  hostile.insert(hostile.end(), text.begin(), text.end());
  hostile.insert(hostile.end(), png.end() - 12, png.end());
  EXPECT_FALSE(decoders_internal::PngChunksFit(hostile));
  EXPECT_EQ(ErrorNumberOf(hostile), platform::kErrInvalidPicture);
  // Likewise a PNG image inside an icon.
  std::vector<uint8_t> ico = MakeIcon(1, {{8, hostile}});
  EXPECT_TRUE(IconCandidates(ico, PictureFormat::kIco).empty());

  std::vector<uint8_t> cut(png.begin(), png.end() - 20);
  EXPECT_FALSE(decoders_internal::PngChunksFit(cut));
}

TEST(QtDecodeTest, SeveralThreadsAtOnceGiveTheSamePixels) {
  std::vector<std::vector<uint8_t>> files = {
      testing::EncodeWithQt(
          24, 16, "png", [](int x, int y) { return GridPixel(x, y, 24, 16); },
          [](int x, int) { return x * 10; }),
      testing::ReadFileBytes(testing::FixturePath("grid_transparent.gif")),
      testing::ReadFileBytes(testing::FixturePath("grid_rle8.bmp")),
      testing::ReadFileBytes(testing::FixturePath("icons.ico")),
  };
  std::vector<std::vector<uint8_t>> expected;
  for (const auto& file : files)
    expected.push_back(DecodePictureBytes(file).bgrx);
  std::vector<int> mismatches(4, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < 10; ++round) {
        size_t which = static_cast<size_t>(t + round) % files.size();
        if (DecodePictureBytes(files[which]).bgrx != expected[which]) {
          ++mismatches[static_cast<size_t>(t)];
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(mismatches, std::vector<int>(4, 0));
}

// Issue 24: the Qt path held full-size copies outside the shared budget.
TEST(QtDecodeTest, LargePictureIsReducedForTheHint) {
  // The grid at 10 times its size: blocks of 80 x 80 pixels.
  std::vector<uint8_t> png = testing::EncodeWithQt(
      240, 160, "png", [](int x, int y) { return GridPixel(x, y, 240, 160); },
      [](int, int) { return 255; });
  // Room for 60 pixels (3/2 times 40) across: reduced by 4.
  DecodedImage image = DecodePictureBytes(png, {40, 0});
  EXPECT_EQ(image.width, 240);
  EXPECT_EQ(image.height, 160);
  ASSERT_EQ(image.pixel_width, 60);
  ASSERT_EQ(image.pixel_height, 40);
  ASSERT_EQ(image.bgrx.size(), 60u * 40u * 4u);
  for (int y = 0; y < 40; ++y) {
    for (int x = 0; x < 60; ++x) {
      ASSERT_EQ(ColourDiff(PixelAt(image, x, y), GridPixel(x, y, 60, 40), 0),
                "")
          << "at " << x << "," << y;
    }
  }
  // A side that does not divide: the last block is the mean of what it has.
  BmpSpec spec = BmpOf(9, 1);
  spec.pixel_data.assign(9 * 3 + 1, 0);
  std::fill(spec.pixel_data.begin() + 24, spec.pixel_data.begin() + 27, 200);
  // 3/2 x 2 is 3 pixels: blocks of 3.
  image = DecodePictureBytes(testing::MakeBmp(spec), {2, 0});
  ASSERT_EQ(image.pixel_width, 3);
  EXPECT_EQ(ColourDiff(PixelAt(image, 2, 0), {67, 67, 67}, 0), "");
  // No hint, or a hint whose margin fits less than twice in the picture:
  // full size.
  EXPECT_EQ(DecodePictureBytes(png).pixel_width, 240);
  EXPECT_EQ(DecodePictureBytes(png, {100, 0}).pixel_width, 240);
}

TEST(QtDecodeTest, DecodeWaitsForTheSharedBudget) {
  using decoders_internal::DecodeBudget;
  using decoders_internal::SharedDecodeBudget;
  const std::vector<std::vector<uint8_t>> files = {
      testing::ReadFileBytes(testing::FixturePath("grid_rle8.bmp")),
      testing::ReadFileBytes(testing::FixturePath("grid_transparent.gif")),
      testing::ReadFileBytes(testing::FixturePath("icons.ico")),
      testing::EncodeWithQt(
          24, 16, "png", [](int x, int y) { return GridPixel(x, y, 24, 16); },
          [](int, int) { return 255; }),
  };
  for (const auto& file : files) {
    DecodeBudget::Lease all =
        SharedDecodeBudget().Take(decoders_internal::kSharedDecodeBudgetBytes);
    std::future<DecodedImage> decode = std::async(
        std::launch::async, [&file] { return DecodePictureBytes(file); });
    // It must wait while the whole budget is held elsewhere...
    EXPECT_EQ(decode.wait_for(std::chrono::milliseconds(300)),
              std::future_status::timeout);
    all.Release();
    // ...and go ahead once it is given back, holding nothing after.
    EXPECT_GT(decode.get().pixel_width, 0);
    EXPECT_EQ(SharedDecodeBudget().held(), 0);
  }
}

}  // namespace
}  // namespace vg::decoders
