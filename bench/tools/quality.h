// Luma comparison of a thumbnail with an ideal resize, shared by the bench
// tools: a JPEG or PNG decoded to BT.601 luma, a separable floating-point
// Lanczos-3 resize, Gaussian-window SSIM and PSNR.
//
// A tool header for bench/, not part of the program.
#ifndef VG_BENCH_TOOLS_QUALITY_H_
#define VG_BENCH_TOOLS_QUALITY_H_

#include <algorithm>
#include <cmath>
#include <cstdio>
// jpeglib.h needs FILE declared before it.
#include <jpeglib.h>
#include <png.h>

#include <string>
#include <vector>

namespace vg_bench {

struct Plane {
  int w = 0;
  int h = 0;
  std::vector<float> v;
  float at(int x, int y) const { return v[static_cast<size_t>(y) * w + x]; }
};

// A PNG through libpng's simplified interface: 8-bit sRGB, transparency
// over white as the thumbnailers put it.
inline bool DecodePngLuma(const std::string& path, Plane* out) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (png_image_begin_read_from_file(&image, path.c_str()) == 0) return false;
  image.format = PNG_FORMAT_RGB;
  std::vector<unsigned char> rgb(PNG_IMAGE_SIZE(image));
  const png_color white{255, 255, 255};
  if (png_image_finish_read(&image, &white, rgb.data(), 0, nullptr) == 0) {
    png_image_free(&image);
    return false;
  }
  out->w = static_cast<int>(image.width);
  out->h = static_cast<int>(image.height);
  out->v.resize(static_cast<size_t>(out->w) * out->h);
  for (size_t i = 0; i < out->v.size(); ++i) {
    const unsigned char* p = &rgb[3 * i];
    out->v[i] = 0.299f * static_cast<float>(p[0]) +
                0.587f * static_cast<float>(p[1]) +
                0.114f * static_cast<float>(p[2]);
  }
  return true;
}

// Told by its content: a thumbnail keeps its picture's name.
inline bool DecodeLuma(const std::string& path, Plane* out) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  unsigned char start[8] = {};
  const bool png =
      std::fread(start, 1, 8, f) == 8 && png_sig_cmp(start, 0, 8) == 0;
  if (png) {
    std::fclose(f);
    return DecodePngLuma(path, out);
  }
  std::rewind(f);
  jpeg_decompress_struct cinfo;
  jpeg_error_mgr jerr;
  cinfo.err = jpeg_std_error(&jerr);
  jpeg_create_decompress(&cinfo);
  jpeg_stdio_src(&cinfo, f);
  jpeg_read_header(&cinfo, TRUE);
  cinfo.out_color_space = JCS_RGB;
  cinfo.dct_method = JDCT_ISLOW;
  jpeg_start_decompress(&cinfo);
  out->w = static_cast<int>(cinfo.output_width);
  out->h = static_cast<int>(cinfo.output_height);
  out->v.assign(static_cast<size_t>(out->w) * out->h, 0.0f);
  std::vector<unsigned char> row(static_cast<size_t>(out->w) * 3);
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW r = row.data();
    int y = static_cast<int>(cinfo.output_scanline);
    jpeg_read_scanlines(&cinfo, &r, 1);
    float* dst = out->v.data() + static_cast<size_t>(y) * out->w;
    for (int x = 0; x < out->w; ++x) {
      dst[x] = 0.299f * row[3 * x] + 0.587f * row[3 * x + 1] +
               0.114f * row[3 * x + 2];
    }
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  std::fclose(f);
  return true;
}

inline double Lanczos3(double x) {
  x = std::fabs(x);
  if (x < 1e-9) return 1.0;
  if (x >= 3.0) return 0.0;
  double px = M_PI * x;
  return 3.0 * std::sin(px) * std::sin(px / 3.0) / (px * px);
}

// Weights of one axis: for each output, its first input and its taps.
struct Taps {
  std::vector<int> first;
  std::vector<std::vector<float>> w;
};

inline Taps MakeTaps(int in, int out) {
  Taps t;
  double scale = static_cast<double>(in) / out;
  double support = scale > 1 ? 3.0 * scale : 3.0;
  double stretch = scale > 1 ? scale : 1.0;
  for (int o = 0; o < out; ++o) {
    double centre = (o + 0.5) * scale - 0.5;
    int lo = static_cast<int>(std::floor(centre - support));
    int hi = static_cast<int>(std::ceil(centre + support));
    std::vector<double> w;
    double sum = 0;
    for (int i = lo; i <= hi; ++i) {
      double k = Lanczos3((i - centre) / stretch);
      w.push_back(k);
      sum += k;
    }
    // Edge pixels repeated: fold the taps outside the picture onto its edge.
    std::vector<float> folded(static_cast<size_t>(in > 0 ? in : 1), 0.0f);
    int fmin = in, fmax = -1;
    for (int i = lo; i <= hi; ++i) {
      int c = i < 0 ? 0 : (i >= in ? in - 1 : i);
      folded[static_cast<size_t>(c)] += static_cast<float>(w[i - lo] / sum);
      fmin = std::min(fmin, c);
      fmax = std::max(fmax, c);
    }
    t.first.push_back(fmin);
    t.w.emplace_back(folded.begin() + fmin, folded.begin() + fmax + 1);
  }
  return t;
}

inline Plane Resize(const Plane& src, int w, int h) {
  Taps tx = MakeTaps(src.w, w);
  Taps ty = MakeTaps(src.h, h);
  Plane mid;
  mid.w = w;
  mid.h = src.h;
  mid.v.resize(static_cast<size_t>(w) * src.h);
  for (int y = 0; y < src.h; ++y) {
    const float* row = src.v.data() + static_cast<size_t>(y) * src.w;
    for (int x = 0; x < w; ++x) {
      double s = 0;
      const auto& k = tx.w[x];
      for (size_t i = 0; i < k.size(); ++i) s += k[i] * row[tx.first[x] + i];
      mid.v[static_cast<size_t>(y) * w + x] = static_cast<float>(s);
    }
  }
  Plane out;
  out.w = w;
  out.h = h;
  out.v.resize(static_cast<size_t>(w) * h);
  for (int y = 0; y < h; ++y) {
    const auto& k = ty.w[y];
    for (int x = 0; x < w; ++x) {
      double s = 0;
      for (size_t i = 0; i < k.size(); ++i)
        s += k[i] * mid.at(x, ty.first[y] + static_cast<int>(i));
      out.v[static_cast<size_t>(y) * w + x] =
          static_cast<float>(std::round(std::clamp(s, 0.0, 255.0)));
    }
  }
  return out;
}

// Gaussian-weighted SSIM over 11 x 11 windows (sigma 1.5), windows kept
// inside the picture, averaged.
inline double Ssim(const Plane& a, const Plane& b) {
  const int r = 5;
  double g[11];
  double gs = 0;
  for (int i = -r; i <= r; ++i)
    gs += g[i + r] = std::exp(-(i * i) / (2 * 1.5 * 1.5));
  for (double& v : g) v /= gs;
  const double c1 = (0.01 * 255) * (0.01 * 255),
               c2 = (0.03 * 255) * (0.03 * 255);
  if (a.w < 11 || a.h < 11) return 0;
  // Horizontal then vertical sums of a, b, a², b², ab.
  int w = a.w, h = a.h;
  std::vector<double> hs[5];
  for (auto& v : hs) v.assign(static_cast<size_t>(w) * h, 0.0);
  for (int y = 0; y < h; ++y) {
    for (int x = r; x < w - r; ++x) {
      double s[5] = {0, 0, 0, 0, 0};
      for (int i = -r; i <= r; ++i) {
        double p = a.at(x + i, y), q = b.at(x + i, y), k = g[i + r];
        s[0] += k * p;
        s[1] += k * q;
        s[2] += k * p * p;
        s[3] += k * q * q;
        s[4] += k * p * q;
      }
      for (int j = 0; j < 5; ++j) hs[j][static_cast<size_t>(y) * w + x] = s[j];
    }
  }
  double total = 0;
  long n = 0;
  for (int y = r; y < h - r; ++y) {
    for (int x = r; x < w - r; ++x) {
      double s[5] = {0, 0, 0, 0, 0};
      for (int i = -r; i <= r; ++i) {
        for (int j = 0; j < 5; ++j)
          s[j] += g[i + r] * hs[j][static_cast<size_t>(y + i) * w + x];
      }
      double ma = s[0], mb = s[1];
      double va = s[2] - ma * ma, vb = s[3] - mb * mb, cov = s[4] - ma * mb;
      total += ((2 * ma * mb + c1) * (2 * cov + c2)) /
               ((ma * ma + mb * mb + c1) * (va + vb + c2));
      ++n;
    }
  }
  return total / static_cast<double>(n);
}

inline double Psnr(const Plane& a, const Plane& b) {
  double se = 0;
  for (size_t i = 0; i < a.v.size(); ++i) {
    double d = a.v[i] - b.v[i];
    se += d * d;
  }
  double mse = se / static_cast<double>(a.v.size());
  return mse <= 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 / mse);
}

}  // namespace vg_bench

#endif  // VG_BENCH_TOOLS_QUALITY_H_
