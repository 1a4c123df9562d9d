// PNG: every layout and filter against QtGui's reader of the same file, rows
// inflated whole and a block at a time, the file streamed from disk, and
// damage.
#include <gtest/gtest.h>
#include <png.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "decoders/decode_picture.h"
#include "decoders/internal/decode_budget.h"
#include "decoders/internal/picture_format.h"
#include "decoders/internal/png_decoder.h"
#include "decoders/internal/png_rows.h"
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
  primaries.chrm = testing::AdobeRgbChromaticities();
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
          png, decoders_internal::PictureFormat::kPng, hint,
          decoders_internal::SharedDecodeBudget());
      EXPECT_LE(MaxDifference(ours, by_qt), c.tolerance)
          << "hint " << hint.target_width_px;
    }
  }
}

// A 67 x 300 picture of random samples, which keeps every filter busy, in
// more than one block of rows.
PngSpec Noise(int color_type, int bit_depth, int channels) {
  PngSpec spec;
  spec.width = 67;
  spec.height = 300;
  spec.color_type = color_type;
  spec.bit_depth = bit_depth;
  std::mt19937 random(static_cast<unsigned>(color_type * 17 + bit_depth));
  std::uniform_int_distribution<int> sample(0, (1 << bit_depth) - 1);
  spec.samples.resize(size_t{67} * 300 * static_cast<size_t>(channels));
  for (uint16_t& v : spec.samples) v = static_cast<uint16_t>(sample(random));
  if (color_type == 3) {
    for (int i = 0; i < (1 << bit_depth); ++i) {
      spec.palette.push_back({i * 53 % 256, i * 19 % 256, 255 - i});
    }
    spec.palette_alpha = {0, 90, 255, 7};
  }
  return spec;
}

// Rows inflated whole (by libdeflate) and a block at a time (by zlib) are
// the same rows.
DecodedImage DecodeBothWays(const std::vector<uint8_t>& png) {
  decoders_internal::DecodeBudget& budget =
      decoders_internal::SharedDecodeBudget();
  DecodedImage whole = decoders_internal::DecodePng(png, {}, budget);
  EXPECT_EQ(whole.bgrx, decoders_internal::DecodePng(png, {}, budget, 0).bgrx);
  return whole;
}

TEST(PngDecodeTest, EachFilterIsUndoneAsTheFormatDefinesIt) {
  // Pixels of 1 to 4 and 6 bytes, rows of 1 to 40 pixels (whole blocks of
  // 15 and 16 bytes and the rest), against the filters as written out in
  // the format's definition.
  const auto reference = [](uint8_t type, std::vector<uint8_t> row,
                            const std::vector<uint8_t>& prior, size_t bpp) {
    for (size_t i = 0; i < row.size(); ++i) {
      const int a = i >= bpp ? row[i - bpp] : 0;
      const int b = prior[i];
      const int c = i >= bpp ? prior[i - bpp] : 0;
      const int p = a + b - c;
      const int pa = std::abs(p - a);
      const int pb = std::abs(p - b);
      const int pc = std::abs(p - c);
      const int paeth = pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
      const int predictor[] = {0, a, b, (a + b) / 2, paeth};
      row[i] = static_cast<uint8_t>(row[i] + predictor[type]);
    }
    return row;
  };
  std::mt19937 random(11);
  for (size_t bpp : {1, 2, 3, 4, 6}) {
    for (size_t pixels = 1; pixels <= 40; ++pixels) {
      std::vector<uint8_t> prior(pixels * bpp);
      std::vector<uint8_t> row(pixels * bpp);
      for (uint8_t type = 0; type <= 4; ++type) {
        for (uint8_t& v : prior) v = static_cast<uint8_t>(random());
        for (uint8_t& v : row) v = static_cast<uint8_t>(random());
        const std::vector<uint8_t> expected = reference(type, row, prior, bpp);
        ASSERT_TRUE(decoders_internal::UnfilterPngRow(
            type, row.data(), prior.data(), row.size(), static_cast<int>(bpp)));
        EXPECT_EQ(row, expected)
            << bpp << " bytes, " << pixels << " pixels, type " << int{type};
      }
    }
  }
}

TEST(PngDecodeTest, TwoRowsAreUndoneAsOneAfterTheOther) {
  // Every pair of filter types, pixels of 1 to 4 and 6 bytes, rows of one,
  // two, three and 37 pixels: what two rows undone together give, against
  // the rows undone one at a time.
  std::mt19937 random(7);
  for (int bpp : {1, 2, 3, 4, 6}) {
    for (size_t pixels : {1, 2, 3, 37}) {
      const size_t length = pixels * static_cast<size_t>(bpp);
      std::vector<uint8_t> prior(length);
      std::vector<uint8_t> rows(2 * length);
      for (uint8_t top_type = 0; top_type <= 4; ++top_type) {
        for (uint8_t bottom_type = 0; bottom_type <= 4; ++bottom_type) {
          for (uint8_t& v : prior) v = static_cast<uint8_t>(random());
          for (uint8_t& v : rows) v = static_cast<uint8_t>(random());
          std::vector<uint8_t> one_by_one = rows;
          ASSERT_TRUE(decoders_internal::UnfilterPngRow(
              top_type, one_by_one.data(), prior.data(), length, bpp));
          ASSERT_TRUE(decoders_internal::UnfilterPngRow(
              bottom_type, one_by_one.data() + length, one_by_one.data(),
              length, bpp));
          ASSERT_TRUE(decoders_internal::UnfilterPngRows(
              top_type, rows.data(), bottom_type, rows.data() + length,
              prior.data(), length, bpp));
          EXPECT_EQ(rows, one_by_one)
              << bpp << " bytes, " << pixels << " pixels, types "
              << int{top_type} << " " << int{bottom_type};
        }
      }
    }
  }
  std::vector<uint8_t> two_rows(8);
  const std::vector<uint8_t> above(4);
  EXPECT_FALSE(decoders_internal::UnfilterPngRows(
      4, two_rows.data(), 5, two_rows.data() + 4, above.data(), 4, 4));
}

TEST(PngDecodeTest, EveryFilterOfEveryPixelSizeIsUndoneAsQtGuiUndoesIt) {
  struct Layout {
    const char* name;
    int color_type;
    int bit_depth;
    int channels;
    bool key;
  };
  const Layout layouts[] = {
      {"grey 8", 0, 8, 1, false},
      {"grey 2 with a key", 0, 2, 1, true},
      {"grey alpha 8", 4, 8, 2, false},
      {"RGB 8", 2, 8, 3, false},
      {"RGB 8 with a key", 2, 8, 3, true},
      {"RGBA 8", 6, 8, 4, false},
      {"palette 4", 3, 4, 1, false},
      {"RGBA 16", 6, 16, 4, false},
      {"grey 16 with a key", 0, 16, 1, true},
      {"grey alpha 16", 4, 16, 2, false},
      {"RGB 16 with a key", 2, 16, 3, true},
  };
  const int filters[] = {PNG_FILTER_NONE, PNG_FILTER_SUB,   PNG_FILTER_UP,
                         PNG_FILTER_AVG,  PNG_FILTER_PAETH, PNG_ALL_FILTERS};
  for (const Layout& layout : layouts) {
    for (int filter : filters) {
      SCOPED_TRACE(std::string(layout.name) + ", filters " +
                   std::to_string(filter));
      PngSpec spec =
          Noise(layout.color_type, layout.bit_depth, layout.channels);
      spec.filters = filter;
      // Every other file in IDAT chunks of 97 bytes.
      spec.idat_bytes = filter % 16 == 0 ? 97 : 0;
      if (layout.key) {
        spec.transparent.assign(spec.samples.begin(),
                                spec.samples.begin() + layout.channels);
      }
      const std::vector<uint8_t> png = testing::EncodePng(spec);
      const DecodedImage by_qt = decoders_internal::DecodeWithQt(
          png, decoders_internal::PictureFormat::kPng, {},
          decoders_internal::SharedDecodeBudget());
      // 16-bit samples rounded to 8 by both, by different arithmetic.
      const DecodedImage ours = DecodeBothWays(png);
      // QtGui 6.4 reads a 16-bit RGB picture with a transparent colour
      // into colours of nothing like it: libpng alone is the reference.
      if (layout.bit_depth != 16 || !layout.key || layout.channels != 3) {
        EXPECT_LE(MaxDifference(ours, by_qt), layout.bit_depth == 16 ? 1 : 0);
      }
      // Interlaced, the same picture is read by libpng, to the same pixels.
      spec.interlaced = true;
      EXPECT_EQ(
          MaxDifference(ours, DecodePictureBytes(testing::EncodePng(spec))), 0);
    }
  }
}

// Damage found only once the rows are inflated, whichever way they are.
TEST(PngDecodeTest, RowsThatDoNotMatchTheHeaderAreRefusedOrCut) {
  PngSpec spec = Noise(6, 8, 4);
  spec.compression_level = 0;  // stored: the rows' bytes lie in the file
  const std::vector<uint8_t> png = testing::EncodePng(spec);
  const std::string idat = "IDAT";
  const size_t data_at = static_cast<size_t>(
      std::search(png.begin(), png.end(), idat.begin(), idat.end()) -
      png.begin() + 4);
  // IHDR's height (its CRC is not read), and the first row's filter type
  // after the zlib header and the stored block's header.
  auto with_height = [&](int height) {
    std::vector<uint8_t> bytes = png;
    bytes[22] = static_cast<uint8_t>(height >> 8);
    bytes[23] = static_cast<uint8_t>(height);
    return bytes;
  };
  std::vector<uint8_t> filter_5 = png;
  filter_5[data_at + 2 + 5] = 5;
  struct Case {
    const char* name;
    std::vector<uint8_t> png;
    const char* reason;  // "" when it decodes
  };
  const Case cases[] = {
      {"a filter type of 5", filter_5, "PNG: bad adaptive filter value"},
      {"a row fewer than the data holds", with_height(299), ""},
      {"a row more", with_height(301), "PNG: Not enough image data"},
  };
  const DecodedImage by_qt = decoders_internal::DecodeWithQt(
      png, decoders_internal::PictureFormat::kPng, {},
      decoders_internal::SharedDecodeBudget());
  for (const Case& c : cases) {
    for (size_t whole : {decoders_internal::kPngWholeInflateBytes, size_t{0}}) {
      SCOPED_TRACE(std::string(c.name) + (whole > 0 ? ", whole" : ", blocks"));
      try {
        const DecodedImage image = decoders_internal::DecodePng(
            c.png, {}, decoders_internal::SharedDecodeBudget(), whole);
        EXPECT_STREQ(c.reason, "");
        // The rows the header counts, the rest of the data left unread.
        ASSERT_EQ(image.height, 299);
        EXPECT_TRUE(std::equal(image.bgrx.begin(), image.bgrx.end(),
                               by_qt.bgrx.begin()));
      } catch (const platform::Error& e) {
        EXPECT_EQ(e.number(), platform::kErrInvalidPicture);
        EXPECT_EQ(e.description().find(c.reason) != std::string::npos &&
                      c.reason[0] != 0,
                  true)
            << e.description();
      }
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
  // Pixel data that does not inflate is refused, though its checksums are
  // not read: the deflate blocks after the zlib header made invalid.
  std::vector<uint8_t> garbled = png;
  const std::string idat = "IDAT";
  const auto at =
      std::search(garbled.begin(), garbled.end(), idat.begin(), idat.end()) -
      garbled.begin();
  std::fill_n(garbled.begin() + at + 6, 8, uint8_t{0xFF});
  try {
    DecodePictureBytes(garbled);
    ADD_FAILURE() << "pixel data that does not inflate decoded";
  } catch (const platform::Error& e) {
    EXPECT_EQ(e.number(), platform::kErrInvalidPicture);
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

// Three flat 8 x 8 blocks side by side: a dark grey, a mid grey and an
// orange (grey levels 20, 128 and 200 in a grey picture).
PngSpec FlatBlocks(int color_type) {
  const Rgb blocks[] = {{20, 20, 20}, {128, 128, 128}, {200, 100, 50}};
  PngSpec spec;
  spec.width = 24;
  spec.height = 8;
  spec.color_type = color_type;
  for (int y = 0; y < spec.height; ++y) {
    for (int x = 0; x < spec.width; ++x) {
      const Rgb& c = blocks[x / 8];
      if (color_type == 0) {
        spec.samples.push_back(static_cast<uint16_t>(c.r));
      } else {
        for (int v : {c.r, c.g, c.b}) {
          spec.samples.push_back(static_cast<uint16_t>(v));
        }
      }
    }
  }
  return spec;
}

TEST(PngDecodeTest, GammaAndPrimariesOfSrgbLeaveColoursAsStored) {
  const std::vector<double> srgb = testing::SrgbChromaticities();
  // sRGB's with red's x moved by `units` of 1/100000.
  auto red_moved = [&](int units) {
    std::vector<double> xy = srgb;
    xy[2] += units / 100000.0;
    return xy;
  };
  struct Case {
    const char* name;
    double gamma;
    std::vector<double> chrm;
    int color_type;
    bool srgb_chunk;
    bool as_stored;
  };
  const Case cases[] = {
      {"gAMA 45455, cHRM of sRGB", 0.45455, srgb, 2, false, true},
      {"gAMA 45455 alone", 0.45455, {}, 2, false, true},
      {"gAMA 45455 alone, grey", 0.45455, {}, 0, false, true},
      {"gAMA 45000", 0.45, {}, 2, false, true},
      // libpng's bounds: gAMA / 45455, rounded, within 0.95 to 1.05.
      {"gAMA 43183", 0.43183, {}, 2, false, true},
      {"gAMA 47727", 0.47727, {}, 2, false, true},
      {"gAMA 43182", 0.43182, {}, 2, false, false},
      {"gAMA 47728", 0.47728, {}, 2, false, false},
      {"cHRM 100 off sRGB's", 0.45455, red_moved(100), 2, false, true},
      {"cHRM 101 off sRGB's", 0.45455, red_moved(101), 2, false, false},
      {"sRGB chunk, gAMA 100000", 1.0, {}, 2, true, true},
      {"sRGB chunk, cHRM of Adobe RGB", 1.0, testing::AdobeRgbChromaticities(),
       2, true, true},
      {"gAMA 100000 alone", 1.0, {}, 2, false, false},
      {"gAMA 100000 alone, grey", 1.0, {}, 0, false, false},
      {"gAMA 45455, cHRM of Adobe RGB", 0.45455,
       testing::AdobeRgbChromaticities(), 2, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PngSpec spec = FlatBlocks(c.color_type);
    spec.gamma = c.gamma;
    spec.chrm = c.chrm;
    spec.srgb_chunk = c.srgb_chunk;
    const DecodedImage image = DecodePictureBytes(testing::EncodePng(spec));
    const Rgb dark = testing::PixelAt(image, 4, 4);
    if (c.as_stored) {
      EXPECT_EQ(testing::ColourDiff(dark, {20, 20, 20}, 0), "");
      EXPECT_EQ(testing::ColourDiff(testing::PixelAt(image, 12, 4),
                                    {128, 128, 128}, 0),
                "");
      const Rgb last =
          c.color_type == 0 ? Rgb{200, 200, 200} : Rgb{200, 100, 50};
      EXPECT_EQ(testing::ColourDiff(testing::PixelAt(image, 20, 4), last, 0),
                "");
    } else {
      // Any other curve moves the shadows: 20 is 12 under a pure 2.2
      // curve, 15 under 2.09, 79 under a linear one.
      EXPECT_GE(std::abs(dark.g - 20), 4) << dark.g;
    }
  }
}

// An embedded profile beats gAMA (here a linear one, which alone would
// lighten every shadow); one that describes sRGB leaves the colours exactly
// as stored, whichever way it holds sRGB's curve.
TEST(PngDecodeTest, ProfilesOfSrgbLeaveColoursAsStoredWhateverTheGamma) {
  const std::vector<double> srgb = testing::SrgbChromaticities();
  struct Case {
    const char* name;
    std::vector<uint8_t> icc;
    int color_type;
    bool as_stored;
  };
  const Case cases[] = {
      {"sRGB, curve as a formula", testing::SrgbCurveProfile(srgb, false), 2,
       true},
      {"sRGB, curve as a table", testing::SrgbCurveProfile(srgb, true), 2,
       true},
      {"grey, sRGB's curve", testing::SrgbCurveProfile({}, true), 0, true},
      {"Adobe RGB's primaries, sRGB's curve",
       testing::SrgbCurveProfile(testing::AdobeRgbChromaticities(), false), 2,
       false},
      {"sRGB's primaries, linear", testing::LinearRgbProfile(), 2, false},
      {"grey, linear", testing::LinearGreyProfile(), 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PngSpec spec = FlatBlocks(c.color_type);
    spec.icc = c.icc;
    spec.gamma = 1.0;
    const DecodedImage image = DecodePictureBytes(testing::EncodePng(spec));
    const Rgb last = c.color_type == 0 ? Rgb{200, 200, 200} : Rgb{200, 100, 50};
    const Rgb stored[] = {{20, 20, 20}, {128, 128, 128}, last};
    int moved = 0;
    for (int block = 0; block < 3; ++block) {
      const Rgb got = testing::PixelAt(image, block * 8 + 4, 4);
      moved = std::max({moved, std::abs(got.r - stored[block].r),
                        std::abs(got.g - stored[block].g),
                        std::abs(got.b - stored[block].b)});
    }
    if (c.as_stored) {
      EXPECT_EQ(moved, 0);
    } else {
      EXPECT_GE(moved, 4);
    }
  }
}

}  // namespace
}  // namespace vg::decoders
