#include "image/stretch.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <numbers>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vg::image {
namespace {

constexpr int kWeightBits = 14;
constexpr int32_t kOne = 1 << kWeightBits;
// The vertical pass keeps 7 fraction bits, so that a blended row value
// (at most 255 << 7) fits a signed 16-bit lane.
constexpr int kRowBits = 7;
constexpr int kRowShift = kWeightBits - kRowBits;
constexpr int kOutShift = kWeightBits + kRowBits;
constexpr int32_t kRowMax = 255 << kRowBits;

// The taps of one axis for the output positions [out_begin, out_end) of an
// output span `out` pixels long covering an input span `in` pixels long.
struct AxisTaps {
  std::vector<int32_t> first;    // first input index of each output
  std::vector<int32_t> count;    // number of taps of each output
  std::vector<int32_t> offset;   // start of each output's weights in `weights`
  std::vector<int32_t> weights;  // 2.14 fixed point, summing to kOne
  int32_t min_input = 0;         // smallest input index used
  int32_t max_input = 0;         // largest input index used
  // The weights again as pmaddwd takes them, two taps a 32-bit word: w[k]
  // in the low half, w[k + 1] in the high one (0 after an odd last tap);
  // output j's words start at pair_offset[j] (PairWeights).
  std::vector<int32_t> pairs;
  std::vector<int32_t> pair_offset;
};

void PairWeights(AxisTaps* t) {
  t->pair_offset.reserve(t->first.size());
  for (size_t j = 0; j < t->first.size(); ++j) {
    t->pair_offset.push_back(static_cast<int32_t>(t->pairs.size()));
    const int32_t* w = t->weights.data() + t->offset[j];
    const int32_t count = t->count[j];
    for (int32_t k = 0; k < count; k += 2) {
      const uint32_t high =
          k + 1 < count ? static_cast<uint32_t>(w[k + 1]) : 0u;
      t->pairs.push_back(static_cast<int32_t>(
          high << 16 | (static_cast<uint32_t>(w[k]) & 0xFFFFu)));
    }
  }
}

// Quantises the exact weights num[k] / den (which sum to exactly 1) to 2.14
// by rounding their running sum: each weight is within one step of exact,
// the set sums to exactly kOne, and no single tap takes all the rounding
// (which matters when a huge shrink makes every weight tiny).
void AppendQuantised(const std::vector<int64_t>& num, int64_t den,
                     std::vector<int32_t>* weights) {
  int64_t running = 0;
  int64_t previous = 0;
  for (const int64_t part : num) {
    running += part;
    const int64_t rounded = (running * kOne * 2 + den) / (2 * den);
    weights->push_back(static_cast<int32_t>(rounded - previous));
    previous = rounded;
  }
}

// As AppendQuantised, for real weights real[k] / sum, some of them negative.
void AppendQuantisedReal(const std::vector<double>& real, double sum,
                         std::vector<int32_t>* weights) {
  double running = 0;
  int64_t previous = 0;
  for (size_t k = 0; k < real.size(); ++k) {
    running += real[k];
    const int64_t rounded =
        k + 1 == real.size() ? kOne : std::llround(running / sum * kOne);
    weights->push_back(static_cast<int32_t>(rounded - previous));
    previous = rounded;
  }
}

// The Lanczos window of three lobes: sinc(x) sinc(x / 3) for |x| < 3.
constexpr double kLobes = 3.0;
double Lanczos(double x) {
  x = std::fabs(x);
  if (x < 1e-12) return 1.0;
  if (x >= kLobes) return 0.0;
  const double px = std::numbers::pi * x;
  return kLobes * std::sin(px) * std::sin(px / kLobes) / (px * px);
}

// Lanczos-3 stretched to an output pixel `scale` input pixels wide, centred
// at `centre` of an input `in` pixels long: writes the weights of the
// inputs from the one returned on into `real` and their total into `sum`.
// Taps beyond an edge count for the edge pixel, as if it were repeated.
int32_t LanczosWeights(int32_t in, double centre, double scale,
                       std::vector<double>* real, double* sum) {
  const int32_t lo = static_cast<int32_t>(
      std::max(0.0, std::floor(centre - kLobes * scale) + 1));
  const int32_t hi =
      std::max(lo, static_cast<int32_t>(std::min<double>(
                       in - 1, std::ceil(centre + kLobes * scale) - 1)));
  const int32_t reach = static_cast<int32_t>(std::ceil(kLobes * scale));
  real->assign(static_cast<size_t>(hi - lo) + 1, 0.0);
  for (int32_t k = static_cast<int32_t>(std::floor(centre)) - reach;
       k <= static_cast<int32_t>(std::ceil(centre)) + reach; ++k) {
    const double v = Lanczos((k - centre) / scale);
    if (v == 0) continue;
    (*real)[static_cast<size_t>(std::clamp(k, lo, hi) - lo)] += v;
    *sum += v;
  }
  return lo;
}

// The taps of one axis whose output spans the part [start, start + length)
// of an input `in` pixels long, length not `in`: the same filters, centred
// on real positions.
AxisTaps MakeAreaTaps(int32_t in, double start, double length, int32_t out,
                      int32_t out_begin, int32_t out_end) {
  AxisTaps t;
  std::vector<double> real;
  const double scale = length / out;
  for (int32_t j = out_begin; j < out_end; ++j) {
    const double centre = start + (j + 0.5) * scale - 0.5;
    int32_t lo = 0;
    real.clear();
    double sum = 0;
    if (scale > 1) {
      lo = LanczosWeights(in, centre, scale, &real, &sum);
    } else {
      // Bilinear between the two pixel centres around the point.
      const double c = std::clamp(centre, 0.0, in - 1.0);
      lo = std::min(static_cast<int32_t>(std::floor(c)), in - 1);
      const double frac = c - lo;
      real.push_back(1 - frac);
      if (lo + 1 < in) real.push_back(frac);
      for (double v : real) sum += v;
    }
    t.first.push_back(lo);
    t.count.push_back(static_cast<int32_t>(real.size()));
    t.offset.push_back(static_cast<int32_t>(t.weights.size()));
    AppendQuantisedReal(real, sum, &t.weights);
  }
  t.min_input = *std::min_element(t.first.begin(), t.first.end());
  t.max_input = 0;
  for (size_t k = 0; k < t.first.size(); ++k) {
    t.max_input = std::max(t.max_input, t.first[k] + t.count[k] - 1);
  }
  return t;
}

AxisTaps MakeTaps(int32_t in, int32_t out, int32_t out_begin, int32_t out_end) {
  AxisTaps t;
  std::vector<double> real;
  const size_t n = static_cast<size_t>(out_end - out_begin);
  t.first.reserve(n);
  t.count.reserve(n);
  t.offset.reserve(n);
  std::vector<int64_t> num;
  for (int32_t j = out_begin; j < out_end; ++j) {
    num.clear();
    int32_t first = 0;
    int64_t den = 1;
    if (in == out) {
      first = j;
      num.push_back(1);
    } else if (in > out) {
      // Lanczos-3 stretched to the output pixel: the taps cover three output
      // pixels each side of the centre. Taps beyond an edge count for the
      // edge pixel, as if it were repeated.
      const double scale = static_cast<double>(in) / out;
      const double centre = (j + 0.5) * scale - 0.5;
      double sum = 0;
      first = LanczosWeights(in, centre, scale, &real, &sum);
      t.first.push_back(first);
      t.count.push_back(static_cast<int32_t>(real.size()));
      t.offset.push_back(static_cast<int32_t>(t.weights.size()));
      AppendQuantisedReal(real, sum, &t.weights);
      continue;
    } else {
      // Centre of output j in input coordinates: ((2j+1)*in - out) / (2*out).
      const int64_t c_num = (2 * static_cast<int64_t>(j) + 1) * in - out;
      const int64_t c_den = 2 * static_cast<int64_t>(out);
      if (c_num <= 0) {
        first = 0;
        num.push_back(1);
      } else {
        first = static_cast<int32_t>(c_num / c_den);
        const int64_t frac = c_num % c_den;
        if (first >= in - 1 || frac == 0) {
          first = std::min(first, in - 1);
          num.push_back(1);
        } else {
          num.push_back(c_den - frac);
          num.push_back(frac);
          den = c_den;
        }
      }
    }
    if (num.size() == 1) den = num[0];
    t.first.push_back(first);
    t.count.push_back(static_cast<int32_t>(num.size()));
    t.offset.push_back(static_cast<int32_t>(t.weights.size()));
    AppendQuantised(num, den, &t.weights);
  }
  t.min_input = t.first.front();
  t.max_input = t.first.back() + t.count.back() - 1;
  return t;
}

// Scratch space of one call, reused for every output row.
struct Scratch {
  std::vector<const uint8_t*> tap_rows;
  std::vector<int32_t> acc;
  std::vector<uint16_t> row;
};

// Blends bytes [begin, n) of the tap rows into `row`, one byte at a time.
void VerticalScalar(const uint8_t* const* p, const int32_t* w, int32_t count,
                    size_t begin, size_t n, int32_t* acc, uint16_t* row) {
  for (size_t i = begin; i < n; ++i) acc[i] = w[0] * p[0][i];
  for (int32_t k = 1; k < count; ++k) {
    const uint8_t* s = p[k];
    const int32_t wk = w[k];
    for (size_t i = begin; i < n; ++i) acc[i] += wk * s[i];
  }
  constexpr int32_t kHalf = 1 << (kRowShift - 1);
  for (size_t i = begin; i < n; ++i) {
    row[i] = static_cast<uint16_t>(
        std::clamp((acc[i] + kHalf) >> kRowShift, 0, kRowMax));
  }
}

#if defined(__SSE2__)
// 16 bytes at a time, two tap rows per multiply-add: the bytes of rows k and
// k+1 are interleaved as 16-bit pairs and pmaddwd sums w[k]*a + w[k+1]*b.
// `pairs` holds the weights so paired; after an odd last row p[count] is
// any row (its weight is 0). Returns the number of bytes done.
size_t VerticalSse2(const uint8_t* const* p, const int32_t* pairs,
                    int32_t count, size_t n, uint16_t* row) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i half = _mm_set1_epi32(1 << (kRowShift - 1));
  const __m128i top = _mm_set1_epi16(kRowMax);
  size_t i = 0;
  for (; i + 16 <= n; i += 16) {
    __m128i acc0 = zero, acc1 = zero, acc2 = zero, acc3 = zero;
    for (int32_t k = 0; k < count; k += 2) {
      const __m128i weights = _mm_set1_epi32(pairs[k / 2]);
      const __m128i a =
          _mm_loadu_si128(reinterpret_cast<const __m128i*>(p[k] + i));
      const __m128i b =
          _mm_loadu_si128(reinterpret_cast<const __m128i*>(p[k + 1] + i));
      const __m128i a_lo = _mm_unpacklo_epi8(a, zero);
      const __m128i a_hi = _mm_unpackhi_epi8(a, zero);
      const __m128i b_lo = _mm_unpacklo_epi8(b, zero);
      const __m128i b_hi = _mm_unpackhi_epi8(b, zero);
      acc0 = _mm_add_epi32(
          acc0, _mm_madd_epi16(_mm_unpacklo_epi16(a_lo, b_lo), weights));
      acc1 = _mm_add_epi32(
          acc1, _mm_madd_epi16(_mm_unpackhi_epi16(a_lo, b_lo), weights));
      acc2 = _mm_add_epi32(
          acc2, _mm_madd_epi16(_mm_unpacklo_epi16(a_hi, b_hi), weights));
      acc3 = _mm_add_epi32(
          acc3, _mm_madd_epi16(_mm_unpackhi_epi16(a_hi, b_hi), weights));
    }
    acc0 = _mm_srai_epi32(_mm_add_epi32(acc0, half), kRowShift);
    acc1 = _mm_srai_epi32(_mm_add_epi32(acc1, half), kRowShift);
    acc2 = _mm_srai_epi32(_mm_add_epi32(acc2, half), kRowShift);
    acc3 = _mm_srai_epi32(_mm_add_epi32(acc3, half), kRowShift);
    // Negative lobes can overshoot: clamp to [0, 255 << kRowBits].
    _mm_storeu_si128(
        reinterpret_cast<__m128i*>(row + i),
        _mm_min_epi16(_mm_max_epi16(_mm_packs_epi32(acc0, acc1), zero), top));
    _mm_storeu_si128(
        reinterpret_cast<__m128i*>(row + i + 8),
        _mm_min_epi16(_mm_max_epi16(_mm_packs_epi32(acc2, acc3), zero), top));
  }
  return i;
}
#endif

// Blends the taps' source rows (columns [col_begin, col_end) of the source)
// into `row` with kRowBits fraction bits.
void VerticalPass(const ConstImageView& src, const AxisTaps& rows,
                  size_t out_index, int32_t col_begin, int32_t col_end,
                  Scratch* scratch) {
  const int32_t bpp = BytesPerPixel(src.format);
  const size_t n = static_cast<size_t>(col_end - col_begin) * bpp;
  const int32_t first = rows.first[out_index];
  const int32_t count = rows.count[out_index];
  const int32_t* w = rows.weights.data() + rows.offset[out_index];
  uint16_t* row = scratch->row.data();
  if (count == 1) {
    const uint8_t* s = src.At(col_begin, first);
    for (size_t i = 0; i < n; ++i) {
      row[i] = static_cast<uint16_t>(s[i] << kRowBits);
    }
    return;
  }
  const uint8_t** p = scratch->tap_rows.data();
  for (int32_t k = 0; k < count; ++k) p[k] = src.At(col_begin, first + k);
  p[count] = p[count - 1];  // the partner of an odd last row, weighed 0
  size_t done = 0;
#if defined(__SSE2__)
  done = VerticalSse2(p, rows.pairs.data() + rows.pair_offset[out_index], count,
                      n, row);
#endif
  VerticalScalar(p, w, count, done, n, scratch->acc.data(), row);
}

template <int SrcBpp, int DstBpp>
void HorizontalPass(const uint16_t* row, int32_t col_begin,
                    const AxisTaps& cols, uint8_t* out) {
  constexpr int32_t kHalf = 1 << (kOutShift - 1);
  const size_t n = cols.first.size();
  for (size_t j = 0; j < n; ++j, out += DstBpp) {
    const int32_t* w = cols.weights.data() + cols.offset[j];
    const uint16_t* s =
        row + static_cast<size_t>(cols.first[j] - col_begin) * SrcBpp;
    const int32_t count = cols.count[j];
    int32_t b = 0, g = 0, r = 0;
    for (int32_t k = 0; k < count; ++k, s += SrcBpp) {
      b += w[k] * s[0];
      g += w[k] * s[1];
      r += w[k] * s[2];
    }
    out[0] = static_cast<uint8_t>(std::clamp((b + kHalf) >> kOutShift, 0, 255));
    out[1] = static_cast<uint8_t>(std::clamp((g + kHalf) >> kOutShift, 0, 255));
    out[2] = static_cast<uint8_t>(std::clamp((r + kHalf) >> kOutShift, 0, 255));
    if constexpr (DstBpp == 4) out[3] = 0xFF;
  }
}

#if defined(__SSE2__)
// 4-lane rows (B,G,R,X): two neighbouring pixels are 8 adjacent lanes;
// interleaving them lane by lane lets pmaddwd blend a pair of taps in all four
// channels at once, with the weights paired beforehand. The row buffer
// carries 8 spare lanes, so the load for a last, unpaired tap stays inside
// it (its partner's weight is 0).
template <int DstBpp>
void HorizontalPass4Sse2(const uint16_t* row, int32_t col_begin,
                         const AxisTaps& cols, uint8_t* out) {
  const __m128i half = _mm_set1_epi32(1 << (kOutShift - 1));
  const size_t n = cols.first.size();
  for (size_t j = 0; j < n; ++j, out += DstBpp) {
    const int32_t* pairs = cols.pairs.data() + cols.pair_offset[j];
    const uint16_t* s =
        row + static_cast<size_t>(cols.first[j] - col_begin) * 4;
    const int32_t count = (cols.count[j] + 1) / 2;
    __m128i acc = _mm_setzero_si128();
    for (int32_t k = 0; k < count; ++k, s += 8) {
      const __m128i weights = _mm_set1_epi32(pairs[k]);
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
      const __m128i lanes = _mm_unpacklo_epi16(v, _mm_srli_si128(v, 8));
      acc = _mm_add_epi32(acc, _mm_madd_epi16(lanes, weights));
    }
    acc = _mm_srai_epi32(_mm_add_epi32(acc, half), kOutShift);
    const __m128i bytes =
        _mm_packus_epi16(_mm_packs_epi32(acc, acc), _mm_setzero_si128());
    const uint32_t bgrx = static_cast<uint32_t>(_mm_cvtsi128_si32(bytes));
    out[0] = static_cast<uint8_t>(bgrx);
    out[1] = static_cast<uint8_t>(bgrx >> 8);
    out[2] = static_cast<uint8_t>(bgrx >> 16);
    if constexpr (DstBpp == 4) out[3] = 0xFF;
  }
}
#endif

using HorizontalFn = void (*)(const uint16_t*, int32_t, const AxisTaps&,
                              uint8_t*);

HorizontalFn PickHorizontal(PixelFormat src, PixelFormat dst) {
  if (src == PixelFormat::kBgr24) {
    return dst == PixelFormat::kBgr24 ? HorizontalPass<3, 3>
                                      : HorizontalPass<3, 4>;
  }
#if defined(__SSE2__)
  return dst == PixelFormat::kBgr24 ? HorizontalPass4Sse2<3>
                                    : HorizontalPass4Sse2<4>;
#else
  return dst == PixelFormat::kBgr24 ? HorizontalPass<4, 3>
                                    : HorizontalPass<4, 4>;
#endif
}

}  // namespace

bool StretchCopy(const ConstImageView& src, const ImageView& dst, int32_t x,
                 int32_t y, int32_t w, int32_t h) {
  return StretchCopy(src, dst, x, y, w, h,
                     SourceArea{0, 0, static_cast<double>(src.width),
                                static_cast<double>(src.height)});
}

bool StretchCopy(const ConstImageView& src, const ImageView& dst, int32_t x,
                 int32_t y, int32_t w, int32_t h, const SourceArea& area) {
  if (w <= 0 || h <= 0 || src.width <= 0 || src.height <= 0) return false;
  if (!(area.width > 0 && area.height > 0 && area.x >= 0 && area.y >= 0 &&
        area.x + area.width <= src.width &&
        area.y + area.height <= src.height)) {
    return false;
  }
  const bool whole_x = area.x == 0 && area.width == src.width;
  const bool whole_y = area.y == 0 && area.height == src.height;
  // Output positions, relative to the rectangle, that land inside dst.
  const int64_t x_begin = std::max<int64_t>(0, -static_cast<int64_t>(x));
  const int64_t x_end = std::min<int64_t>(w, int64_t{dst.width} - x);
  const int64_t y_begin = std::max<int64_t>(0, -static_cast<int64_t>(y));
  const int64_t y_end = std::min<int64_t>(h, int64_t{dst.height} - y);
  if (x_begin >= x_end || y_begin >= y_end) return true;

  try {
    const auto x0 = static_cast<int32_t>(x_begin);
    const auto x1 = static_cast<int32_t>(x_end);
    const auto y0 = static_cast<int32_t>(y_begin);
    const auto y1 = static_cast<int32_t>(y_end);
    AxisTaps cols =
        whole_x ? MakeTaps(src.width, w, x0, x1)
                : MakeAreaTaps(src.width, area.x, area.width, w, x0, x1);
    AxisTaps rows =
        whole_y ? MakeTaps(src.height, h, y0, y1)
                : MakeAreaTaps(src.height, area.y, area.height, h, y0, y1);
    PairWeights(&cols);
    PairWeights(&rows);
    const int32_t col_begin = cols.min_input;
    const int32_t col_end = cols.max_input + 1;
    const size_t row_len =
        static_cast<size_t>(col_end - col_begin) * BytesPerPixel(src.format);
    Scratch scratch;
    scratch.acc.resize(row_len);
    scratch.row.resize(row_len + 8);  // spare lanes for paired loads
    scratch.tap_rows.resize(static_cast<size_t>(*std::max_element(
                                rows.count.begin(), rows.count.end())) +
                            1);
    const HorizontalFn horizontal = PickHorizontal(src.format, dst.format);
    const int32_t out_x = static_cast<int32_t>(x + x_begin);
    for (int64_t j = y_begin; j < y_end; ++j) {
      const size_t index = static_cast<size_t>(j - y_begin);
      VerticalPass(src, rows, index, col_begin, col_end, &scratch);
      horizontal(scratch.row.data(), col_begin, cols,
                 dst.At(out_x, static_cast<int32_t>(y + j)));
    }
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

}  // namespace vg::image
