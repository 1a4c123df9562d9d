#include "platform/internal/gdi_blit.h"

#include <cstring>

namespace vg::platform::gdi_internal {
namespace {

// The byte-wise function f(S, D) of a raster operation with a white pattern,
// as four masks: result = (~S & ~D & m00) | (~S & D & m01) | (S & ~D & m10) |
// (S & D & m11).
struct RopMasks {
  uint8_t m00, m01, m10, m11;

  explicit RopMasks(uint32_t rop) {
    const uint32_t table = (rop >> 20) & 0xF;  // index 2*S + D
    m00 = (table & 1) ? 0xFF : 0;
    m01 = (table & 2) ? 0xFF : 0;
    m10 = (table & 4) ? 0xFF : 0;
    m11 = (table & 8) ? 0xFF : 0;
  }
  uint8_t Apply(uint8_t s, uint8_t d) const {
    const uint8_t ns = static_cast<uint8_t>(~s);
    const uint8_t nd = static_cast<uint8_t>(~d);
    return static_cast<uint8_t>((ns & nd & m00) | (ns & d & m01) |
                                (s & nd & m10) | (s & d & m11));
  }
};

template <int SrcBpp, int DstBpp>
void CopyConvert(const ConstImageView& src, const ImageView& dst) {
  for (int32_t y = 0; y < dst.height; ++y) {
    const uint8_t* s = src.Row(y);
    uint8_t* d = dst.Row(y);
    if constexpr (SrcBpp == DstBpp) {
      std::memcpy(d, s, static_cast<size_t>(dst.width) * DstBpp);
    } else {
      for (int32_t x = 0; x < dst.width; ++x, s += SrcBpp, d += DstBpp) {
        d[0] = s[0];
        d[1] = s[1];
        d[2] = s[2];
        if constexpr (DstBpp == 4) d[3] = 0xFF;
      }
    }
  }
}

template <int SrcBpp, int DstBpp>
void Combine(const ConstImageView& src, const ImageView& dst,
             const RopMasks& rop, bool reads_source) {
  for (int32_t y = 0; y < dst.height; ++y) {
    const uint8_t* s = reads_source ? src.Row(y) : nullptr;
    uint8_t* d = dst.Row(y);
    for (int32_t x = 0; x < dst.width; ++x, d += DstBpp) {
      for (int c = 0; c < 3; ++c) d[c] = rop.Apply(s ? s[c] : 0, d[c]);
      if constexpr (DstBpp == 4) d[3] = 0xFF;
      if (s) s += SrcBpp;
    }
  }
}

template <int SrcBpp, int DstBpp>
void Blit(const ConstImageView& src, const ImageView& dst, uint32_t rop) {
  if ((rop >> 16) == (0x00CC0020u >> 16)) {
    CopyConvert<SrcBpp, DstBpp>(src, dst);
  } else {
    Combine<SrcBpp, DstBpp>(src, dst, RopMasks(rop), ReadsSource(rop));
  }
}

}  // namespace

void BlitPixels(const ConstImageView& src, const ImageView& dst, uint32_t rop) {
  // A source that is not read may be any view (even empty): treat it as 24-bit.
  const bool src32 = ReadsSource(rop) && src.format == PixelFormat::kBgrx32;
  const bool dst32 = dst.format == PixelFormat::kBgrx32;
  if (src32) {
    dst32 ? Blit<4, 4>(src, dst, rop) : Blit<4, 3>(src, dst, rop);
  } else {
    dst32 ? Blit<3, 4>(src, dst, rop) : Blit<3, 3>(src, dst, rop);
  }
}

}  // namespace vg::platform::gdi_internal
