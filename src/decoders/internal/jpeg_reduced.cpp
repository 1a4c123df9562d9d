#include "decoders/internal/jpeg_reduced.h"

#include <array>
#include <cstring>
#include <utility>

#include "decoders/internal/picture_error.h"

namespace vg::decoders::decoders_internal {
namespace {

// Where each coefficient of a block's rows stands in the zigzag order.
constexpr std::array<uint8_t, 64> kZigzagOf = [] {
  std::array<uint8_t, 64> zigzag{};
  for (size_t k = 0; k < 64; ++k) {
    zigzag[kJpegNaturalOrder[k]] = static_cast<uint8_t>(k);
  }
  return zigzag;
}();

// The inverse DCTs' fixed point: constants of 13 fractional bits, and two
// more bits kept between the column and the row passes.
constexpr int kConstBits = 13;
constexpr int kPass1Bits = 2;

int64_t Descale(int64_t x, int n) { return (x + (int64_t{1} << (n - 1))) >> n; }

// A block: its DC, the AC coefficients its transform reads (kept as
// JpegKeptSlots says), a bit for each nonzero AC coefficient, and the
// quantisers in zigzag order as 16-bit signed multipliers (as libjpeg
// keeps them).
struct Block {
  int16_t dc;
  const int16_t* ac;
  uint64_t nonzero;
  const int32_t* multiplier;
};

// The dequantised coefficient at row R, column C of a block kept for the
// transform of Side points; 0 for one that transform does not read.
template <int Side, size_t R, size_t C>
[[gnu::always_inline]] inline int64_t At(const Block& b) {
  constexpr size_t k = kZigzagOf[R * 8 + C];
  constexpr int slot = JpegKeptSlots(Side)[k];
  if constexpr (k == 0) {
    return int64_t{b.dc} * b.multiplier[0];
  } else if constexpr (slot < 0) {
    return 0;
  } else {
    return int64_t{b.ac[slot]} * b.multiplier[k];
  }
}

// The two-point step from values at 0, 1, 3, 5 and 7 of eight: each output
// the mean of four of the full transform's.
inline std::array<int64_t, 2> TwoPoint(int64_t v0, int64_t v1, int64_t v3,
                                       int64_t v5, int64_t v7) {
  const int64_t even = v0 * (int64_t{1} << (kConstBits + 2));
  const int64_t odd = v7 * -5906 + v5 * 6967 + v3 * -10426 + v1 * 29692;
  return {even + odd, even - odd};
}

// The four-point step from values at 0-3 and 5-7: each output the mean of
// two.
inline std::array<int64_t, 4> FourPoint(int64_t v0, int64_t v1, int64_t v2,
                                        int64_t v3, int64_t v5, int64_t v6,
                                        int64_t v7) {
  const int64_t dc = v0 * (int64_t{1} << (kConstBits + 1));
  const int64_t even = v2 * 15137 + v6 * -6270;
  const int64_t odd0 = v7 * -1730 + v5 * 11893 + v3 * -17799 + v1 * 8697;
  const int64_t odd2 = v7 * -4176 + v5 * -4926 + v3 * 7373 + v1 * 20995;
  return {dc + even + odd2, dc - even + odd0, dc - even - odd0,
          dc + even - odd2};
}

// libjpeg's clamp after the transform, as a table of its 10-bit index.
const std::array<uint8_t, 1024>& Limit() {
  static const std::array<uint8_t, 1024> kLimit = [] {
    std::array<uint8_t, 1024> limit{};
    for (int32_t i = 0; i < 1024; ++i) {
      limit[static_cast<size_t>(i)] = JpegIdctLimit(i);
    }
    return limit;
  }();
  return kLimit;
}

uint8_t Output(int64_t value, int bits) {
  return Limit()[static_cast<size_t>(Descale(value, bits) & 1023)];
}

// The full eight-point step (Loeffler, Ligtenberg and Moschytz, as
// libjpeg's accurate integer transform does it).
inline std::array<int64_t, 8> EightPoint(const std::array<int64_t, 8>& v) {
  // Even part: values 0, 2, 4 and 6.
  const int64_t rotated = (v[2] + v[6]) * 4433;
  const int64_t e2 = rotated + v[6] * -15137;
  const int64_t e3 = rotated + v[2] * 6270;
  const int64_t e0 = (v[0] + v[4]) * (int64_t{1} << kConstBits);
  const int64_t e1 = (v[0] - v[4]) * (int64_t{1} << kConstBits);
  const int64_t even0 = e0 + e3;
  const int64_t even3 = e0 - e3;
  const int64_t even1 = e1 + e2;
  const int64_t even2 = e1 - e2;
  // Odd part: values 7, 5, 3 and 1.
  const int64_t z1 = (v[7] + v[1]) * -7373;
  const int64_t z2 = (v[5] + v[3]) * -20995;
  const int64_t z5 = (v[7] + v[3] + v[5] + v[1]) * 9633;
  const int64_t z3 = (v[7] + v[3]) * -16069 + z5;
  const int64_t z4 = (v[5] + v[1]) * -3196 + z5;
  const int64_t odd0 = v[7] * 2446 + z1 + z3;
  const int64_t odd1 = v[5] * 16819 + z2 + z4;
  const int64_t odd2 = v[3] * 25172 + z2 + z3;
  const int64_t odd3 = v[1] * 12299 + z1 + z4;
  return {even0 + odd3, even1 + odd2, even2 + odd1, even3 + odd0,
          even3 - odd0, even2 - odd1, even1 - odd2, even0 - odd3};
}

// The step of Side points over the eight values of a column or row.
template <int Side>
[[gnu::always_inline]] inline std::array<int64_t, Side> Step(
    const std::array<int64_t, 8>& v) {
  if constexpr (Side == 2) {
    return TwoPoint(v[0], v[1], v[3], v[5], v[7]);
  } else if constexpr (Side == 4) {
    return FourPoint(v[0], v[1], v[2], v[3], v[5], v[6], v[7]);
  } else {
    return EightPoint(v);
  }
}

// The bits a step of Side points adds: each of its outputs the sum of
// 8 / Side of the full transform's.
constexpr int ExtraBits(int side) { return side == 2 ? 2 : side == 4 ? 1 : 0; }

// Between the passes: Side rows of eight columns.
template <int Side>
using Work = std::array<std::array<int64_t, 8>, Side>;

// Column C of a block through the step, into rows 0 to Side - 1 of
// `work`; a column without AC is its DC. The columns the row step does
// not read (2, 4 and 6 at two points, 4 at four) are left alone.
template <int Side, size_t C>
[[gnu::always_inline]] inline void Column(const Block& b, Work<Side>& work) {
  if constexpr (JpegKeptSlots(Side)[kZigzagOf[C]] >= 0 || C == 0) {
    const std::array<int64_t, 8> v = [&]<size_t... R>(
        std::index_sequence<R...>) {
      return std::array<int64_t, 8>{At<Side, R, C>(b)...};
    }
    (std::make_index_sequence<8>{});
    if ((v[1] | v[2] | v[3] | v[4] | v[5] | v[6] | v[7]) == 0) {
      for (size_t r = 0; r < Side; ++r) work[r][C] = v[0] * (1 << kPass1Bits);
      return;
    }
    const std::array<int64_t, Side> out = Step<Side>(v);
    constexpr int kBits = kConstBits - kPass1Bits + ExtraBits(Side);
    for (size_t r = 0; r < Side; ++r) {
      // Kept in an int between the passes, as libjpeg keeps it.
      work[r][C] = static_cast<int32_t>(Descale(out[r], kBits));
    }
  }
}

// One block through libjpeg's inverse DCT of Side x Side pixels (2, 4 or
// 8): columns, then rows.
template <int Side>
void InverseDct(const Block& b, uint8_t* out, size_t stride) {
  constexpr uint64_t kRead = [] {
    uint64_t read = 0;
    for (size_t k = 0; k < 64; ++k) {
      if (JpegKeptSlots(Side)[k] >= 0) read |= uint64_t{1} << k;
    }
    return read;
  }();
  if ((b.nonzero & kRead) == 0) {
    // The DC alone: one value, as both passes leave it.
    const uint8_t flat = Output(int64_t{b.dc} * b.multiplier[0], 3);
    for (size_t r = 0; r < Side; ++r) std::memset(out + r * stride, flat, Side);
    return;
  }
  Work<Side> work{};
  [&]<size_t... C>(std::index_sequence<C...>) {
    (Column<Side, C>(b, work), ...);
  }
  (std::make_index_sequence<8>{});
  constexpr int kBits = kConstBits + kPass1Bits + 3 + ExtraBits(Side);
  for (size_t r = 0; r < Side; ++r) {
    const std::array<int64_t, Side> v = Step<Side>(work[r]);
    for (size_t c = 0; c < Side; ++c) out[r * stride + c] = Output(v[c], kBits);
  }
}

// A row of chroma drawn up to twice its width as libjpeg's "fancy"
// upsampling draws it: each output sample three parts of its nearer input
// sample and one of the farther, alternately rounded down and up.
void Widen(const uint8_t* in, size_t width, uint8_t* out) {
  if (width <= 2) {
    // Too narrow to filter: each sample twice.
    for (size_t x = 0; x < width; ++x) out[2 * x] = out[2 * x + 1] = in[x];
    return;
  }
  out[0] = in[0];
  out[1] = static_cast<uint8_t>((in[0] * 3 + in[1] + 2) >> 2);
  for (size_t x = 1; x + 1 < width; ++x) {
    const int32_t near = in[x] * 3;
    out[2 * x] = static_cast<uint8_t>((near + in[x - 1] + 1) >> 2);
    out[2 * x + 1] = static_cast<uint8_t>((near + in[x + 1] + 2) >> 2);
  }
  const size_t last = width - 1;
  out[2 * last] = static_cast<uint8_t>((in[last] * 3 + in[last - 1] + 1) >> 2);
  out[2 * last + 1] = in[last];
}

}  // namespace

JpegReducedRows::JpegReducedRows(const JpegDc& coefficients)
    : columns_(static_cast<int32_t>(
          (int64_t{coefficients.width} * coefficients.scale + 7) / 8)),
      rows_(static_cast<int32_t>(
          (int64_t{coefficients.height} * coefficients.scale + 7) / 8)) {
  for (const JpegDcComponent& comp : coefficients.components) {
    Plane& plane = planes_.emplace_back();
    plane.component = &comp;
    plane.side = comp.side;
    plane.width = static_cast<int32_t>(
        (int64_t{coefficients.width} * comp.h * plane.side +
         int64_t{coefficients.max_h} * 8 - 1) /
        (int64_t{coefficients.max_h} * 8));
    plane.half_wide =
        comp.h * plane.side != coefficients.max_h * coefficients.scale;
    for (size_t k = 0; k < 64; ++k) {
      plane.multipliers[k] =
          static_cast<int16_t>(comp.quant[kJpegNaturalOrder[k]]);
    }
    Allocate(plane.strip, static_cast<size_t>(comp.used_wide) *
                              static_cast<size_t>(plane.side * plane.side));
    if (plane.half_wide) {
      Allocate(plane.widened, 2 * static_cast<size_t>(plane.width));
    }
  }
}

size_t JpegReducedRows::RowBytes(bool grey_out) const {
  return static_cast<size_t>(columns_) * (grey_out ? 1 : 4);
}

const uint8_t* JpegReducedRows::PlaneRow(Plane& plane, int32_t y) {
  const JpegDcComponent& comp = *plane.component;
  const auto side = static_cast<size_t>(plane.side);
  const size_t stride = static_cast<size_t>(comp.used_wide) * side;
  const int32_t block_row = y / plane.side;
  if (block_row != plane.block_row) {
    const size_t first =
        static_cast<size_t>(block_row) * static_cast<size_t>(comp.blocks_wide);
    for (size_t bx = 0; bx < static_cast<size_t>(comp.used_wide); ++bx) {
      const Block block{
          comp.dc[first + bx],
          comp.ac.data() + (first + bx) * static_cast<size_t>(comp.ac_stride),
          comp.nonzero[first + bx], plane.multipliers.data()};
      uint8_t* out = plane.strip.data() + bx * side;
      if (plane.side == 2) {
        InverseDct<2>(block, out, stride);
      } else if (plane.side == 4) {
        InverseDct<4>(block, out, stride);
      } else {
        InverseDct<8>(block, out, stride);
      }
    }
    plane.block_row = block_row;
  }
  const uint8_t* row =
      plane.strip.data() + static_cast<size_t>(y % plane.side) * stride;
  if (!plane.half_wide) return row;
  Widen(row, static_cast<size_t>(plane.width), plane.widened.data());
  return plane.widened.data();
}

void JpegReducedRows::Row(int32_t y, bool grey_out, uint8_t* row) {
  const uint8_t* luma = PlaneRow(planes_[0], y);
  const auto width = static_cast<size_t>(columns_);
  if (grey_out) {
    std::memcpy(row, luma, width);
    return;
  }
  if (planes_.size() == 1) {
    for (size_t x = 0; x < width; ++x) {
      uint8_t* px = row + 4 * x;
      px[0] = px[1] = px[2] = luma[x];
      px[3] = 0xFF;
    }
    return;
  }
  const uint8_t* cb = PlaneRow(planes_[1], y);
  const uint8_t* cr = PlaneRow(planes_[2], y);
  JpegYccRowToBgrx(luma, cb, cr, width, row);
}

}  // namespace vg::decoders::decoders_internal
