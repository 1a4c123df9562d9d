// TIFF samples that libtiff's RGBA interface does not read: 12-bit integers
// and floating point of 16, 32 and 64 bits, written here with libtiff in
// every layout (strips and tiles, contiguous and separate planes, both byte
// orders, LZW and deflate, the floating-point predictor), each sample of a
// known value whose 8-bit rounding must come back exactly.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "decoders/decode_picture.h"
#include "picture_testutil.h"
#include "platform/error.h"

namespace vg::decoders {
namespace {

using testing::PixelAt;
using testing::Rgb;
using testing::TempFolder;

constexpr int kWidth = 21;
constexpr int kHeight = 13;

enum class Kind { kUint12, kFloat16, kFloat32, kFloat64 };

struct TiffCase {
  const char* name;
  Kind kind;
  uint16_t photometric;  // PHOTOMETRIC_MINISBLACK, _MINISWHITE or _RGB
  bool alpha;            // an unassociated alpha sample after the colours
  bool separate;         // one plane a sample
  bool tiled;            // 16 x 16 tiles, else strips of 5 rows
  uint16_t compression;
  uint16_t predictor;
  bool big_endian;
};

int Colours(const TiffCase& c) {
  return c.photometric == PHOTOMETRIC_RGB ? 3 : 1;
}

// A 12-bit sample of pixel (x, y): every value the scaling rounds up
// and down.
int Stored12(int x, int y, int s) {
  return (x * 173 + y * 311 + s * 997) % 4096;
}

// A floating-point sample's 8-bit value.
int Float8(int x, int y, int s) { return (x * 13 + y * 7 + s * 50) % 256; }

// The value written for sample `s` of pixel (x, y): 0 to 4095, or 0.0 to
// 1.0. The first floating-point pixels hold what must be clamped: below 0,
// above 1, NaN.
double Stored(const TiffCase& c, int x, int y, int s) {
  if (c.kind == Kind::kUint12) return Stored12(x, y, s);
  if (y == 0 && s < Colours(c)) {
    if (x == 0) return -0.5;
    if (x == 1) return 3.0;
    if (x == 2) return std::numeric_limits<double>::quiet_NaN();
  }
  return Float8(x, y, s) / 255.0;
}

// The 8-bit value it must decode to.
int Expected(const TiffCase& c, int x, int y, int s) {
  if (c.kind == Kind::kUint12) {
    return static_cast<int>(std::lround(Stored12(x, y, s) * 255.0 / 4095));
  }
  if (y == 0 && s < Colours(c) && x < 3) return x == 1 ? 255 : 0;
  return Float8(x, y, s);
}

uint16_t ToHalf(float value) {
  uint32_t bits = 0;
  std::memcpy(&bits, &value, 4);
  const auto sign = static_cast<uint16_t>(bits >> 16 & 0x8000);
  if (std::isnan(value)) return 0x7E00;
  if (value == 0) return sign;
  const int exponent = static_cast<int>(bits >> 23 & 0xFF) - 127 + 15;
  // Only normal numbers are written here; rounded to nearest.
  const uint32_t mantissa = (bits & 0x7FFFFF) + 0x1000;
  return static_cast<uint16_t>(sign | ((exponent << 10) + (mantissa >> 13)));
}

// Appends `values` as the samples of one row of a strip or tile.
void PackRow(Kind kind, const std::vector<double>& values,
             std::vector<uint8_t>* out) {
  const auto append = [&](const void* p, size_t n) {
    const auto* b = static_cast<const uint8_t*>(p);
    out->insert(out->end(), b, b + n);
  };
  if (kind == Kind::kUint12) {
    // Two samples in three bytes, high bits first; the row ends on a byte.
    for (size_t i = 0; i < values.size(); i += 2) {
      const auto a = static_cast<uint32_t>(values[i]);
      const auto b =
          i + 1 < values.size() ? static_cast<uint32_t>(values[i + 1]) : 0;
      out->push_back(static_cast<uint8_t>(a >> 4));
      out->push_back(static_cast<uint8_t>((a & 0x0F) << 4 | b >> 8));
      if (i + 1 < values.size()) out->push_back(static_cast<uint8_t>(b));
    }
    return;
  }
  for (double v : values) {
    if (kind == Kind::kFloat16) {
      const uint16_t h = ToHalf(static_cast<float>(v));
      append(&h, 2);
    } else if (kind == Kind::kFloat32) {
      const auto f = static_cast<float>(v);
      append(&f, 4);
    } else {
      append(&v, 8);
    }
  }
}

std::vector<uint8_t> WriteTiff(const TiffCase& c) {
  TempFolder folder;
  const std::filesystem::path path = folder.path() / "samples.tif";
  TIFF* tiff = TIFFOpen(path.c_str(), c.big_endian ? "wb" : "wl");
  EXPECT_NE(tiff, nullptr);
  if (tiff == nullptr) return {};
  const int colours = Colours(c);
  const auto samples = static_cast<uint16_t>(colours + (c.alpha ? 1 : 0));
  const uint16_t bits = c.kind == Kind::kUint12    ? 12
                        : c.kind == Kind::kFloat16 ? 16
                        : c.kind == Kind::kFloat32 ? 32
                                                   : 64;
  TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, uint32_t{kWidth});
  TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, uint32_t{kHeight});
  TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, bits);
  TIFFSetField(
      tiff, TIFFTAG_SAMPLEFORMAT,
      c.kind == Kind::kUint12 ? SAMPLEFORMAT_UINT : SAMPLEFORMAT_IEEEFP);
  TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, samples);
  TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, c.photometric);
  TIFFSetField(tiff, TIFFTAG_PLANARCONFIG,
               c.separate ? PLANARCONFIG_SEPARATE : PLANARCONFIG_CONTIG);
  TIFFSetField(tiff, TIFFTAG_COMPRESSION, c.compression);
  if (c.predictor != 0) TIFFSetField(tiff, TIFFTAG_PREDICTOR, c.predictor);
  if (c.alpha) {
    const uint16_t extra[1] = {EXTRASAMPLE_UNASSALPHA};
    TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, 1, extra);
  }
  const int block_w = c.tiled ? 16 : kWidth;
  const int block_h = c.tiled ? 16 : 5;
  if (c.tiled) {
    TIFFSetField(tiff, TIFFTAG_TILEWIDTH, uint32_t{16});
    TIFFSetField(tiff, TIFFTAG_TILELENGTH, uint32_t{16});
  } else {
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, uint32_t{5});
  }
  // Each block (strip or tile) of each plane, in libtiff's numbering.
  const int planes = c.separate ? samples : 1;
  for (int plane = 0; plane < planes; ++plane) {
    for (int top = 0; top < kHeight; top += block_h) {
      for (int left = 0; left < kWidth; left += block_w) {
        std::vector<uint8_t> block;
        const int rows = c.tiled ? block_h : std::min(block_h, kHeight - top);
        for (int y = top; y < top + rows; ++y) {
          std::vector<double> values;
          for (int x = left; x < left + block_w; ++x) {
            for (int s = 0; s < samples; ++s) {
              if (c.separate && s != plane) continue;
              // A tile's part past the picture holds zeros.
              values.push_back(x < kWidth && y < kHeight ? Stored(c, x, y, s)
                                                         : 0.0);
            }
          }
          PackRow(c.kind, values, &block);
        }
        const auto size = static_cast<tmsize_t>(block.size());
        const tmsize_t written =
            c.tiled ? TIFFWriteEncodedTile(
                          tiff,
                          TIFFComputeTile(tiff, static_cast<uint32_t>(left),
                                          static_cast<uint32_t>(top), 0,
                                          static_cast<uint16_t>(plane)),
                          block.data(), size)
                    : TIFFWriteEncodedStrip(
                          tiff,
                          TIFFComputeStrip(tiff, static_cast<uint32_t>(top),
                                           static_cast<uint16_t>(plane)),
                          block.data(), size);
        EXPECT_EQ(written, size);
      }
    }
  }
  TIFFClose(tiff);
  return testing::ReadFileBytes(path);
}

TEST(TiffSamplesTest, TwelveBitAndFloatingPointInEveryLayout) {
  constexpr uint16_t kGrey = PHOTOMETRIC_MINISBLACK;
  constexpr uint16_t kRgb = PHOTOMETRIC_RGB;
  constexpr uint16_t kLzw = COMPRESSION_LZW;
  constexpr uint16_t kDeflate = COMPRESSION_ADOBE_DEFLATE;
  constexpr uint16_t kNone = COMPRESSION_NONE;
  constexpr uint16_t kFp = PREDICTOR_FLOATINGPOINT;
  const TiffCase kCases[] = {
      {"12-bit grey", Kind::kUint12, kGrey, false, false, false, kNone, 0,
       false},
      {"12-bit white is 0", Kind::kUint12, PHOTOMETRIC_MINISWHITE, false, false,
       false, kLzw, 0, true},
      {"12-bit RGB tiled", Kind::kUint12, kRgb, false, false, true, kLzw, 0,
       false},
      {"12-bit RGB planes", Kind::kUint12, kRgb, false, true, false, kNone, 0,
       true},
      {"half RGB predictor 3", Kind::kFloat16, kRgb, false, false, false,
       kDeflate, kFp, false},
      {"half grey big-endian", Kind::kFloat16, kGrey, false, false, true, kNone,
       0, true},
      {"float grey predictor 3 tiled", Kind::kFloat32, kGrey, false, false,
       true, kLzw, kFp, false},
      {"float RGB predictor 3 planes", Kind::kFloat32, kRgb, false, true, false,
       kDeflate, kFp, false},
      {"float RGBA planes", Kind::kFloat32, kRgb, true, true, false, kLzw, 0,
       false},
      {"double RGB predictor 3", Kind::kFloat64, kRgb, false, false, false,
       kDeflate, kFp, false},
      {"double grey-alpha tiled big-endian", Kind::kFloat64, kGrey, true, false,
       true, kNone, 0, true},
  };
  for (const TiffCase& c : kCases) {
    SCOPED_TRACE(c.name);
    const std::vector<uint8_t> bytes = WriteTiff(c);
    ASSERT_FALSE(bytes.empty());
    for (const bool keep_alpha : {false, true}) {
      DecodeHint hint;
      hint.keep_alpha = keep_alpha;
      DecodedImage image = DecodePictureBytes(bytes, hint);
      ASSERT_EQ(image.pixel_width, kWidth);
      ASSERT_EQ(image.pixel_height, kHeight);
      const int colours = Colours(c);
      int wrong = 0;
      for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
          int want[3];
          for (int s = 0; s < 3; ++s) {
            want[s] = Expected(c, x, y, colours == 3 ? s : 0);
            if (c.photometric == PHOTOMETRIC_MINISWHITE) {
              want[s] = 255 - want[s];
            }
          }
          const int alpha = c.alpha ? Expected(c, x, y, colours) : 255;
          int tolerance = 0;
          if (alpha != 255 && !keep_alpha) {
            // Composited on white.
            for (int& w : want) w = (w * alpha + 255 * (255 - alpha)) / 255;
            tolerance = 2;
          }
          if (alpha == 0 && keep_alpha) {
            for (int& w : want) w = 0;
          } else if (alpha != 255 && keep_alpha) {
            // Straight again after the premultiplied packing.
            tolerance = 255 / alpha + 1;
          }
          const Rgb got = PixelAt(image, x, y);
          const int got_alpha = testing::AlphaAt(image, x, y);
          const bool ok = std::abs(got.r - want[0]) <= tolerance &&
                          std::abs(got.g - want[1]) <= tolerance &&
                          std::abs(got.b - want[2]) <= tolerance &&
                          (keep_alpha ? got_alpha == alpha : got_alpha == 255);
          if (!ok && ++wrong <= 3) {
            ADD_FAILURE() << "keep_alpha " << keep_alpha << " at " << x << ","
                          << y << ": " << got.r << " " << got.g << " " << got.b
                          << " " << got_alpha << ", want " << want[0] << " "
                          << want[1] << " " << want[2] << " " << alpha;
          }
        }
      }
    }
  }
}

TEST(TiffSamplesTest, SixteenBitCmykInJpegIsRefusedSayingWhy) {
  // An 8-bit CMYK JPEG stored as the strip of a 16-bit CMYK picture: libjpeg
  // holds no 16-bit samples, so no such file can decode.
  std::vector<uint8_t> cmyk(static_cast<size_t>(16) * 8 * 4, 0x40);
  const std::vector<uint8_t> jpeg =
      testing::EncodeCmykJpeg(cmyk, 16, 8, false, false);
  TempFolder folder;
  const std::filesystem::path path = folder.path() / "cmyk16.tif";
  TIFF* tiff = TIFFOpen(path.c_str(), "w");
  ASSERT_NE(tiff, nullptr);
  TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, uint32_t{16});
  TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, uint32_t{8});
  TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, uint16_t{16});
  TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, uint16_t{4});
  TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_SEPARATED);
  TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_JPEG);
  TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, uint32_t{8});
  TIFFWriteRawStrip(tiff, 0, const_cast<uint8_t*>(jpeg.data()),
                    static_cast<tmsize_t>(jpeg.size()));
  TIFFClose(tiff);
  try {
    DecodePictureBytes(testing::ReadFileBytes(path));
    ADD_FAILURE() << "decoded";
  } catch (const platform::Error& e) {
    EXPECT_EQ(e.number(), platform::kErrInvalidPicture);
    EXPECT_NE(e.description().find("16-bit samples compressed as JPEG"),
              std::string::npos)
        << e.description();
  }
}

}  // namespace
}  // namespace vg::decoders
