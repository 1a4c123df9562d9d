#include "picture_testutil.h"

#include <gtest/gtest.h>
#include <jpeglib.h>
#include <lcms2.h>
#include <malloc.h>
#include <png.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <QBuffer>
#include <QImage>
#include <QImageWriter>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "platform/code_page.h"
#include "platform/error.h"

#if defined(__SANITIZE_ADDRESS__)
#define VG_TEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VG_TEST_ASAN 1
#endif
#endif
#ifdef VG_TEST_ASAN
// From <sanitizer/allocator_interface.h>, which GCC does not install.
extern "C" int
__sanitizer_install_malloc_and_free_hooks(  // NOLINT(bugprone-reserved-identifier)
    void (*malloc_hook)(const volatile void*, size_t),
    void (*free_hook)(const volatile void*));
#endif

namespace vg::decoders::testing {
namespace {

void PutLe(std::vector<uint8_t>& out, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i)
    out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void PutBe(std::vector<uint8_t>& out, uint32_t v, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) {
    out.push_back(static_cast<uint8_t>(v >> (8 * i)));
  }
}

}  // namespace

Rgb GridColour(int block_x, int block_y) {
  static const Rgb kColours[2][3] = {
      {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}},
      {{255, 255, 0}, {255, 0, 255}, {0, 255, 255}},
  };
  return kColours[block_y][block_x];
}

Rgb GridPixel(int x, int y, int width, int height) {
  return GridColour(x * 3 / width, y * 2 / height);
}

Rgb PixelAt(const DecodedImage& image, int x, int y) {
  const uint8_t* p = image.bgrx.data() +
                     static_cast<size_t>(y) * image.stride_bytes +
                     static_cast<size_t>(x) * 4;
  return {p[2], p[1], p[0]};
}

int AlphaAt(const DecodedImage& image, int x, int y) {
  return image.bgrx[static_cast<size_t>(y) * image.stride_bytes +
                    static_cast<size_t>(x) * 4 + 3];
}

void ExpectLayout(const DecodedImage& image, int width, int height,
                  int pixel_width, int pixel_height) {
  ASSERT_EQ(image.width, width);
  ASSERT_EQ(image.height, height);
  ASSERT_EQ(image.pixel_width, pixel_width);
  ASSERT_EQ(image.pixel_height, pixel_height);
  ASSERT_EQ(image.stride_bytes, pixel_width * 4);
  ASSERT_EQ(image.bgrx.size(), static_cast<size_t>(image.stride_bytes) *
                                   static_cast<size_t>(pixel_height));
}

void ExpectGridBlocks(const DecodedImage& image, int tolerance,
                      Rgb (*colour)(int, int)) {
  ASSERT_GT(image.pixel_width, 0);
  ASSERT_EQ(image.stride_bytes, image.pixel_width * 4);
  ASSERT_EQ(image.bgrx.size(), static_cast<size_t>(image.stride_bytes) *
                                   static_cast<size_t>(image.pixel_height));
  for (int by = 0; by < 2; ++by) {
    for (int bx = 0; bx < 3; ++bx) {
      const int x = (2 * bx + 1) * image.pixel_width / 6;
      const int y = (2 * by + 1) * image.pixel_height / 4;
      EXPECT_EQ(ColourDiff(PixelAt(image, x, y), colour(bx, by), tolerance), "")
          << "block " << bx << "," << by;
    }
  }
  for (size_t i = 3; i < image.bgrx.size(); i += 4) {
    ASSERT_EQ(image.bgrx[i], 255) << "byte " << i;
  }
}

std::string ColourDiff(Rgb actual, Rgb expected, int tolerance) {
  if (std::abs(actual.r - expected.r) <= tolerance &&
      std::abs(actual.g - expected.g) <= tolerance &&
      std::abs(actual.b - expected.b) <= tolerance) {
    return "";
  }
  return "got (" + std::to_string(actual.r) + "," + std::to_string(actual.g) +
         "," + std::to_string(actual.b) + ") expected (" +
         std::to_string(expected.r) + "," + std::to_string(expected.g) + "," +
         std::to_string(expected.b) + ")";
}

std::vector<uint8_t> MakeRgb(int width, int height,
                             const std::function<Rgb(int, int)>& pixel) {
  std::vector<uint8_t> out;
  out.reserve(static_cast<size_t>(width) * height * 3);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      Rgb c = pixel(x, y);
      out.push_back(static_cast<uint8_t>(c.r));
      out.push_back(static_cast<uint8_t>(c.g));
      out.push_back(static_cast<uint8_t>(c.b));
    }
  }
  return out;
}

std::vector<uint8_t> EncodeJpeg(std::span<const uint8_t> rgb, int width,
                                int height, const JpegOptions& options) {
  tjhandle handle = tjInitCompress();
  unsigned char* jpeg = nullptr;
  unsigned long size = 0;
  int sampling = options.grey              ? TJSAMP_GRAY
                 : options.subsampling_420 ? TJSAMP_420
                                           : TJSAMP_444;
  int flags = options.progressive ? TJFLAG_PROGRESSIVE : 0;
  if (tjCompress2(handle, rgb.data(), width, 0, height, TJPF_RGB, &jpeg, &size,
                  sampling, options.quality, flags) != 0) {
    throw std::runtime_error(tjGetErrorStr2(handle));
  }
  std::vector<uint8_t> out(jpeg, jpeg + size);
  tjFree(jpeg);
  tjDestroy(handle);
  return out;
}

namespace {

// Encodes with libjpeg into `file`, or into memory when it is null.
std::vector<uint8_t> Compress(int width, int height,
                              const std::function<void(int, uint8_t*)>& row,
                              const LibjpegOptions& options, FILE* file) {
  jpeg_compress_struct cinfo{};
  jpeg_error_mgr err{};
  cinfo.err = jpeg_std_error(&err);  // errors exit: fine in a test
  jpeg_create_compress(&cinfo);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  if (file != nullptr) {
    jpeg_stdio_dest(&cinfo, file);
  } else {
    jpeg_mem_dest(&cinfo, &buffer, &size);
  }
  cinfo.image_width = static_cast<JDIMENSION>(width);
  cinfo.image_height = static_cast<JDIMENSION>(height);
  cinfo.input_components = options.components;
  cinfo.in_color_space = static_cast<J_COLOR_SPACE>(options.in_space);
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, options.quality, TRUE);
  if (options.configure) options.configure(cinfo);
  jpeg_start_compress(&cinfo, TRUE);
  std::vector<uint8_t> samples(static_cast<size_t>(width) *
                               static_cast<size_t>(options.components));
  JSAMPROW rows[1] = {samples.data()};
  for (int y = 0; y < height; ++y) {
    row(y, samples.data());
    jpeg_write_scanlines(&cinfo, rows, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  std::vector<uint8_t> out(buffer, buffer + size);
  std::free(buffer);
  return out;
}

}  // namespace

std::vector<uint8_t> EncodeWithLibjpeg(
    int width, int height, const std::function<void(int, uint8_t*)>& row,
    const LibjpegOptions& options) {
  return Compress(width, height, row, options, nullptr);
}

std::vector<uint8_t> EncodeCmykJpeg(std::span<const uint8_t> cmyk, int width,
                                    int height, bool ycck, bool adobe_marker) {
  const size_t stride = static_cast<size_t>(width) * 4;
  LibjpegOptions options;
  options.components = 4;
  options.in_space = JCS_CMYK;
  options.quality = 95;
  options.configure = [&](jpeg_compress_struct& cinfo) {
    jpeg_set_colorspace(&cinfo, ycck ? JCS_YCCK : JCS_CMYK);
    cinfo.write_Adobe_marker = adobe_marker ? TRUE : FALSE;
  };
  return EncodeWithLibjpeg(
      width, height,
      [&](int y, uint8_t* samples) {
        std::memcpy(samples, cmyk.data() + static_cast<size_t>(y) * stride,
                    stride);
      },
      options);
}

std::vector<uint8_t> InsertJpegSegment(std::span<const uint8_t> jpeg,
                                       uint8_t marker,
                                       std::span<const uint8_t> payload) {
  std::vector<uint8_t> out(jpeg.begin(), jpeg.begin() + 2);
  out.push_back(0xFF);
  out.push_back(marker);
  PutBe(out, static_cast<uint32_t>(payload.size() + 2), 2);
  out.insert(out.end(), payload.begin(), payload.end());
  out.insert(out.end(), jpeg.begin() + 2, jpeg.end());
  return out;
}

std::vector<uint8_t> ExifWithOrientation(int orientation, bool big_endian) {
  std::vector<uint8_t> out = {'E', 'x', 'i', 'f', 0, 0};
  auto put = [&](uint32_t v, int bytes) {
    big_endian ? PutBe(out, v, bytes) : PutLe(out, v, bytes);
  };
  out.push_back(big_endian ? 'M' : 'I');
  out.push_back(big_endian ? 'M' : 'I');
  put(42, 2);
  put(8, 4);  // first IFD right after the header
  put(2, 2);  // two entries: a resolution unit, then the orientation
  put(0x0128, 2);
  put(3, 2);
  put(1, 4);
  put(2, 2);
  put(0, 2);
  put(0x0112, 2);
  put(3, 2);
  put(1, 4);
  put(static_cast<uint32_t>(orientation), 2);
  put(0, 2);
  put(0, 4);  // no next IFD
  return out;
}

std::vector<uint8_t> IccApp2(std::span<const uint8_t> profile) {
  std::vector<uint8_t> out = {'I', 'C', 'C', '_', 'P', 'R', 'O',
                              'F', 'I', 'L', 'E', 0,   1,   1};
  out.insert(out.end(), profile.begin(), profile.end());
  return out;
}

namespace {

// Returns the bytes of `profile`, and frees it and the `curve` it was built
// with.
std::vector<uint8_t> SavedProfile(cmsHPROFILE profile, cmsToneCurve* curve) {
  cmsUInt32Number size = 0;
  cmsSaveProfileToMem(profile, nullptr, &size);
  std::vector<uint8_t> out(size);
  cmsSaveProfileToMem(profile, out.data(), &size);
  cmsCloseProfile(profile);
  cmsFreeToneCurve(curve);
  return out;
}

}  // namespace

std::vector<uint8_t> LinearRgbProfile() {
  cmsCIExyY white = {0.3127, 0.3290, 1.0};
  cmsCIExyYTRIPLE primaries = {
      {0.64, 0.33, 1.0}, {0.30, 0.60, 1.0}, {0.15, 0.06, 1.0}};
  cmsToneCurve* linear = cmsBuildGamma(nullptr, 1.0);
  cmsToneCurve* curves[3] = {linear, linear, linear};
  cmsHPROFILE profile = cmsCreateRGBProfile(&white, &primaries, curves);
  return SavedProfile(profile, linear);
}

std::vector<uint8_t> LinearGreyProfile() {
  cmsToneCurve* linear = cmsBuildGamma(nullptr, 1.0);
  cmsHPROFILE profile = cmsCreateGrayProfile(cmsD50_xyY(), linear);
  return SavedProfile(profile, linear);
}

std::vector<uint8_t> SrgbCurveProfile(const std::vector<double>& chromaticities,
                                      bool tabulated) {
  // sRGB's curve: a line near black, then a 2.4 power.
  const cmsFloat64Number params[5] = {2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92,
                                      0.04045};
  cmsToneCurve* curve = cmsBuildParametricToneCurve(nullptr, 4, params);
  if (tabulated) {
    std::vector<cmsFloat32Number> table(1024);
    for (size_t i = 0; i < table.size(); ++i) {
      table[i] = cmsEvalToneCurveFloat(
          curve, static_cast<cmsFloat32Number>(i) /
                     static_cast<cmsFloat32Number>(table.size() - 1));
    }
    cmsFreeToneCurve(curve);
    curve = cmsBuildTabulatedToneCurveFloat(
        nullptr, static_cast<cmsUInt32Number>(table.size()), table.data());
  }
  cmsHPROFILE profile = nullptr;
  if (chromaticities.empty()) {
    profile = cmsCreateGrayProfile(cmsD50_xyY(), curve);
  } else {
    const std::vector<double>& c = chromaticities;
    const cmsCIExyY white = {c[0], c[1], 1.0};
    const cmsCIExyYTRIPLE primaries = {
        {c[2], c[3], 1.0}, {c[4], c[5], 1.0}, {c[6], c[7], 1.0}};
    cmsToneCurve* curves[3] = {curve, curve, curve};
    profile = cmsCreateRGBProfile(&white, &primaries, curves);
  }
  return SavedProfile(profile, curve);
}

BmpSpec BmpOf(int width, int height, int bits, int compression) {
  BmpSpec bmp;
  bmp.width = width;
  bmp.height = height;
  bmp.bits = static_cast<uint16_t>(bits);
  bmp.compression = static_cast<uint32_t>(compression);
  return bmp;
}

std::vector<uint8_t> MakeBmp(const BmpSpec& spec) {
  const bool v5 = !spec.profile.empty();
  const bool v4 = !v5 && spec.masks.size() == 4 && spec.compression != 6;
  uint32_t header_size = v5 ? 124 : v4 ? 108 : 40;
  uint32_t masks_after = 0;
  if (!v4 && !v5 && spec.compression == 3) masks_after = 12;
  if (!v4 && !v5 && spec.compression == 6) masks_after = 16;
  uint32_t offset = 14 + header_size + masks_after +
                    static_cast<uint32_t>(spec.palette.size()) * 4;
  const auto pixel_bytes = static_cast<uint32_t>(spec.pixel_data.size());
  const auto profile_bytes = static_cast<uint32_t>(spec.profile.size());
  std::vector<uint8_t> out = {'B', 'M'};
  PutLe(out, offset + pixel_bytes + profile_bytes, 4);
  PutLe(out, 0, 4);
  PutLe(out, offset, 4);
  PutLe(out, header_size, 4);
  PutLe(out, static_cast<uint32_t>(spec.width), 4);
  PutLe(out, static_cast<uint32_t>(spec.height), 4);
  PutLe(out, 1, 2);
  PutLe(out, spec.bits, 2);
  PutLe(out, spec.compression, 4);
  PutLe(out, static_cast<uint32_t>(spec.pixel_data.size()), 4);
  PutLe(out, 2835, 4);
  PutLe(out, 2835, 4);
  PutLe(out, static_cast<uint32_t>(spec.palette.size()), 4);
  PutLe(out, 0, 4);
  if (v4 || v5) {
    for (size_t i = 0; i < 4; ++i) {
      PutLe(out, i < spec.masks.size() ? spec.masks[i] : 0, 4);
    }
    PutLe(out, v5 ? 0x4D424544 : 0x73524742, 4);    // 'MBED' or 'sRGB'
    for (int i = 0; i < 12; ++i) PutLe(out, 0, 4);  // endpoints and gammas
  } else if (masks_after != 0) {
    for (size_t i = 0; i < masks_after / 4; ++i)
      PutLe(out, spec.masks.at(i), 4);
  }
  if (v5) {
    PutLe(out, 4, 4);  // LCS_GM_IMAGES
    // The profile's offset counts from the start of the info header.
    PutLe(out, offset - 14 + pixel_bytes, 4);
    PutLe(out, profile_bytes, 4);
    PutLe(out, 0, 4);
  }
  for (uint32_t c : spec.palette) PutLe(out, c, 4);
  out.insert(out.end(), spec.pixel_data.begin(), spec.pixel_data.end());
  out.insert(out.end(), spec.profile.begin(), spec.profile.end());
  return out;
}

std::vector<uint8_t> EncodeWithQt(int width, int height, const char* format,
                                  const std::function<Rgb(int, int)>& pixel,
                                  const std::function<int(int, int)>& alpha) {
  QImage image(width, height, QImage::Format_ARGB32);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      Rgb c = pixel(x, y);
      image.setPixel(x, y, qRgba(c.r, c.g, c.b, alpha(x, y)));
    }
  }
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  QImageWriter writer(&buffer, format);
  if (!writer.write(image)) {
    throw std::runtime_error("Qt cannot write " + std::string(format));
  }
  return {bytes.begin(), bytes.end()};
}

std::vector<uint8_t> ReadFileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot open " + path.string());
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFileBytes(const std::filesystem::path& path,
                    std::span<const uint8_t> bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

std::filesystem::path FixturePath(const std::string& name) {
  return std::filesystem::path(VG_TEST_PICTURES_DIR) / name;
}

std::u16string NativeToUtf16(const std::filesystem::path& path) {
  return platform::FromAnsi(path.native());
}

namespace {

std::atomic<int> fill_byte{-1};

#ifdef VG_TEST_ASAN
// calloc leaves blocks from fresh pages as they come: those stay unfilled.
constexpr size_t kLargestFilledBlock = size_t{64} << 10;

void FillNewBlock(const volatile void* block, size_t size) {
  int byte = fill_byte.load(std::memory_order_relaxed);
  if (byte >= 0 && block != nullptr && size <= kLargestFilledBlock) {
    std::memset(const_cast<void*>(block), byte, size);
  }
}

void IgnoreFreedBlock(const volatile void*) {}
#endif

}  // namespace

AllocationFill::AllocationFill(int byte) {
#ifdef VG_TEST_ASAN
  static const bool installed = [] {
    __sanitizer_install_malloc_and_free_hooks(FillNewBlock, IgnoreFreedBlock);
    return true;
  }();
  (void)installed;
#endif
  fill_byte = byte;
  // glibc fills a new block with the complement of this byte.
  mallopt(M_PERTURB, byte);
}

AllocationFill::~AllocationFill() {
  fill_byte = -1;
  mallopt(M_PERTURB, 0);
}

namespace {

// libpng reports errors through longjmp by default: made exceptions here
// instead would cross C frames, so a failed write aborts the test.
[[noreturn]] void PngWriteFailed(png_structp, png_const_charp message) {
  std::fprintf(stderr, "libpng: %s\n", message);
  std::abort();
}

void AppendToVector(png_structp png, png_bytep data, size_t length) {
  auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + length);
}

void FlushNothing(png_structp) {}

}  // namespace

void WriteJpegByRows(const std::filesystem::path& path, int width, int height,
                     const RgbRowFiller& row) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr)
    throw std::runtime_error("cannot create " + path.string());
  Compress(width, height, row, LibjpegOptions{}, file);
  std::fclose(file);
}

void WritePngByRows(const std::filesystem::path& path, int width, int height,
                    const RgbRowFiller& row) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr)
    throw std::runtime_error("cannot create " + path.string());
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr,
                                            PngWriteFailed, nullptr);
  png_infop info = png_create_info_struct(png);
  png_init_io(png, file);
  png_set_compression_level(png, 1);
  png_set_filter(png, 0, PNG_FILTER_NONE);
  png_set_IHDR(png, info, static_cast<png_uint_32>(width),
               static_cast<png_uint_32>(height), 8, PNG_COLOR_TYPE_RGB,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  std::vector<uint8_t> rgb(static_cast<size_t>(width) * 3);
  for (int y = 0; y < height; ++y) {
    row(y, rgb.data());
    png_write_row(png, rgb.data());
  }
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  std::fclose(file);
}

std::vector<double> SrgbChromaticities() {
  return {0.3127, 0.3290, 0.64, 0.33, 0.30, 0.60, 0.15, 0.06};
}

std::vector<double> AdobeRgbChromaticities() {
  return {0.3127, 0.3290, 0.64, 0.33, 0.21, 0.71, 0.15, 0.06};
}

std::vector<uint8_t> EncodePng(const PngSpec& spec) {
  std::vector<uint8_t> out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr,
                                            PngWriteFailed, nullptr);
  png_infop info = png_create_info_struct(png);
  png_set_write_fn(png, &out, AppendToVector, FlushNothing);
  png_set_IHDR(png, info, static_cast<png_uint_32>(spec.width),
               static_cast<png_uint_32>(spec.height), spec.bit_depth,
               spec.color_type,
               spec.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  std::vector<png_color> palette;
  for (const Rgb& c : spec.palette) {
    palette.push_back({static_cast<png_byte>(c.r), static_cast<png_byte>(c.g),
                       static_cast<png_byte>(c.b)});
  }
  if (!palette.empty()) {
    png_set_PLTE(png, info, palette.data(), static_cast<int>(palette.size()));
  }
  if (!spec.palette_alpha.empty()) {
    png_set_tRNS(png, info, spec.palette_alpha.data(),
                 static_cast<int>(spec.palette_alpha.size()), nullptr);
  }
  if (!spec.transparent.empty()) {
    png_color_16 colour{};
    colour.gray = spec.transparent[0];
    if (spec.transparent.size() == 3) {
      colour.red = spec.transparent[0];
      colour.green = spec.transparent[1];
      colour.blue = spec.transparent[2];
    }
    png_set_tRNS(png, info, nullptr, 0, &colour);
  }
  if (!spec.icc.empty()) {
    png_set_iCCP(png, info, "ICC Profile", PNG_COMPRESSION_TYPE_BASE,
                 spec.icc.data(), static_cast<png_uint_32>(spec.icc.size()));
  }
  if (spec.gamma > 0) png_set_gAMA(png, info, spec.gamma);
  if (spec.filters != 0)
    png_set_filter(png, PNG_FILTER_TYPE_BASE, spec.filters);
  if (spec.compression_level >= 0) {
    png_set_compression_level(png, spec.compression_level);
  }
  if (spec.idat_bytes > 0) {
    png_set_compression_buffer_size(png, static_cast<size_t>(spec.idat_bytes));
  }
  if (spec.chrm.size() == 8) {
    const std::vector<double>& c = spec.chrm;
    png_set_cHRM(png, info, c[0], c[1], c[2], c[3], c[4], c[5], c[6], c[7]);
  }
  if (spec.srgb_chunk) {
    // Written by hand: png_set_sRGB would also replace the gAMA and cHRM.
    png_write_info_before_PLTE(png, info);
    const png_byte perceptual = 0;
    png_write_chunk(png, reinterpret_cast<png_const_bytep>("sRGB"), &perceptual,
                    1);
  }
  png_write_info(png, info);
  const int channels = png_get_channels(png, info);
  // Packed rows as stored: samples of under 8 bits share bytes, 16-bit
  // samples take two, most significant first.
  const size_t row_bytes = png_get_rowbytes(png, info);
  std::vector<std::vector<uint8_t>> rows(static_cast<size_t>(spec.height),
                                         std::vector<uint8_t>(row_bytes, 0));
  size_t at = 0;
  for (auto& row : rows) {
    int bit = 0;
    for (int i = 0; i < spec.width * channels; ++i, ++at) {
      const unsigned v = spec.samples.at(at);
      if (spec.bit_depth == 16) {
        row[static_cast<size_t>(i) * 2] = static_cast<uint8_t>(v >> 8);
        row[static_cast<size_t>(i) * 2 + 1] = static_cast<uint8_t>(v);
      } else if (spec.bit_depth == 8) {
        row[static_cast<size_t>(i)] = static_cast<uint8_t>(v);
      } else {
        const int shift = 8 - spec.bit_depth - bit % 8;
        row[static_cast<size_t>(bit / 8)] |= static_cast<uint8_t>(v << shift);
        bit += spec.bit_depth;
      }
    }
  }
  std::vector<png_bytep> pointers;
  for (auto& row : rows) pointers.push_back(row.data());
  png_write_image(png, pointers.data());
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return out;
}

int32_t ErrorNumberOf(const std::vector<uint8_t>& bytes,
                      const DecodeHint& hint) {
  try {
    DecodePictureBytes(bytes, hint);
  } catch (const platform::Error& e) {
    return e.number();
  }
  return 0;
}

Refusal RefusalOf(const std::vector<uint8_t>& bytes) {
  try {
    DecodePictureBytes(bytes);
  } catch (const platform::Error& e) {
    return {e.number(), e.description()};
  }
  return {};
}

}  // namespace vg::decoders::testing
