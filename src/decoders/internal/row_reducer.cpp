#include "decoders/internal/row_reducer.h"

#include <algorithm>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "decoders/internal/orientation.h"

namespace vg::decoders::decoders_internal {
namespace {

// Returns `colour` seen through `alpha` over white, rounded to nearest.
inline uint8_t OverWhite(unsigned colour, unsigned alpha) {
  return static_cast<uint8_t>((colour * alpha + 255 * (255 - alpha) + 127) /
                              255);
}

// Adds the sums of `width` columns of kChannels each from `columns` to
// `sum`, the last column `edge_extra` times more.
template <size_t kChannels>
void SumColumns(const uint32_t* columns, size_t width, uint64_t edge_extra,
                uint64_t (&sum)[4]) {
  for (size_t x = 0; x < width; ++x, columns += kChannels) {
    for (size_t c = 0; c < kChannels; ++c) sum[c] += columns[c];
  }
  columns -= kChannels;
  for (size_t c = 0; c < kChannels; ++c) sum[c] += columns[c] * edge_extra;
}

#if defined(__SSE2__)
// ColourToBgrx for four pixels of 4 bytes in one register.
template <int kBlue, bool kAlpha>
__m128i FourToBgrx(__m128i px) {
  const __m128i alpha_bytes = _mm_set1_epi32(static_cast<int>(0xFF000000));
  if constexpr (kBlue == 2) {
    // Red and blue change places in each pixel.
    const __m128i red_blue = _mm_set1_epi32(0x00FF00FF);
    const __m128i low = _mm_set1_epi32(0xFF);
    px = _mm_or_si128(_mm_andnot_si128(red_blue, px),
                      _mm_or_si128(_mm_slli_epi32(_mm_and_si128(px, low), 16),
                                   _mm_and_si128(_mm_srli_epi32(px, 16), low)));
  }
  if constexpr (kAlpha) {
    const __m128i opaque = _mm_cmpeq_epi8(
        _mm_or_si128(px, _mm_set1_epi32(0x00FFFFFF)), _mm_set1_epi8(-1));
    if (_mm_movemask_epi8(opaque) != 0xFFFF) {
      // OverWhite in 16-bit lanes: v = c * a + 255 * (255 - a) + 127 is at
      // most 65152, and v / 255 is (v * 0x8081) >> 23 for every 16-bit v.
      const __m128i zero = _mm_setzero_si128();
      const __m128i full = _mm_set1_epi16(255);
      const __m128i half = _mm_set1_epi16(127);
      const __m128i by_255 = _mm_set1_epi16(static_cast<int16_t>(0x8081));
      auto over_white = [&](__m128i c) {
        __m128i a = _mm_shufflelo_epi16(c, _MM_SHUFFLE(3, 3, 3, 3));
        a = _mm_shufflehi_epi16(a, _MM_SHUFFLE(3, 3, 3, 3));
        const __m128i v = _mm_add_epi16(
            _mm_add_epi16(_mm_mullo_epi16(c, a),
                          _mm_mullo_epi16(_mm_sub_epi16(full, a), full)),
            half);
        return _mm_srli_epi16(_mm_mulhi_epu16(v, by_255), 7);
      };
      px = _mm_packus_epi16(over_white(_mm_unpacklo_epi8(px, zero)),
                            over_white(_mm_unpackhi_epi8(px, zero)));
    }
  }
  return _mm_or_si128(px, alpha_bytes);
}
#endif

// Writes `count` colour pixels of kStep bytes at `in` as BGRX at `out`: blue
// at byte kBlue of each (0 or 2, red at the other end), alpha at byte 3 when
// kAlpha, composited on white.
template <int kStep, int kBlue, bool kAlpha>
void ColourToBgrx(const uint8_t* in, int32_t count, uint8_t* out) {
  constexpr int kRed = 2 - kBlue;
  int32_t x = 0;
#if defined(__SSE2__)
  if constexpr (kStep == 4) {
    for (; x + 4 <= count; x += 4, in += 16, out += 16) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out),
                       FourToBgrx<kBlue, kAlpha>(_mm_loadu_si128(
                           reinterpret_cast<const __m128i*>(in))));
    }
  }
#endif
  for (; x < count; ++x, in += kStep, out += 4) {
    const unsigned a = kAlpha ? in[3] : 255;
    if (a == 255) {
      out[0] = in[kBlue];
      out[1] = in[1];
      out[2] = in[kRed];
    } else {
      out[0] = OverWhite(in[kBlue], a);
      out[1] = OverWhite(in[1], a);
      out[2] = OverWhite(in[kRed], a);
    }
    out[3] = 255;
  }
}

// Writes `count` pixels of `layout` at `in` as BGRX at `out`, transparency
// composited on white.
void ToBgrx(const uint8_t* in, RowLayout layout, int32_t count, uint8_t* out) {
  switch (layout) {
    case RowLayout::kGrey:
      for (int32_t x = 0; x < count; ++x, in += 1, out += 4) {
        out[0] = out[1] = out[2] = in[0];
        out[3] = 255;
      }
      return;
    case RowLayout::kGreyAlpha:
      for (int32_t x = 0; x < count; ++x, in += 2, out += 4) {
        out[0] = out[1] = out[2] =
            in[1] == 255 ? in[0] : OverWhite(in[0], in[1]);
        out[3] = 255;
      }
      return;
    case RowLayout::kRgb:
      return ColourToBgrx<3, 2, false>(in, count, out);
    case RowLayout::kRgba:
      return ColourToBgrx<4, 2, true>(in, count, out);
    case RowLayout::kBgrx:
      return ColourToBgrx<4, 0, false>(in, count, out);
    case RowLayout::kBgra:
      return ColourToBgrx<4, 0, true>(in, count, out);
  }
}

// Writes one BGRA pixel with straight alpha at `out`: nothing of the colour
// of a pixel that shows none. Returns true when it is less than opaque.
inline bool PutStraight(uint8_t* out, uint8_t blue, uint8_t green, uint8_t red,
                        uint8_t alpha) {
  const bool clear = alpha == 0;
  out[0] = clear ? 0 : blue;
  out[1] = clear ? 0 : green;
  out[2] = clear ? 0 : red;
  out[3] = alpha;
  return alpha != 255;
}

// Writes `count` pixels of `layout` at `in` as BGRA with straight alpha at
// `out`; returns true when some pixel is less than opaque.
bool ToBgra(const uint8_t* in, RowLayout layout, int32_t count, uint8_t* out) {
  bool translucent = false;
  switch (layout) {
    case RowLayout::kGrey:
    case RowLayout::kRgb:
    case RowLayout::kBgrx:
      ToBgrx(in, layout, count, out);
      break;
    case RowLayout::kGreyAlpha:
      for (int32_t x = 0; x < count; ++x, in += 2, out += 4) {
        translucent |= PutStraight(out, in[0], in[0], in[0], in[1]);
      }
      break;
    case RowLayout::kRgba:
      for (int32_t x = 0; x < count; ++x, in += 4, out += 4) {
        translucent |= PutStraight(out, in[2], in[1], in[0], in[3]);
      }
      break;
    case RowLayout::kBgra:
      for (int32_t x = 0; x < count; ++x, in += 4, out += 4) {
        translucent |= PutStraight(out, in[0], in[1], in[2], in[3]);
      }
      break;
  }
  return translucent;
}

int32_t CeilDiv(int32_t size, int32_t factor) {
  return static_cast<int32_t>((int64_t{size} + factor - 1) / factor);
}

}  // namespace

int32_t RowLayoutBytes(RowLayout layout) {
  switch (layout) {
    case RowLayout::kGrey:
      return 1;
    case RowLayout::kGreyAlpha:
      return 2;
    case RowLayout::kRgb:
      return 3;
    case RowLayout::kRgba:
    case RowLayout::kBgrx:
    case RowLayout::kBgra:
      return 4;
  }
  return 4;
}

int32_t ReductionFactor(int32_t width, int32_t height, const DecodeHint& hint) {
  const int64_t need_w = ReducedScaleNeed(hint.target_width_px);
  const int64_t need_h = ReducedScaleNeed(hint.target_height_px);
  if (need_w <= 0 && need_h <= 0) return 1;
  int64_t factor = kMaxPictureSidePx;
  if (need_w > 0) factor = std::min(factor, width / need_w);
  if (need_h > 0) factor = std::min(factor, height / need_h);
  return static_cast<int32_t>(std::max<int64_t>(factor, 1));
}

int64_t RowReducer::OutputBytes(int32_t width, int32_t height, int32_t factor) {
  return int64_t{CeilDiv(width, factor)} * CeilDiv(height, factor) * 4;
}

RowReducer::RowReducer(int32_t width, int32_t height, int32_t factor,
                       RowLayout layout, bool keep_alpha)
    : width_(width),
      height_(height),
      factor_(std::max(factor, 1)),
      layout_(layout),
      keep_alpha_(keep_alpha) {
  out_.width = width_;
  out_.height = height_;
  out_.pixel_width = CeilDiv(width_, factor_);
  out_.pixel_height = CeilDiv(height_, factor_);
  out_.stride_bytes = out_.pixel_width * 4;
  out_.bgrx.resize(static_cast<size_t>(OutputBytes(width_, height_, factor_)));
  if (factor_ > 1 && keep_alpha_) {
    bgrx_row_.resize(static_cast<size_t>(width_) * 4);
    sums_.resize(static_cast<size_t>(out_.pixel_width) * 4);
  } else if (factor_ > 1) {
    // Grey and RGB rows are summed as they come; the others once composited
    // on white, as BGRX.
    column_layout_ = layout_ == RowLayout::kGrey  ? RowLayout::kGrey
                     : layout_ == RowLayout::kRgb ? RowLayout::kRgb
                                                  : RowLayout::kBgrx;
    if (column_layout_ != layout_) {
      bgrx_row_.resize(static_cast<size_t>(width_) * 4);
    }
    columns_.resize(static_cast<size_t>(width_) *
                    static_cast<size_t>(RowLayoutBytes(column_layout_)));
    if (factor_ <= kMaxNarrowFactor) narrow_columns_.resize(columns_.size());
  }
}

void RowReducer::Convert(const uint8_t* row, uint8_t* out) {
  if (keep_alpha_) {
    translucent_ |= ToBgra(row, layout_, width_, out);
  } else {
    ToBgrx(row, layout_, width_, out);
  }
}

void RowReducer::AddRow(const uint8_t* row) {
  if (next_row_ >= height_) return;
  if (factor_ == 1) {
    Convert(row, out_.bgrx.data() +
                     static_cast<size_t>(next_row_) * out_.stride_bytes);
    ++next_row_;
    return;
  }
  if (!keep_alpha_) {
    if (layout_ == column_layout_) {
      AddColumns(row);
    } else {
      ToBgrx(row, layout_, width_, bgrx_row_.data());
      AddColumns(bgrx_row_.data());
    }
    return;
  }
  // With alpha kept, each colour weighted by its alpha.
  Convert(row, bgrx_row_.data());
  // The last row of a picture whose height is no whole number of blocks
  // counts for the rows its block lacks too, and so does the last pixel of
  // a row for the pixels its block lacks: each block is a whole square of
  // the picture, its edge repeated, as a reduced JPEG's blocks are, so that
  // every output pixel stands for the square it is drawn over.
  const uint64_t row_weight =
      next_row_ == height_ - 1
          ? uint64_t{1} + (factor_ - height_ % factor_) % factor_
          : 1;
  const uint64_t edge_extra = (factor_ - width_ % factor_) % factor_;
  const uint8_t* p = bgrx_row_.data();
  for (int32_t bx = 0; bx < out_.pixel_width; ++bx) {
    const int32_t end = static_cast<int32_t>(
        std::min<int64_t>(width_, int64_t{bx + 1} * factor_));
    const bool last = bx == out_.pixel_width - 1;
    uint64_t* sum = &sums_[static_cast<size_t>(bx) * 4];
    uint64_t b = 0;
    uint64_t g = 0;
    uint64_t r = 0;
    uint64_t a = 0;
    for (int32_t x = bx * factor_; x < end; ++x, p += 4) {
      const uint64_t alpha = p[3];
      const uint64_t times = last && x == end - 1 ? 1 + edge_extra : 1;
      b += p[0] * alpha * times;
      g += p[1] * alpha * times;
      r += p[2] * alpha * times;
      a += alpha * times;
    }
    sum[0] += b * row_weight;
    sum[1] += g * row_weight;
    sum[2] += r * row_weight;
    sum[3] += a * row_weight;
  }
  ++next_row_;
  if (next_row_ % factor_ == 0 || next_row_ == height_) EmitBlockRow();
}

void RowReducer::AddColumns(const uint8_t* row) {
  // Each column's sum, channel by channel as the row holds them: one add a
  // byte. The last row counts for the rows its block lacks too (see AddRow).
  const uint32_t weight =
      next_row_ == height_ - 1
          ? 1u + static_cast<uint32_t>((factor_ - height_ % factor_) % factor_)
          : 1u;
  if (narrow_columns_.empty()) {
    uint32_t* columns = columns_.data();
    for (size_t i = 0; i < columns_.size(); ++i) columns[i] += row[i] * weight;
  } else {
    uint16_t* columns = narrow_columns_.data();
    const size_t n = narrow_columns_.size();
    size_t i = 0;
    if (weight == 1) {
#if defined(__SSE2__)
      // 16 bytes widened to 16 sums at a time.
      const __m128i zero = _mm_setzero_si128();
      for (; i + 16 <= n; i += 16) {
        const __m128i bytes =
            _mm_loadu_si128(reinterpret_cast<const __m128i_u*>(row + i));
        auto* sums = reinterpret_cast<__m128i_u*>(columns + i);
        _mm_storeu_si128(sums, _mm_add_epi16(_mm_loadu_si128(sums),
                                             _mm_unpacklo_epi8(bytes, zero)));
        _mm_storeu_si128(sums + 1,
                         _mm_add_epi16(_mm_loadu_si128(sums + 1),
                                       _mm_unpackhi_epi8(bytes, zero)));
      }
#endif
    }
    for (; i < n; ++i) {
      columns[i] = static_cast<uint16_t>(columns[i] + row[i] * weight);
    }
  }
  ++next_row_;
  if (next_row_ % factor_ == 0 || next_row_ == height_) EmitBlockRow();
}

void RowReducer::WidenNarrowColumns() {
  uint16_t* narrow = narrow_columns_.data();
  uint32_t* columns = columns_.data();
  const size_t n = narrow_columns_.size();
  size_t i = 0;
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  for (; i + 8 <= n; i += 8) {
    auto* from = reinterpret_cast<__m128i_u*>(narrow + i);
    auto* to = reinterpret_cast<__m128i_u*>(columns + i);
    const __m128i sums = _mm_loadu_si128(from);
    _mm_storeu_si128(
        to, _mm_add_epi32(_mm_loadu_si128(to), _mm_unpacklo_epi16(sums, zero)));
    _mm_storeu_si128(to + 1, _mm_add_epi32(_mm_loadu_si128(to + 1),
                                           _mm_unpackhi_epi16(sums, zero)));
    _mm_storeu_si128(from, zero);
  }
#endif
  for (; i < n; ++i) {
    columns[i] += narrow[i];
    narrow[i] = 0;
  }
}

void RowReducer::WidenColumns() {
  if (column_layout_ == RowLayout::kBgrx) return;
  WidenNarrowColumns();
  const bool grey = column_layout_ == RowLayout::kGrey;
  std::vector<uint32_t> wide(static_cast<size_t>(width_) * 4);
  for (size_t x = 0; x < static_cast<size_t>(width_); ++x) {
    for (size_t c = 0; c < 3; ++c) {
      wide[x * 4 + c] = grey ? columns_[x] : columns_[x * 3 + 2 - c];
    }
  }
  columns_ = std::move(wide);
  if (!narrow_columns_.empty()) narrow_columns_.resize(columns_.size());
  column_layout_ = RowLayout::kBgrx;
  bgrx_row_.resize(static_cast<size_t>(width_) * 4);
}

void RowReducer::EmitBlockRow() {
  // Every block counts factor x factor pixels, its edge repeated where the
  // picture ends inside it (AddRow).
  const int32_t y = next_row_ - 1;
  uint8_t* dst =
      out_.bgrx.data() + static_cast<size_t>(y / factor_) * out_.stride_bytes;
  const int64_t count = int64_t{factor_} * factor_;
  WidenNarrowColumns();
  for (int32_t bx = 0; bx < out_.pixel_width; ++bx, dst += 4) {
    if (keep_alpha_) {
      // The premultiplied mean divided by the mean alpha: each colour
      // counts as much as it shows.
      uint64_t* sum = &sums_[static_cast<size_t>(bx) * 4];
      const uint64_t alpha = sum[3];
      dst[3] = static_cast<uint8_t>((alpha + static_cast<uint64_t>(count) / 2) /
                                    static_cast<uint64_t>(count));
      for (int c = 0; c < 3; ++c) {
        dst[c] = dst[3] == 0
                     ? 0
                     : static_cast<uint8_t>((sum[c] + alpha / 2) / alpha);
      }
      std::fill_n(sum, 4, 0);
      continue;
    }
    // The block's columns, the last one again for those the picture lacks.
    const size_t channels = static_cast<size_t>(RowLayoutBytes(column_layout_));
    const auto end = static_cast<int32_t>(
        std::min<int64_t>(width_, int64_t{bx + 1} * factor_));
    const uint64_t edge_extra =
        bx == out_.pixel_width - 1 ? (factor_ - width_ % factor_) % factor_ : 0;
    uint64_t sum[4] = {0, 0, 0, 0};
    const uint32_t* first = &columns_[static_cast<size_t>(bx) *
                                      static_cast<size_t>(factor_) * channels];
    const size_t width = static_cast<size_t>(end - bx * factor_);
    switch (channels) {
      case 1:
        SumColumns<1>(first, width, edge_extra, sum);
        break;
      case 3:
        SumColumns<3>(first, width, edge_extra, sum);
        break;
      default:
        SumColumns<4>(first, width, edge_extra, sum);
        break;
    }
    // Blue, green, red of the layout's channels.
    const size_t blue = column_layout_ == RowLayout::kRgb ? 2 : 0;
    const size_t green = column_layout_ == RowLayout::kGrey ? 0 : 1;
    const size_t red = column_layout_ == RowLayout::kGrey  ? 0
                       : column_layout_ == RowLayout::kRgb ? 0
                                                           : 2;
    const uint64_t half = static_cast<uint64_t>(count) / 2;
    dst[0] =
        static_cast<uint8_t>((sum[blue] + half) / static_cast<uint64_t>(count));
    dst[1] = static_cast<uint8_t>((sum[green] + half) /
                                  static_cast<uint64_t>(count));
    dst[2] =
        static_cast<uint8_t>((sum[red] + half) / static_cast<uint64_t>(count));
    dst[3] = 255;
  }
  std::fill(columns_.begin(), columns_.end(), 0);
}

DecodedImage RowReducer::Finish(uint8_t blue, uint8_t green, uint8_t red) {
  if (next_row_ < height_) {
    // Rows never added count as the fill colour: those inside the block
    // being summed are added; the blocks after it are the colour itself.
    std::vector<uint8_t> fill(static_cast<size_t>(width_) * 4);
    for (size_t i = 0; i < fill.size(); i += 4) {
      fill[i] = blue;
      fill[i + 1] = green;
      fill[i + 2] = red;
      fill[i + 3] = 255;
    }
    // The fill is BGRX: sums kept grey or RGB are widened to take it.
    if (factor_ > 1 && !keep_alpha_) WidenColumns();
    const RowLayout layout = std::exchange(layout_, RowLayout::kBgrx);
    while (next_row_ < height_ && next_row_ % factor_ != 0) {
      AddRow(fill.data());
    }
    layout_ = layout;
    for (int32_t y = CeilDiv(next_row_, factor_); y < out_.pixel_height; ++y) {
      std::copy_n(
          fill.begin(), out_.stride_bytes,
          out_.bgrx.begin() + static_cast<ptrdiff_t>(y) * out_.stride_bytes);
    }
    next_row_ = height_;
  }
  bgrx_row_ = {};
  sums_ = {};
  columns_ = {};
  narrow_columns_ = {};
  out_.has_alpha = keep_alpha_ && translucent_;
  out_.area = ReducedArea(width_, height_, out_.pixel_width, out_.pixel_height,
                          1, factor_);
  return std::exchange(out_, DecodedImage{});
}

}  // namespace vg::decoders::decoders_internal
