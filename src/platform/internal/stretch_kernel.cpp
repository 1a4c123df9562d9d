#include "platform/internal/stretch_kernel.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

namespace vg::platform::gdi_internal {
namespace {

constexpr int kWeightBits = 14;
constexpr int32_t kOne = 1 << kWeightBits;
// The vertical pass keeps 8 fraction bits: (sum of w * byte) >> 6.
constexpr int kRowShift = kWeightBits - 8;
constexpr int kOutShift = kWeightBits + 8;

// The taps of one axis for the output positions [out_begin, out_end) of an
// output span `out` pixels long covering an input span `in` pixels long.
struct AxisTaps {
  std::vector<int32_t> first;    // first input index of each output
  std::vector<int32_t> count;    // number of taps of each output
  std::vector<int32_t> offset;   // start of each output's weights in `weights`
  std::vector<int32_t> weights;  // 2.14 fixed point, summing to kOne
  int32_t min_input = 0;         // smallest input index used
  int32_t max_input = 0;         // largest input index used
};

// Quantises the exact weights num[k] / den to 2.14 and puts the rounding
// residue on the largest, so the set sums to exactly kOne.
void AppendQuantised(const std::vector<int64_t>& num, int64_t den,
                     std::vector<int32_t>* weights) {
  int32_t sum = 0;
  size_t largest = 0;
  const size_t base = weights->size();
  for (size_t k = 0; k < num.size(); ++k) {
    const int32_t q =
        static_cast<int32_t>((num[k] * kOne * 2 + den) / (2 * den));
    weights->push_back(q);
    sum += q;
    if (num[k] > num[largest]) largest = k;
  }
  (*weights)[base + largest] += kOne - sum;
}

AxisTaps MakeTaps(int32_t in, int32_t out, int32_t out_begin, int32_t out_end) {
  AxisTaps t;
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
      // Output j covers the input interval [j*in/out, (j+1)*in/out). In units
      // of 1/out, input k covers [k*out, (k+1)*out) and output j covers
      // [j*in, (j+1)*in): the weight of k is the overlap divided by `in`.
      const int64_t lo = static_cast<int64_t>(j) * in;
      const int64_t hi = lo + in;
      first = static_cast<int32_t>(lo / out);
      const int32_t last = static_cast<int32_t>((hi - 1) / out);
      for (int32_t k = first; k <= last; ++k) {
        const int64_t k_lo = static_cast<int64_t>(k) * out;
        num.push_back(std::min(hi, k_lo + out) - std::max(lo, k_lo));
      }
      den = in;
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

// Blends the taps' source rows (columns [col_begin, col_end) of the source)
// into `row` with 8 fraction bits.
void VerticalPass(const ConstImageView& src, const AxisTaps& rows,
                  size_t out_index, int32_t col_begin, int32_t col_end,
                  int32_t* acc, uint16_t* row) {
  const int32_t bpp = BytesPerPixel(src.format);
  const size_t n = static_cast<size_t>(col_end - col_begin) * bpp;
  const int32_t first = rows.first[out_index];
  const int32_t count = rows.count[out_index];
  const int32_t* w = rows.weights.data() + rows.offset[out_index];
  if (count == 1) {
    const uint8_t* s = src.At(col_begin, first);
    for (size_t i = 0; i < n; ++i) row[i] = static_cast<uint16_t>(s[i] << 8);
    return;
  }
  {
    const uint8_t* s = src.At(col_begin, first);
    const int32_t wk = w[0];
    for (size_t i = 0; i < n; ++i) acc[i] = wk * s[i];
  }
  for (int32_t k = 1; k < count; ++k) {
    const uint8_t* s = src.At(col_begin, first + k);
    const int32_t wk = w[k];
    for (size_t i = 0; i < n; ++i) acc[i] += wk * s[i];
  }
  constexpr int32_t kHalf = 1 << (kRowShift - 1);
  for (size_t i = 0; i < n; ++i) {
    row[i] = static_cast<uint16_t>((acc[i] + kHalf) >> kRowShift);
  }
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
    out[0] = static_cast<uint8_t>(std::min((b + kHalf) >> kOutShift, 255));
    out[1] = static_cast<uint8_t>(std::min((g + kHalf) >> kOutShift, 255));
    out[2] = static_cast<uint8_t>(std::min((r + kHalf) >> kOutShift, 255));
    if constexpr (DstBpp == 4) out[3] = 0xFF;
  }
}

using HorizontalFn = void (*)(const uint16_t*, int32_t, const AxisTaps&,
                              uint8_t*);

HorizontalFn PickHorizontal(PixelFormat src, PixelFormat dst) {
  if (src == PixelFormat::kBgr24) {
    return dst == PixelFormat::kBgr24 ? HorizontalPass<3, 3>
                                      : HorizontalPass<3, 4>;
  }
  return dst == PixelFormat::kBgr24 ? HorizontalPass<4, 3>
                                    : HorizontalPass<4, 4>;
}

}  // namespace

bool StretchCopy(const ConstImageView& src, const ImageView& dst, int32_t x,
                 int32_t y, int32_t w, int32_t h) {
  if (w <= 0 || h <= 0 || src.width <= 0 || src.height <= 0) return false;
  // Output positions, relative to the rectangle, that land inside dst.
  const int64_t x_begin = std::max<int64_t>(0, -static_cast<int64_t>(x));
  const int64_t x_end = std::min<int64_t>(w, int64_t{dst.width} - x);
  const int64_t y_begin = std::max<int64_t>(0, -static_cast<int64_t>(y));
  const int64_t y_end = std::min<int64_t>(h, int64_t{dst.height} - y);
  if (x_begin >= x_end || y_begin >= y_end) return true;

  try {
    const AxisTaps cols = MakeTaps(src.width, w, static_cast<int32_t>(x_begin),
                                   static_cast<int32_t>(x_end));
    const AxisTaps rows = MakeTaps(src.height, h, static_cast<int32_t>(y_begin),
                                   static_cast<int32_t>(y_end));
    const int32_t col_begin = cols.min_input;
    const int32_t col_end = cols.max_input + 1;
    const size_t row_len =
        static_cast<size_t>(col_end - col_begin) * BytesPerPixel(src.format);
    std::vector<int32_t> acc(row_len);
    std::vector<uint16_t> row(row_len);
    const HorizontalFn horizontal = PickHorizontal(src.format, dst.format);
    const int32_t out_x = static_cast<int32_t>(x + x_begin);
    for (int64_t j = y_begin; j < y_end; ++j) {
      const size_t index = static_cast<size_t>(j - y_begin);
      VerticalPass(src, rows, index, col_begin, col_end, acc.data(),
                   row.data());
      horizontal(row.data(), col_begin, cols,
                 dst.At(out_x, static_cast<int32_t>(y + j)));
    }
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

}  // namespace vg::platform::gdi_internal
