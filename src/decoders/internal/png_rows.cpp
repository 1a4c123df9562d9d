#include "decoders/internal/png_rows.h"

#include <cstdlib>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vg::decoders::decoders_internal {
namespace {

// The filter types of a row, in the byte before it.
enum FilterType : uint8_t {
  kFilterNone,
  kFilterSub,
  kFilterUp,
  kFilterAverage,
  kFilterPaeth,
};

// IHDR's colour types (6, RGBA, is the rest).
enum ColourType : int { kGrey = 0, kRgb = 2, kPalette = 3, kGreyAlpha = 4 };

// The neighbour nearest to a + b - c; ties go to a, then b.
inline uint8_t Paeth(int a, int b, int c) {
  const int pa = std::abs(b - c);
  const int pb = std::abs(a - c);
  const int pc = std::abs(a + b - c - c);
  if (pa <= pb && pa <= pc) return static_cast<uint8_t>(a);
  return static_cast<uint8_t>(pb <= pc ? b : c);
}

// Byte by byte, for any pixel size. The bytes of one pixel depend on the
// pixel before, not on each other, so the processor overlaps them.
void UnfilterBytes(uint8_t type, uint8_t* row, const uint8_t* prior,
                   size_t length, size_t bpp) {
  const size_t head = bpp < length ? bpp : length;
  switch (type) {
    case kFilterSub:
      for (size_t i = bpp; i < length; ++i) row[i] += row[i - bpp];
      break;
    case kFilterAverage:
      for (size_t i = 0; i < head; ++i) row[i] += prior[i] >> 1;
      for (size_t i = bpp; i < length; ++i) {
        row[i] += static_cast<uint8_t>((row[i - bpp] + prior[i]) >> 1);
      }
      break;
    case kFilterPaeth:
      for (size_t i = 0; i < head; ++i) row[i] += prior[i];
      for (size_t i = bpp; i < length; ++i) {
        row[i] += Paeth(row[i - bpp], prior[i], prior[i - bpp]);
      }
      break;
    default:
      break;
  }
}

#if defined(__SSE2__)

// One pixel of kBpp bytes in the low bytes of a register, and back.
// Three bytes are put together in a register: copied through memory, a
// load of four would wait for the store of three before it.
template <int kBpp>
__m128i LoadPixel(const uint8_t* p) {
  uint32_t v = 0;
  if constexpr (kBpp == 4) {
    std::memcpy(&v, p, 4);
  } else {
    v = uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16;
  }
  return _mm_cvtsi32_si128(static_cast<int>(v));
}
template <int kBpp>
void StorePixel(uint8_t* p, __m128i v) {
  const auto bits = static_cast<uint32_t>(_mm_cvtsi128_si32(v));
  std::memcpy(p, &bits, kBpp);
}

// Paeth in 16-bit lanes: the pixels `raw` holds, filtered, with a, b and c
// their neighbours left, above and above-left, unfiltered; each lane on its
// own. With b and c known, the predictor is a function of a alone: a
// outside (lo, hi), c inside (lo_c, hi_c), else b, where lo and hi are b and
// 3c - 2b in order and c's range runs from 3c - 2b to (3c - b) / 2, ends
// excluded. So the comparisons that wait for the pixel to the left are
// three.
inline __m128i PaethStep(__m128i a, __m128i b, __m128i c, __m128i raw) {
  const __m128i low_bytes = _mm_set1_epi16(0xFF);
  const __m128i one = _mm_set1_epi16(1);
  const __m128i d = _mm_sub_epi16(b, c);
  const __m128i c_ends = _mm_sub_epi16(c, _mm_add_epi16(d, d));
  const __m128i lo = _mm_min_epi16(b, c_ends);
  const __m128i hi = _mm_max_epi16(b, c_ends);
  const __m128i twice_end = _mm_add_epi16(c_ends, c_ends);
  const __m128i middle = _mm_sub_epi16(_mm_add_epi16(c, c), d);
  const __m128i lo_c = _mm_srai_epi16(_mm_min_epi16(twice_end, middle), 1);
  const __m128i hi_c =
      _mm_srai_epi16(_mm_add_epi16(_mm_max_epi16(twice_end, middle), one), 1);
  const __m128i c_or_b = _mm_xor_si128(c, b);
  const __m128i not_a =
      _mm_and_si128(_mm_cmpgt_epi16(a, lo), _mm_cmpgt_epi16(hi, a));
  const __m128i is_c =
      _mm_and_si128(_mm_cmpgt_epi16(a, lo_c), _mm_cmpgt_epi16(hi_c, a));
  const __m128i nearest =
      _mm_xor_si128(_mm_xor_si128(b, _mm_and_si128(is_c, c_or_b)),
                    _mm_andnot_si128(not_a, _mm_xor_si128(a, b)));
  return _mm_and_si128(_mm_add_epi16(raw, nearest), low_bytes);
}

// Sub as running sums over blocks of whole pixels (16 bytes of 4-byte
// pixels, 15 of 3-byte ones): the block plus itself shifted by one, two,
// four pixels sums each pixel with those before it in the block, and the
// last pixel of the blocks before, repeated across the register, adds the
// rest. That carry grows by one addition a block, so blocks do not wait on
// each other's sums. Returns the bytes done, whole blocks that end inside
// the row.
template <int kBpp>
size_t UnfilterSubBlocks(uint8_t* row, size_t length) {
  __m128i carry = _mm_setzero_si128();
  size_t i = 0;
  if constexpr (kBpp == 4) {
    for (; i + 16 <= length; i += 16) {
      auto* at = reinterpret_cast<__m128i*>(row + i);
      __m128i v = _mm_loadu_si128(at);
      v = _mm_add_epi8(v, _mm_slli_si128(v, 4));
      v = _mm_add_epi8(v, _mm_slli_si128(v, 8));
      _mm_storeu_si128(at, _mm_add_epi8(v, carry));
      carry = _mm_add_epi8(carry, _mm_shuffle_epi32(v, 0xFF));
    }
  } else {
    // The 16th byte loaded is the next block's first: stored back as read.
    // Each block is loaded before the one before it is stored: a load that
    // overlaps a store still on its way waits for it.
    const __m128i first15 = _mm_srli_si128(_mm_set1_epi8(-1), 1);
    const __m128i first3 = _mm_cvtsi32_si128(0xFFFFFF);
    __m128i next = length >= 16
                       ? _mm_loadu_si128(reinterpret_cast<const __m128i*>(row))
                       : carry;
    for (; i + 16 <= length; i += 15) {
      auto* at = reinterpret_cast<__m128i*>(row + i);
      const __m128i raw = next;
      if (i + 31 <= length) {
        next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + i + 15));
      }
      __m128i v = _mm_add_epi8(raw, _mm_slli_si128(raw, 3));
      v = _mm_add_epi8(v, _mm_slli_si128(v, 6));
      v = _mm_add_epi8(v, _mm_slli_si128(v, 12));
      _mm_storeu_si128(
          at, _mm_or_si128(_mm_and_si128(_mm_add_epi8(v, carry), first15),
                           _mm_andnot_si128(first15, raw)));
      __m128i last = _mm_and_si128(_mm_srli_si128(v, 12), first3);
      last = _mm_or_si128(last, _mm_slli_si128(last, 3));
      last = _mm_or_si128(last, _mm_slli_si128(last, 6));
      last = _mm_or_si128(last, _mm_slli_si128(last, 12));
      carry = _mm_add_epi8(carry, last);
    }
  }
  return i;
}

// Sub, Average and Paeth for pixels of 3 or 4 bytes, a pixel at a time,
// its samples side by side. `length` is a whole number of pixels.
template <int kBpp>
void UnfilterPixels(uint8_t type, uint8_t* row, const uint8_t* prior,
                    size_t length) {
  const __m128i zero = _mm_setzero_si128();
  switch (type) {
    case kFilterSub: {
      const size_t done = UnfilterSubBlocks<kBpp>(row, length);
      __m128i a = done > 0 ? LoadPixel<kBpp>(row + done - kBpp) : zero;
      for (size_t i = done; i < length; i += kBpp) {
        a = _mm_add_epi8(a, LoadPixel<kBpp>(row + i));
        StorePixel<kBpp>(row + i, a);
      }
      break;
    }
    case kFilterAverage: {
      // (a + b) >> 1 is their rounded-up mean less the carry of an odd sum.
      const __m128i one = _mm_set1_epi8(1);
      __m128i a = zero;
      for (size_t i = 0; i < length; i += kBpp) {
        const __m128i b = LoadPixel<kBpp>(prior + i);
        const __m128i mean = _mm_sub_epi8(
            _mm_avg_epu8(a, b), _mm_and_si128(_mm_xor_si128(a, b), one));
        a = _mm_add_epi8(LoadPixel<kBpp>(row + i), mean);
        StorePixel<kBpp>(row + i, a);
      }
      break;
    }
    case kFilterPaeth: {
      __m128i a = zero;
      __m128i c = zero;
      for (size_t i = 0; i < length; i += kBpp) {
        const __m128i b = _mm_unpacklo_epi8(LoadPixel<kBpp>(prior + i), zero);
        a = PaethStep(a, b, c,
                      _mm_unpacklo_epi8(LoadPixel<kBpp>(row + i), zero));
        StorePixel<kBpp>(row + i, _mm_packus_epi16(a, a));
        c = b;
      }
      break;
    }
    default:
      break;
  }
}

// Paeth on two rows at once, `bottom` right below `top`, each a whole
// number of pixels of kBpp bytes. Step i takes pixel i of the top row and
// pixel i - 2 of the bottom one, side by side in one register: the bottom
// pixel's neighbours above are then two steps old, so that only its left
// neighbour waits on the step before, as in one row, and one step does the
// work of two pixels.
template <int kBpp>
void UnfilterPaethPair(uint8_t* top, uint8_t* bottom, const uint8_t* prior,
                       size_t length) {
  const __m128i zero = _mm_setzero_si128();
  const size_t n = length / kBpp;
  __m128i r1 = zero;  // the step before: top i - 1, bottom i - 3
  __m128i r2 = zero;  // the one before it: top i - 2, bottom i - 4
  __m128i b = zero;   // above: prior i, top i - 2; the next step's c
  for (size_t i = 0; i < n + 2; ++i) {
    const __m128i c = b;
    const __m128i above = i < n ? LoadPixel<kBpp>(prior + i * kBpp) : zero;
    b = _mm_unpacklo_epi64(_mm_unpacklo_epi8(above, zero), r2);
    const __m128i raw_top = i < n ? LoadPixel<kBpp>(top + i * kBpp) : zero;
    const __m128i raw_bottom =
        i >= 2 ? LoadPixel<kBpp>(bottom + (i - 2) * kBpp) : zero;
    const __m128i r = PaethStep(
        r1, b, c,
        _mm_unpacklo_epi8(_mm_unpacklo_epi32(raw_top, raw_bottom), zero));
    const __m128i bytes = _mm_packus_epi16(r, r);
    if (i < n) StorePixel<kBpp>(top + i * kBpp, bytes);
    if (i >= 2) {
      StorePixel<kBpp>(bottom + (i - 2) * kBpp, _mm_srli_si128(bytes, 4));
    }
    r2 = r1;
    r1 = r;
  }
}

// Average on two rows at once, in the order of UnfilterPaethPair: pixel i
// of the top row beside pixel i - 2 of the bottom one, a byte a sample.
template <int kBpp>
void UnfilterAveragePair(uint8_t* top, uint8_t* bottom, const uint8_t* prior,
                         size_t length) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i one = _mm_set1_epi8(1);
  const size_t n = length / kBpp;
  __m128i r1 = zero;  // the step before: top i - 1, bottom i - 3
  __m128i r2 = zero;  // the one before it: top i - 2, bottom i - 4
  for (size_t i = 0; i < n + 2; ++i) {
    const __m128i above = i < n ? LoadPixel<kBpp>(prior + i * kBpp) : zero;
    const __m128i b = _mm_unpacklo_epi32(above, r2);
    const __m128i raw_top = i < n ? LoadPixel<kBpp>(top + i * kBpp) : zero;
    const __m128i raw_bottom =
        i >= 2 ? LoadPixel<kBpp>(bottom + (i - 2) * kBpp) : zero;
    const __m128i mean = _mm_sub_epi8(_mm_avg_epu8(r1, b),
                                      _mm_and_si128(_mm_xor_si128(r1, b), one));
    const __m128i r =
        _mm_add_epi8(_mm_unpacklo_epi32(raw_top, raw_bottom), mean);
    if (i < n) StorePixel<kBpp>(top + i * kBpp, r);
    if (i >= 2) StorePixel<kBpp>(bottom + (i - 2) * kBpp, _mm_srli_si128(r, 4));
    r2 = r1;
    r1 = r;
  }
}

#endif  // __SSE2__

}  // namespace

bool UnfilterPngRow(uint8_t type, uint8_t* row, const uint8_t* prior,
                    size_t length, int bpp) {
  if (type > kFilterPaeth) return false;
  if (type == kFilterNone) return true;
  if (type == kFilterUp) {
    size_t i = 0;
#if defined(__SSE2__)
    for (; i + 16 <= length; i += 16) {
      auto* at = reinterpret_cast<__m128i*>(row + i);
      _mm_storeu_si128(
          at, _mm_add_epi8(_mm_loadu_si128(at),
                           _mm_loadu_si128(
                               reinterpret_cast<const __m128i*>(prior + i))));
    }
#endif
    for (; i < length; ++i) row[i] += prior[i];
    return true;
  }
#if defined(__SSE2__)
  if (bpp == 4 && length % 4 == 0) {
    UnfilterPixels<4>(type, row, prior, length);
    return true;
  }
  if (bpp == 3 && length % 3 == 0) {
    UnfilterPixels<3>(type, row, prior, length);
    return true;
  }
#endif
  UnfilterBytes(type, row, prior, length, static_cast<size_t>(bpp));
  return true;
}

bool UnfilterPngRows(uint8_t top_type, uint8_t* top, uint8_t bottom_type,
                     uint8_t* bottom, const uint8_t* prior, size_t length,
                     int bpp) {
#if defined(__SSE2__)
  if (top_type == bottom_type && (bpp == 3 || bpp == 4) &&
      length % static_cast<size_t>(bpp) == 0) {
    using Pair = void (*)(uint8_t*, uint8_t*, const uint8_t*, size_t);
    Pair pair = nullptr;
    if (top_type == kFilterPaeth) {
      pair = bpp == 4 ? UnfilterPaethPair<4> : UnfilterPaethPair<3>;
    } else if (top_type == kFilterAverage) {
      pair = bpp == 4 ? UnfilterAveragePair<4> : UnfilterAveragePair<3>;
    }
    if (pair != nullptr) {
      pair(top, bottom, prior, length);
      return true;
    }
  }
#endif
  return UnfilterPngRow(top_type, top, prior, length, bpp) &&
         UnfilterPngRow(bottom_type, bottom, top, length, bpp);
}

PngRowExpander::PngRowExpander(const PngRowFormat& format) : format_(format) {
  int samples = 1;
  switch (format.color_type) {
    case kRgb:
      samples = 3;
      break;
    case kGreyAlpha:
      samples = 2;
      break;
    case kPalette:
    case kGrey:
      samples = 1;
      break;
    default:
      samples = 4;
      break;
  }
  const size_t bits = size_t{format.width} * static_cast<size_t>(samples) *
                      static_cast<size_t>(format.bit_depth);
  stored_bytes_ = (bits + 7) / 8;
  filter_bpp_ = format.bit_depth < 8 ? 1 : samples * format.bit_depth / 8;
  channels_ = samples + (format.has_key ? 1 : 0);
  if (format.color_type == kPalette) {
    channels_ = format.palette_alpha.empty() ? 3 : 4;
    for (size_t i = 0; i < colours_.size(); ++i) {
      std::array<uint8_t, 4>& colour = colours_[i];
      if (i * 3 + 2 < format.palette.size()) {
        std::memcpy(colour.data(), format.palette.data() + i * 3, 3);
      }
      colour[3] = i < format.palette_alpha.size() ? format.palette_alpha[i]
                                                  : uint8_t{255};
    }
  } else if (format.color_type == kGrey && format.bit_depth < 8) {
    const int top = (1 << format.bit_depth) - 1;
    for (int v = 0; v <= top; ++v) {
      colours_[static_cast<size_t>(v)][0] = static_cast<uint8_t>(v * 255 / top);
    }
  }
  as_stored_ =
      format.bit_depth == 8 && format.color_type != kPalette && !format.has_key;
}

void PngRowExpander::Expand(const uint8_t* row, uint8_t* out) const {
  const size_t width = format_.width;
  if (as_stored_) {
    std::memcpy(out, row, stored_bytes_);
    return;
  }
  if (format_.bit_depth == 16) {
    ExpandWide(row, out);
    return;
  }
  // Pixel x of a row of 1, 2 or 4 bits a sample: the first in the high bits.
  const int depth = format_.bit_depth;
  auto sample = [&](size_t x) -> size_t {
    if (depth == 8) return row[x];
    const size_t bit = x * static_cast<size_t>(depth);
    const int shift = 8 - depth - static_cast<int>(bit % 8);
    return static_cast<size_t>(row[bit / 8] >> shift) & ((1U << depth) - 1);
  };
  if (format_.color_type == kPalette) {
    const size_t n = static_cast<size_t>(channels_);
    for (size_t x = 0; x < width; ++x) {
      std::memcpy(out + x * n, colours_[sample(x)].data(), n);
    }
    return;
  }
  if (format_.color_type == kGrey) {
    for (size_t x = 0; x < width; ++x) {
      const size_t v = sample(x);
      const uint8_t level =
          depth == 8 ? static_cast<uint8_t>(v) : colours_[v][0];
      if (!format_.has_key) {
        out[x] = level;
      } else {
        out[x * 2] = level;
        out[x * 2 + 1] = v == format_.key[0] ? 0 : 255;
      }
    }
    return;
  }
  // 8-bit RGB with a transparent colour; grey + alpha and RGBA of 8 bits
  // are as stored, and have no key.
  for (size_t x = 0; x < width; ++x) {
    const uint8_t* p = row + x * 3;
    std::memcpy(out + x * 4, p, 3);
    out[x * 4 + 3] = p[0] == format_.key[0] && p[1] == format_.key[1] &&
                             p[2] == format_.key[2]
                         ? 0
                         : 255;
  }
}

void PngRowExpander::ExpandWide(const uint8_t* row, uint8_t* out) const {
  // Rounded to the nearest of 256 levels, as libpng's png_set_scale_16
  // rounds: (v * 255 + 32895) >> 16 is round(v / 257) for every v.
  auto eight_bits = [](const uint8_t* p) {
    const uint32_t v = uint32_t{p[0]} << 8 | p[1];
    return static_cast<uint8_t>((v * 255 + 32895) >> 16);
  };
  const size_t samples = stored_bytes_ / 2;
  if (!format_.has_key) {
    for (size_t i = 0; i < samples; ++i) out[i] = eight_bits(row + i * 2);
    return;
  }
  // Grey or RGB with a transparent colour, compared at 16 bits.
  const size_t n = format_.color_type == kGrey ? 1 : 3;
  for (size_t x = 0; x < format_.width; ++x) {
    const uint8_t* p = row + x * n * 2;
    bool transparent = true;
    for (size_t c = 0; c < n; ++c) {
      out[x * (n + 1) + c] = eight_bits(p + c * 2);
      transparent =
          transparent && (p[c * 2] << 8 | p[c * 2 + 1]) == format_.key[c];
    }
    out[x * (n + 1) + n] = transparent ? 0 : 255;
  }
}

}  // namespace vg::decoders::decoders_internal
