// Writes a very large picture made from a small JPEG, one row at a time, so
// that making it takes a row of memory whatever its size: the small picture
// enlarged bilinearly to W x H with a fine grain, as a baseline JPEG (quality
// 90, 4:2:0) or an 8-bit RGB PNG (zlib level 6, adaptive filters), chosen by
// OUT's extension.
//
//   make_large_picture SMALL.jpg OUT.jpg|OUT.png WIDTH HEIGHT
//
// For bench/large_picture_bench.sh; not part of the program.
#include <cstddef>
#include <cstdio>

// jpeglib.h needs size_t and FILE declared before it.
#include <jpeglib.h>
#include <png.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct Rgb8 {
  int width = 0;
  int height = 0;
  std::vector<unsigned char> pixels;  // 3 bytes a pixel, top-down
};

Rgb8 ReadJpeg(const char* path) {
  FILE* file = std::fopen(path, "rb");
  if (file == nullptr) {
    std::fprintf(stderr, "cannot open %s\n", path);
    std::exit(1);
  }
  jpeg_decompress_struct cinfo{};
  jpeg_error_mgr err{};
  cinfo.err = jpeg_std_error(&err);  // a bad file ends the program
  jpeg_create_decompress(&cinfo);
  jpeg_stdio_src(&cinfo, file);
  jpeg_read_header(&cinfo, TRUE);
  cinfo.out_color_space = JCS_RGB;
  jpeg_start_decompress(&cinfo);
  Rgb8 out;
  out.width = static_cast<int>(cinfo.output_width);
  out.height = static_cast<int>(cinfo.output_height);
  out.pixels.resize(static_cast<size_t>(out.width) * out.height * 3);
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW row = out.pixels.data() +
                   static_cast<size_t>(cinfo.output_scanline) * out.width * 3;
    jpeg_read_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  std::fclose(file);
  return out;
}

// Row `y` of the small picture enlarged bilinearly to width x height.
class Enlarger {
 public:
  Enlarger(const Rgb8& small, int width, int height)
      : small_(small), width_(width), height_(height) {
    for (int x = 0; x < width; ++x) {
      double sx = (x + 0.5) * small.width / width - 0.5;
      sx = std::clamp(sx, 0.0, small.width - 1.0);
      const int x0 = static_cast<int>(sx);
      x0_.push_back(x0);
      x1_.push_back(std::min(x0 + 1, small.width - 1));
      fx_.push_back(static_cast<int>((sx - x0) * 256));
    }
  }

  void Row(int y, unsigned char* out) const {
    double sy = (y + 0.5) * small_.height / height_ - 0.5;
    sy = std::clamp(sy, 0.0, small_.height - 1.0);
    const int y0 = static_cast<int>(sy);
    const int y1 = std::min(y0 + 1, small_.height - 1);
    const int fy = static_cast<int>((sy - y0) * 256);
    const unsigned char* r0 =
        small_.pixels.data() + static_cast<size_t>(y0) * small_.width * 3;
    const unsigned char* r1 =
        small_.pixels.data() + static_cast<size_t>(y1) * small_.width * 3;
    for (int x = 0; x < width_; ++x) {
      // Grain of up to 6 levels, so that the files compress like photos
      // rather than like a smooth enlargement.
      unsigned grain = (static_cast<unsigned>(x) * 73856093u) ^
                       (static_cast<unsigned>(y) * 19349663u);
      grain ^= grain >> 13;
      grain *= 0x5bd1e995u;
      for (int c = 0; c < 3; ++c) {
        const int a =
            r0[x0_[x] * 3 + c] * (256 - fx_[x]) + r0[x1_[x] * 3 + c] * fx_[x];
        const int b =
            r1[x0_[x] * 3 + c] * (256 - fx_[x]) + r1[x1_[x] * 3 + c] * fx_[x];
        const int v = ((a * (256 - fy) + b * fy + (1 << 15)) >> 16) +
                      static_cast<int>((grain >> (8 * c + 4)) % 13) - 6;
        out[x * 3 + c] = static_cast<unsigned char>(std::clamp(v, 0, 255));
      }
    }
  }

 private:
  const Rgb8& small_;
  int width_;
  int height_;
  std::vector<int> x0_, x1_, fx_;
};

void WriteJpeg(const char* path, const Enlarger& enlarger, int width,
               int height) {
  FILE* file = std::fopen(path, "wb");
  if (file == nullptr) {
    std::fprintf(stderr, "cannot create %s\n", path);
    std::exit(1);
  }
  jpeg_compress_struct cinfo{};
  jpeg_error_mgr err{};
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_compress(&cinfo);
  jpeg_stdio_dest(&cinfo, file);
  cinfo.image_width = static_cast<JDIMENSION>(width);
  cinfo.image_height = static_cast<JDIMENSION>(height);
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, 90, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  std::vector<unsigned char> row(static_cast<size_t>(width) * 3);
  JSAMPROW rows[1] = {row.data()};
  for (int y = 0; y < height; ++y) {
    enlarger.Row(y, row.data());
    jpeg_write_scanlines(&cinfo, rows, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  std::fclose(file);
}

void WritePng(const char* path, const Enlarger& enlarger, int width,
              int height) {
  FILE* file = std::fopen(path, "wb");
  if (file == nullptr) {
    std::fprintf(stderr, "cannot create %s\n", path);
    std::exit(1);
  }
  // libpng's default error handler ends the program: fine for a tool.
  png_structp png =
      png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_init_io(png, file);
  png_set_IHDR(png, info, static_cast<png_uint_32>(width),
               static_cast<png_uint_32>(height), 8, PNG_COLOR_TYPE_RGB,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  std::vector<unsigned char> row(static_cast<size_t>(width) * 3);
  for (int y = 0; y < height; ++y) {
    enlarger.Row(y, row.data());
    png_write_row(png, row.data());
  }
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  std::fclose(file);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr,
                 "usage: make_large_picture SMALL.jpg OUT.jpg|OUT.png WIDTH "
                 "HEIGHT\n");
    return 2;
  }
  const int width = std::atoi(argv[3]);
  const int height = std::atoi(argv[4]);
  if (width <= 0 || height <= 0 || width > 65535 || height > 65535) {
    std::fprintf(stderr, "bad size %s x %s\n", argv[3], argv[4]);
    return 2;
  }
  const Rgb8 small = ReadJpeg(argv[1]);
  const Enlarger enlarger(small, width, height);
  const std::string out = argv[2];
  if (out.size() > 4 && out.compare(out.size() - 4, 4, ".png") == 0) {
    WritePng(argv[2], enlarger, width, height);
  } else {
    WriteJpeg(argv[2], enlarger, width, height);
  }
  return 0;
}
