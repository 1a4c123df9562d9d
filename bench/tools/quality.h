// Luma comparison of a thumbnail with an ideal resize, shared by the bench
// tools: a JPEG or PNG decoded to sRGB (colour-managed) and BT.601 luma, a
// separable floating-point Lanczos-3 resize, Gaussian-window SSIM and PSNR.
//
// A tool header for bench/, not part of the program.
#ifndef VG_BENCH_TOOLS_QUALITY_H_
#define VG_BENCH_TOOLS_QUALITY_H_

#include <algorithm>
#include <bit>
#include <cmath>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
// jpeglib.h needs FILE declared before it.
#include <jpeglib.h>
#include <lcms2.h>
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

// Colour as a colour-managed viewer shows it: every picture, original or
// thumbnail, is brought to sRGB before its luma is taken. An embedded ICC
// profile is applied (perceptual intent); a PNG follows the rules viewers
// follow: `sRGB` means sRGB as stored, `iCCP` is applied, a `gAMA` within
// 5 % of 1/2.2 with no `cHRM` or sRGB's (each coordinate within 0.001) means
// sRGB as stored, any other `gAMA`/`cHRM` is converted. Transparency goes
// over white in sRGB's encoded values, as the thumbnailers put it.

// Owns one LittleCMS profile.
struct Profile {
  cmsHPROFILE p = nullptr;
  Profile() = default;
  explicit Profile(cmsHPROFILE q) : p(q) {}
  Profile(const Profile&) = delete;
  Profile& operator=(const Profile&) = delete;
  ~Profile() {
    if (p != nullptr) cmsCloseProfile(p);
  }
};

// Converts `count` pixels of `in` (LittleCMS `format`, described by
// `profile`) to sRGB in `out`, in `out_format`; alpha, if any, is copied.
inline bool ToSrgb(cmsHPROFILE profile, cmsUInt32Number format, const void* in,
                   cmsUInt32Number out_format, void* out, size_t count) {
  Profile srgb(cmsCreate_sRGBProfile());
  cmsHTRANSFORM t = cmsCreateTransform(profile, format, srgb.p, out_format,
                                       INTENT_PERCEPTUAL, cmsFLAGS_COPY_ALPHA);
  if (t == nullptr) return false;
  cmsDoTransform(t, in, out, static_cast<cmsUInt32Number>(count));
  cmsDeleteTransform(t);
  return true;
}

inline float Luma(double r, double g, double b) {
  return static_cast<float>(0.299 * r + 0.587 * g + 0.114 * b);
}

// A gAMA/cHRM pair viewers read as sRGB.
inline bool PngMeansSrgb(bool has_gamma, double gamma, bool has_chrm,
                         const double chrm[8]) {
  if (has_gamma && std::fabs(gamma / 0.45455 - 1) >= 0.05) return false;
  if (!has_chrm) return true;
  const double srgb[8] = {0.3127, 0.3290, 0.64, 0.33, 0.30, 0.60, 0.15, 0.06};
  for (int i = 0; i < 8; ++i) {
    if (std::fabs(chrm[i] - srgb[i]) > 0.001) return false;
  }
  return true;
}

inline bool DecodePngLuma(const std::string& path, Plane* out) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  // Warnings (such as a known-incorrect sRGB profile) are not results.
  png_structp png =
      png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr,
                             [](png_structp, png_const_charp) {});
  png_infop info = png_create_info_struct(png);
  std::vector<uint16_t> pixels;
  std::vector<png_bytep> rows;
  Profile profile;
  // Filled once the header is read; volatile for longjmp.
  volatile bool ok = false;
  if (setjmp(png_jmpbuf(png)) == 0) {
    png_init_io(png, f);
    png_read_info(png, info);
    const int type = png_get_color_type(png, info);
    bool gray = (type & PNG_COLOR_MASK_COLOR) == 0;
    int intent = 0;
    png_charp name = nullptr;
    int compression = 0;
    png_bytep icc = nullptr;
    png_uint_32 icc_length = 0;
    if (png_get_sRGB(png, info, &intent) == 0 &&
        png_get_iCCP(png, info, &name, &compression, &icc, &icc_length) != 0) {
      profile.p = cmsOpenProfileFromMem(icc, icc_length);
    } else if (png_get_sRGB(png, info, &intent) == 0) {
      double gamma = 0.45455;
      double c[8] = {};
      const bool has_gamma = png_get_gAMA(png, info, &gamma) != 0;
      const bool has_chrm = png_get_cHRM(png, info, &c[0], &c[1], &c[2], &c[3],
                                         &c[4], &c[5], &c[6], &c[7]) != 0;
      if ((has_gamma || has_chrm) &&
          !PngMeansSrgb(has_gamma, gamma, has_chrm, c)) {
        if (!has_chrm) {
          const double srgb[8] = {0.3127, 0.3290, 0.64, 0.33,
                                  0.30,   0.60,   0.15, 0.06};
          std::copy(srgb, srgb + 8, c);
        }
        const cmsCIExyY white{c[0], c[1], 1.0};
        const cmsCIExyYTRIPLE primaries{
            {c[2], c[3], 1.0}, {c[4], c[5], 1.0}, {c[6], c[7], 1.0}};
        cmsToneCurve* curve = cmsBuildGamma(nullptr, 1.0 / gamma);
        if (gray) {
          profile.p = cmsCreateGrayProfile(&white, curve);
        } else {
          cmsToneCurve* curves[3] = {curve, curve, curve};
          profile.p = cmsCreateRGBProfile(&white, &primaries, curves);
        }
        cmsFreeToneCurve(curve);
      }
    }
    // A grey picture stays grey for a grey profile, else becomes RGB.
    if (gray && (profile.p == nullptr ||
                 cmsGetColorSpace(profile.p) != cmsSigGrayData)) {
      png_set_gray_to_rgb(png);
      gray = false;
    }
    if (profile.p != nullptr && cmsGetColorSpace(profile.p) !=
                                    (gray ? cmsSigGrayData : cmsSigRgbData)) {
      cmsCloseProfile(profile.p);
      profile.p = nullptr;
    }
    png_set_expand(png);
    png_set_expand_16(png);
    png_set_add_alpha(png, 0xffff, PNG_FILLER_AFTER);
    if (std::endian::native == std::endian::little) png_set_swap(png);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    out->w = static_cast<int>(png_get_image_width(png, info));
    out->h = static_cast<int>(png_get_image_height(png, info));
    const size_t channels = gray ? 2 : 4;
    const size_t n = static_cast<size_t>(out->w) * out->h;
    pixels.resize(n * channels);
    rows.resize(static_cast<size_t>(out->h));
    for (int y = 0; y < out->h; ++y) {
      rows[static_cast<size_t>(y)] = reinterpret_cast<png_bytep>(
          pixels.data() + static_cast<size_t>(y) * out->w * channels);
    }
    png_read_image(png, rows.data());
    // RGBA in sRGB, 16 bits a channel.
    std::vector<uint16_t> srgb(n * 4);
    if (profile.p != nullptr) {
      ok = ToSrgb(profile.p, gray ? TYPE_GRAYA_16 : TYPE_RGBA_16, pixels.data(),
                  TYPE_RGBA_16, srgb.data(), n);
    } else {
      srgb = std::move(pixels);
      ok = true;
    }
    out->v.resize(n);
    for (size_t i = 0; i < n && ok; ++i) {
      const uint16_t* p = &srgb[4 * i];
      const double a = p[3] / 65535.0;
      auto over_white = [a](uint16_t c) {
        return (c * a + 65535.0 * (1 - a)) / 257.0;
      };
      out->v[i] = Luma(over_white(p[0]), over_white(p[1]), over_white(p[2]));
    }
  }
  png_destroy_read_struct(&png, &info, nullptr);
  std::fclose(f);
  return ok;
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
  jpeg_save_markers(&cinfo, JPEG_APP0 + 2, 0xFFFF);
  jpeg_read_header(&cinfo, TRUE);
  JOCTET* icc = nullptr;
  unsigned int icc_length = 0;
  Profile profile;
  if (jpeg_read_icc_profile(&cinfo, &icc, &icc_length)) {
    profile.p = cmsOpenProfileFromMem(icc, icc_length);
    std::free(icc);
  }
  const bool cmyk =
      cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
  const bool inverted = cmyk && cinfo.saw_Adobe_marker;
  cmsUInt32Number format = TYPE_RGB_8;
  cmsColorSpaceSignature space = cmsSigRgbData;
  int channels = 3;
  if (cmyk) {
    cinfo.out_color_space = JCS_CMYK;
    format = inverted ? TYPE_CMYK_8_REV : TYPE_CMYK_8;
    space = cmsSigCmykData;
    channels = 4;
  } else if (cinfo.jpeg_color_space == JCS_GRAYSCALE && profile.p != nullptr &&
             cmsGetColorSpace(profile.p) == cmsSigGrayData) {
    cinfo.out_color_space = JCS_GRAYSCALE;
    format = TYPE_GRAY_8;
    space = cmsSigGrayData;
    channels = 1;
  } else {
    cinfo.out_color_space = JCS_RGB;
  }
  if (profile.p != nullptr && cmsGetColorSpace(profile.p) != space) {
    cmsCloseProfile(profile.p);
    profile.p = nullptr;
  }
  cinfo.dct_method = JDCT_ISLOW;
  jpeg_start_decompress(&cinfo);
  out->w = static_cast<int>(cinfo.output_width);
  out->h = static_cast<int>(cinfo.output_height);
  out->v.assign(static_cast<size_t>(out->w) * out->h, 0.0f);
  std::vector<unsigned char> row(static_cast<size_t>(out->w) * channels);
  std::vector<unsigned char> rgb(static_cast<size_t>(out->w) * 3);
  cmsHTRANSFORM transform = nullptr;
  Profile srgb(cmsCreate_sRGBProfile());
  if (profile.p != nullptr) {
    transform = cmsCreateTransform(profile.p, format, srgb.p, TYPE_RGB_8,
                                   INTENT_PERCEPTUAL, 0);
  }
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW r = row.data();
    int y = static_cast<int>(cinfo.output_scanline);
    jpeg_read_scanlines(&cinfo, &r, 1);
    if (transform != nullptr) {
      cmsDoTransform(transform, row.data(), rgb.data(),
                     static_cast<cmsUInt32Number>(out->w));
    } else if (cmyk) {
      // No profile: the naive inks, 0 meaning full ink when inverted.
      for (int x = 0; x < out->w; ++x) {
        const unsigned char* p = &row[4 * static_cast<size_t>(x)];
        for (int c = 0; c < 3; ++c) {
          const int ink = inverted ? p[c] : 255 - p[c];
          const int black = inverted ? p[3] : 255 - p[3];
          rgb[3 * static_cast<size_t>(x) + c] =
              static_cast<unsigned char>(ink * black / 255);
        }
      }
    } else {
      rgb = row;
    }
    float* dst = out->v.data() + static_cast<size_t>(y) * out->w;
    for (int x = 0; x < out->w; ++x) {
      dst[x] = Luma(rgb[3 * x], rgb[3 * x + 1], rgb[3 * x + 2]);
    }
  }
  if (transform != nullptr) cmsDeleteTransform(transform);
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
