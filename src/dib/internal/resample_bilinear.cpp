// The fast bilinear resampler. Same bytes as the pixel-by-pixel reference,
// in one pass over the destination:
//   - per destination column, the source offsets and the two weights are
//     worked out once per call (a table of w entries);
//   - per destination row, the vertical step is done once for each source
//     column that some destination column reads, into a row of doubles, and
//     the horizontal step reads that row. Upscaling reuses each vertical
//     result for several destination pixels; a steep shrink visits only the
//     columns it samples;
//   - a destination row whose source position equals the previous row's
//     (a source one pixel high) keeps the previous vertical row;
//   - on x86-64 both steps work on two doubles at a time with SSE2, which
//     every such CPU has; elsewhere plain loops do the same operations.
//
// Why double precision gives the exact nearest integer. Let t be a fraction
// (yf or xf, a float in [0, 1)) and a, b in 0..255 the two samples; the
// weights are 1 - t, worked out in double from the float t, and t itself.
// (The float 1 - t would be off by up to 2^-25: enough to move a sum such as
// 2 + 3 * float(1/6) = 2.500000015 below the half and round it down.)
//   - If t >= 2^-22, t is a multiple of its unit in the last place, at least
//     2^-45, and so is 1 - t, which lies in (0, 1]: the weight is exact.
//     (1 - t) * a and t * b are multiples of 2^-45 below 2^8, so each takes
//     at most 53 bits, and so does their sum: every step is exact.
//   - If 0 < t < 2^-22, the exact sum a + t * (b - a) lies within
//     255 * 2^-22 < 2^-13 of the integer a; the double weight and sum are off
//     from it by a few units of 2^-45 at most, and both round to a. For
//     t = 0 the sum is a.
// The vertical results are thus integers in 0..255 and the horizontal step
// has the same shape. Fused multiply-adds, where the compiler forms them,
// change nothing: both products are exact, so the sum is rounded once either
// way. The exact sum lies between a and b, so the clamp to 0..255 can never
// bite; it stays as a guard.
#include "dib/internal/resample_bilinear.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vg::dib::dib_internal {
namespace {

// 1.5 * 2^52: a double in [2^52, 2^53) has no fraction bits, so adding this
// constant makes the FPU round to an integer, halves to even in the default
// rounding mode -- the same result as std::nearbyint there, without a call.
// Valid for |v| < 2^51; our sums stay below 2^8.
constexpr double kRoundingBias = 6755399441055744.0;

inline double Nearest(double v) { return (v + kRoundingBias) - kRoundingBias; }

// The rounded value as an integer, read from the low mantissa bits.
inline int32_t NearestInt(double v) {
  return static_cast<int32_t>(std::bit_cast<uint64_t>(v + kRoundingBias));
}

// One sample position: the integer part (clamped into the source), the
// neighbour (the last column or row reuses itself), and the fraction.
struct Position {
  int32_t index;
  int32_t next;
  float fraction;
};

inline Position PositionAt(float scale, int32_t i, int32_t size) {
  const auto pos =
      static_cast<float>(static_cast<double>(scale) * static_cast<double>(i));
  const int32_t index =
      std::min(static_cast<int32_t>(std::floor(pos)), size - 1);
  return {index, std::min(index + 1, size - 1),
          pos - static_cast<float>(index)};
}

// One destination column: where its two source pixels sit in the vertical
// row (offsets in doubles) and their weights.
struct ColumnTap {
  int32_t left;
  int32_t right;
  double w_left;
  double w_right;
};

#if defined(__SSE2__)
// Eight bytes as four pairs of doubles, in order.
struct EightBytes {
  __m128d pairs[4];
};

inline EightBytes LoadEightBytes(const uint8_t* p) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i words = _mm_unpacklo_epi8(
      _mm_loadl_epi64(reinterpret_cast<const __m128i_u*>(p)), zero);
  const __m128i lo = _mm_unpacklo_epi16(words, zero);
  const __m128i hi = _mm_unpackhi_epi16(words, zero);
  return {{_mm_cvtepi32_pd(lo), _mm_cvtepi32_pd(_mm_unpackhi_epi64(lo, lo)),
           _mm_cvtepi32_pd(hi), _mm_cvtepi32_pd(_mm_unpackhi_epi64(hi, hi))}};
}
#endif

// Vertical step for `count` consecutive bytes. The SSE2 path does the same
// IEEE double operations two at a time, so it gives the same values.
void BlendRows(const uint8_t* row0, const uint8_t* row1, double w0, double w1,
               std::ptrdiff_t count, double* out) {
  std::ptrdiff_t i = 0;
#if defined(__SSE2__)
  const __m128d v0 = _mm_set1_pd(w0);
  const __m128d v1 = _mm_set1_pd(w1);
  const __m128d bias = _mm_set1_pd(kRoundingBias);
  for (; i + 8 <= count; i += 8) {
    const EightBytes a = LoadEightBytes(row0 + i);
    const EightBytes b = LoadEightBytes(row1 + i);
    for (std::ptrdiff_t j = 0; j < 4; ++j) {
      const __m128d sum =
          _mm_add_pd(_mm_mul_pd(v0, a.pairs[j]), _mm_mul_pd(v1, b.pairs[j]));
      _mm_storeu_pd(out + i + 2 * j, _mm_sub_pd(_mm_add_pd(sum, bias), bias));
    }
  }
#endif
  for (; i < count; ++i) {
    out[i] = Nearest(w0 * row0[i] + w1 * row1[i]);
  }
}

void CopyRow(const uint8_t* row, std::ptrdiff_t count, double* out) {
  std::ptrdiff_t i = 0;
#if defined(__SSE2__)
  for (; i + 8 <= count; i += 8) {
    const EightBytes a = LoadEightBytes(row + i);
    for (std::ptrdiff_t j = 0; j < 4; ++j)
      _mm_storeu_pd(out + i + 2 * j, a.pairs[j]);
  }
#endif
  for (; i < count; ++i) out[i] = row[i];
}

// Horizontal step for one destination row of w pixels.
void BlendColumns(const ColumnTap* taps, int32_t w, const double* vrow,
                  uint8_t* out) {
  int32_t x = 0;
#if defined(__SSE2__)
  // Blue and green as one pair of doubles, red alone: the same operations as
  // the loop below. The rounded values sit in the low 32 bits of each biased
  // double; saturating packs to 16 then 8 bits do the clamp to 0..255.
  const __m128d bias = _mm_set1_pd(kRoundingBias);
  for (; x < w; ++x, out += 3) {
    const ColumnTap& t = taps[x];
    const double* l = vrow + t.left;
    const double* r = vrow + t.right;
    const __m128d wl = _mm_set1_pd(t.w_left);
    const __m128d wr = _mm_set1_pd(t.w_right);
    const __m128d blue_green =
        _mm_add_pd(_mm_add_pd(_mm_mul_pd(wl, _mm_loadu_pd(l)),
                              _mm_mul_pd(wr, _mm_loadu_pd(r))),
                   bias);
    const __m128d red =
        _mm_add_sd(_mm_add_sd(_mm_mul_sd(wl, _mm_load_sd(l + 2)),
                              _mm_mul_sd(wr, _mm_load_sd(r + 2))),
                   bias);
    const __m128i ints =
        _mm_unpacklo_epi64(_mm_shuffle_epi32(_mm_castpd_si128(blue_green),
                                             _MM_SHUFFLE(3, 3, 2, 0)),
                           _mm_castpd_si128(red));
    const __m128i words = _mm_packs_epi32(ints, ints);
    const auto bytes = static_cast<uint32_t>(
        _mm_cvtsi128_si32(_mm_packus_epi16(words, words)));
    // x86 is little-endian: blue is the lowest byte. The fourth byte lands
    // on the next pixel's blue, rewritten right after; never past the row.
    if (x + 1 < w) {
      std::memcpy(out, &bytes, 4);
    } else {
      std::memcpy(out, &bytes, 3);
    }
  }
#endif
  for (; x < w; ++x, out += 3) {
    const ColumnTap& t = taps[x];
    const double* l = vrow + t.left;
    const double* r = vrow + t.right;
    for (int k = 0; k < 3; ++k) {
      const int32_t v = NearestInt(t.w_left * l[k] + t.w_right * r[k]);
      out[k] = static_cast<uint8_t>(std::clamp(v, 0, 255));
    }
  }
}

}  // namespace

void ResampleBilinear(const uint8_t* src, int32_t W, int32_t H,
                      int32_t src_stride, uint8_t* dst, int32_t w, int32_t h,
                      int32_t dst_stride) {
  if (W < 1 || H < 1 || w < 1 || h < 1) return;
  const auto x_scale =
      static_cast<float>(static_cast<double>(W - 1) / static_cast<double>(w));
  const auto y_scale =
      static_cast<float>(static_cast<double>(H - 1) / static_cast<double>(h));

  // Which source columns are read, and where each lands in the vertical row.
  std::vector<Position> positions(static_cast<std::size_t>(w));
  std::vector<int32_t> slot_of(static_cast<std::size_t>(W), -1);
  for (int32_t x = 0; x < w; ++x) {
    const Position p = PositionAt(x_scale, x, W);
    positions[static_cast<std::size_t>(x)] = p;
    slot_of[static_cast<std::size_t>(p.index)] = 0;
    slot_of[static_cast<std::size_t>(p.next)] = 0;
  }
  std::vector<int32_t> columns;  // source columns to blend, ascending
  for (int32_t c = 0; c < W; ++c) {
    if (slot_of[static_cast<std::size_t>(c)] == 0) columns.push_back(c);
  }
  // When most columns are read anyway, blend the whole row: one straight
  // loop over contiguous bytes beats an indexed one.
  const bool whole_row = columns.size() * 2 >= static_cast<std::size_t>(W);
  if (whole_row) {
    for (int32_t c = 0; c < W; ++c) slot_of[static_cast<std::size_t>(c)] = c;
  } else {
    for (std::size_t s = 0; s < columns.size(); ++s) {
      slot_of[static_cast<std::size_t>(columns[s])] = static_cast<int32_t>(s);
    }
  }
  std::vector<ColumnTap> taps(static_cast<std::size_t>(w));
  for (int32_t x = 0; x < w; ++x) {
    const Position& p = positions[static_cast<std::size_t>(x)];
    taps[static_cast<std::size_t>(x)] = {
        3 * slot_of[static_cast<std::size_t>(p.index)],
        3 * slot_of[static_cast<std::size_t>(p.next)],
        1.0 - static_cast<double>(p.fraction), static_cast<double>(p.fraction)};
  }
  const std::size_t slots =
      whole_row ? static_cast<std::size_t>(W) : columns.size();
  std::vector<double> blended(3 * slots);
  double* vrow = blended.data();
  const std::ptrdiff_t row_bytes = 3 * static_cast<std::ptrdiff_t>(W);

  Position previous{-1, -1, 0.0f};
  for (int32_t y = 0; y < h; ++y) {
    const Position p = PositionAt(y_scale, y, H);
    if (p.index != previous.index || p.fraction != previous.fraction) {
      const uint8_t* row0 =
          src + static_cast<std::ptrdiff_t>(p.index) * src_stride;
      const uint8_t* row1 =
          src + static_cast<std::ptrdiff_t>(p.next) * src_stride;
      // A zero fraction gives the row itself: 1 * a + 0 * b = a.
      const double w0 = 1.0 - static_cast<double>(p.fraction);
      const auto w1 = static_cast<double>(p.fraction);
      if (whole_row) {
        if (p.fraction == 0.0f) {
          CopyRow(row0, row_bytes, vrow);
        } else {
          BlendRows(row0, row1, w0, w1, row_bytes, vrow);
        }
      } else {
        double* out = vrow;
        for (int32_t c : columns) {
          const std::ptrdiff_t off = 3 * static_cast<std::ptrdiff_t>(c);
          BlendRows(row0 + off, row1 + off, w0, w1, 3, out);
          out += 3;
        }
      }
      previous = p;
    }

    BlendColumns(taps.data(), w, vrow,
                 dst + static_cast<std::ptrdiff_t>(y) * dst_stride);
  }
}

}  // namespace vg::dib::dib_internal
