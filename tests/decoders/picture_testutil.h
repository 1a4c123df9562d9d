// Test pictures made in code, and checks on decoded pixels, for the picture
// decoder tests.
#ifndef VG_TESTS_APP_DECODERS_PICTURE_TESTUTIL_H_
#define VG_TESTS_APP_DECODERS_PICTURE_TESTUTIL_H_

#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "common/test_files.h"
#include "decoders/decode_picture.h"

struct jpeg_compress_struct;

namespace vg::decoders::testing {

struct Rgb {
  int r = 0;
  int g = 0;
  int b = 0;
};

// The colour of each 8 x 8 block of the reference grid, 3 blocks wide and 2
// high (24 x 16 pixels): red, green, blue over yellow, magenta, cyan.
Rgb GridColour(int block_x, int block_y);
// The colour of pixel (x, y) of the grid scaled to `width` x `height`.
Rgb GridPixel(int x, int y, int width, int height);

// Returns the pixel at (x, y) of a decoded picture.
Rgb PixelAt(const DecodedImage& image, int x, int y);
// Returns the fourth byte of that pixel: its alpha when image.has_alpha.
int AlphaAt(const DecodedImage& image, int x, int y);

// Returns "" when `actual` is within `tolerance` of `expected` in every
// channel, else a description of the difference.
std::string ColourDiff(Rgb actual, Rgb expected, int tolerance);

// Checks the sizes of a decoded picture: its own, and its pixels' (rows of
// 4 bytes a pixel, nothing more). Fails fatally.
void ExpectLayout(const DecodedImage& image, int width, int height,
                  int pixel_width, int pixel_height);

// Checks the centre of each of the grid's six blocks, wherever the decoded
// pixels put them, within `tolerance`, and that every pixel is opaque;
// `colour` maps the grid's colour to the one expected.
void ExpectGridBlocks(const DecodedImage& image, int tolerance,
                      Rgb (*colour)(int, int) = GridColour);

// Returns width x height RGB pixels (3 bytes each, top-down) from `pixel`.
std::vector<uint8_t> MakeRgb(int width, int height,
                             const std::function<Rgb(int, int)>& pixel);

struct JpegOptions {
  int quality = 95;
  bool progressive = false;
  bool grey = false;
  bool subsampling_420 = false;
};

// Encodes RGB pixels (MakeRgb) as a JPEG with TurboJPEG.
std::vector<uint8_t> EncodeJpeg(std::span<const uint8_t> rgb, int width,
                                int height, const JpegOptions& options = {});

// How libjpeg is to encode: samples of `components` bytes in the colour
// space `in_space` (a J_COLOR_SPACE) at `quality`, then whatever `configure`
// sets once the defaults are (the file's colour space, sampling,
// progression, restart markers).
struct LibjpegOptions {
  int components = 3;
  int in_space = 2;  // JCS_RGB
  int quality = 90;
  std::function<void(jpeg_compress_struct&)> configure;
};

// Encodes `width` x `height` samples with libjpeg, every row given top-down
// by `row` (y, then width x components bytes to fill).
std::vector<uint8_t> EncodeWithLibjpeg(
    int width, int height, const std::function<void(int, uint8_t*)>& row,
    const LibjpegOptions& options);

// Encodes CMYK pixels (4 bytes each, stored as given) with libjpeg as a CMYK
// or YCCK JPEG, with or without the Adobe marker.
std::vector<uint8_t> EncodeCmykJpeg(std::span<const uint8_t> cmyk, int width,
                                    int height, bool ycck, bool adobe_marker);

// Returns `jpeg` with an APPn segment (marker 0xE0 + n) holding `payload`
// inserted right after the start-of-image marker.
std::vector<uint8_t> InsertJpegSegment(std::span<const uint8_t> jpeg,
                                       uint8_t marker,
                                       std::span<const uint8_t> payload);

// Returns an EXIF APP1 payload whose first IFD holds an orientation tag.
std::vector<uint8_t> ExifWithOrientation(int orientation, bool big_endian);

// Returns the payload of an APP2 ICC_PROFILE segment (one chunk).
std::vector<uint8_t> IccApp2(std::span<const uint8_t> profile);

// Returns an ICC profile with sRGB primaries and a linear tone curve: a
// mid grey 128 in it is about 188 in sRGB.
std::vector<uint8_t> LinearRgbProfile();

// Returns a grey ICC profile with a linear tone curve.
std::vector<uint8_t> LinearGreyProfile();

// Returns an ICC profile with `chromaticities` (x, y of white, red, green,
// blue; grey when empty) and sRGB's tone curve, as LittleCMS's own sRGB
// profile does it (`tabulated` false) or as a table of 1024 points, the
// way most embedded "sRGB IEC61966-2.1" profiles hold it.
std::vector<uint8_t> SrgbCurveProfile(const std::vector<double>& chromaticities,
                                      bool tabulated);

// A BMP file in parts: the caller gives the pixel data as stored. The header
// is BITMAPINFOHEADER, its masks after it (three, or four for compression 6);
// a V4 header with four masks; a V5 one with a profile.
struct BmpSpec {
  int32_t width = 0;
  int32_t height = 0;  // negative: top-down rows
  uint16_t bits = 24;
  uint32_t compression = 0;       // 0 RGB, 1 RLE8, 2 RLE4, 3 bit fields
  std::vector<uint32_t> palette;  // 0x00RRGGBB entries
  std::vector<uint32_t> masks;    // R, G, B (and A) masks for bit fields
  std::vector<uint8_t> pixel_data;
  // An ICC profile embedded after the pixels, through a V5 header.
  std::vector<uint8_t> profile;
};
std::vector<uint8_t> MakeBmp(const BmpSpec& spec);
// A BmpSpec of `width` x `height` at `bits` a pixel with `compression`, the
// rest to be filled in.
BmpSpec BmpOf(int width, int height, int bits = 24, int compression = 0);

// Returns the bytes of a PNG, BMP or ICO that Qt writes for `image`-like
// pixels: width x height, colour from `pixel`, alpha from `alpha`.
std::vector<uint8_t> EncodeWithQt(int width, int height, const char* format,
                                  const std::function<Rgb(int, int)>& pixel,
                                  const std::function<int(int, int)>& alpha);

// Reads or writes a whole file.
std::vector<uint8_t> ReadFileBytes(const std::filesystem::path& path);
void WriteFileBytes(const std::filesystem::path& path,
                    std::span<const uint8_t> bytes);

// Returns the path of a committed fixture under tests/data/pictures.
std::filesystem::path FixturePath(const std::string& name);

// A fresh folder under the temporary folder, removed at the end.
using TempFolder = vg::testing::TempFolder;

// While it lives, fills every block of memory the process allocates with
// `byte` (0 to 255), so that a result made from memory nobody wrote differs
// between two fills. Through glibc's M_PERTURB; under AddressSanitizer, whose
// allocator ignores that, through its allocation hook, for blocks up to
// 64 KiB (larger ones are fresh zero pages). Not for several at once.
class AllocationFill {
 public:
  explicit AllocationFill(int byte);
  ~AllocationFill();
  AllocationFill(const AllocationFill&) = delete;
  AllocationFill& operator=(const AllocationFill&) = delete;
};

// Returns the UTF-16 form of a native path, as the system passes paths.
std::u16string NativeToUtf16(const std::filesystem::path& path);

// Fills row `y` of a picture: width x 3 bytes, red, green, blue.
using RgbRowFiller = std::function<void(int y, uint8_t* rgb)>;

// Writes a width x height baseline JPEG (quality 90, 4:2:0) with libjpeg,
// one row at a time, so that a picture of any size costs one row of memory.
void WriteJpegByRows(const std::filesystem::path& path, int width, int height,
                     const RgbRowFiller& row);

// Writes a width x height 8-bit RGB PNG with libpng, one row at a time
// (fastest compression, no filter).
void WritePngByRows(const std::filesystem::path& path, int width, int height,
                    const RgbRowFiller& row);

// A PNG file in parts, for every layout libpng writes.
struct PngSpec {
  int width = 0;
  int height = 0;
  int color_type = 2;  // PNG_COLOR_TYPE_*: 0 grey, 2 RGB, 3 palette, 4, 6
  int bit_depth = 8;
  bool interlaced = false;
  // Samples as stored, channels of a pixel in order, row after row; values
  // up to 2^bit_depth - 1.
  std::vector<uint16_t> samples;
  std::vector<Rgb> palette;
  std::vector<uint8_t> palette_alpha;  // tRNS of a palette
  std::vector<uint16_t> transparent;   // tRNS of grey (1) or RGB (3)
  double gamma = 0;                    // gAMA, 0 for none
  // cHRM as x, y of white, red, green and blue; empty for none.
  std::vector<double> chrm;
  // An sRGB chunk written after gAMA and cHRM, whatever they say.
  bool srgb_chunk = false;
  std::vector<uint8_t> icc;    // iCCP's profile, empty for none
  int filters = 0;             // PNG_FILTER_* to choose from; 0: libpng's
  int compression_level = -1;  // zlib's; 0 stores the rows as they are
  int idat_bytes = 0;          // the largest IDAT chunk; 0: libpng's 8 KiB
};

// cHRM of sRGB, and of Adobe RGB (1998), for PngSpec::chrm.
std::vector<double> SrgbChromaticities();
std::vector<double> AdobeRgbChromaticities();
std::vector<uint8_t> EncodePng(const PngSpec& spec);

// Returns the number of the error DecodePictureBytes raises for `bytes`,
// 0 when it decodes them.
int32_t ErrorNumberOf(const std::vector<uint8_t>& bytes,
                      const DecodeHint& hint = {});

// The number and description of the error DecodePictureBytes raises for
// `bytes`; {0, ""} when it decodes them.
struct Refusal {
  int32_t number = 0;
  std::string description;
};
Refusal RefusalOf(const std::vector<uint8_t>& bytes);

}  // namespace vg::decoders::testing

#endif  // VG_TESTS_APP_DECODERS_PICTURE_TESTUTIL_H_
