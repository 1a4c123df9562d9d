// File: platform/internal/gdi_blit.h
//
// Internal to vg::platform: the pixel work of BitBlt over raw views, after
// the handles were looked up and the rectangle clipped.
#ifndef VG_PLATFORM_INTERNAL_GDI_BLIT_H_
#define VG_PLATFORM_INTERNAL_GDI_BLIT_H_

#include <cstdint>

#include "image/image_view.h"

namespace vg::platform::gdi_internal {

using image::ConstImageView;
using image::ImageView;
using image::PixelFormat;

// Returns true when `rop` is a ternary raster operation code (0x00XXYYYY).
constexpr bool IsRasterOperation(uint32_t rop) { return rop <= 0x00FFFFFFu; }

// Returns true when the operation's result depends on the source (with the
// pattern fixed to white, as in every context here).
constexpr bool ReadsSource(uint32_t rop) {
  // Bits 4..7 of the truth-table byte hold f(P=1, S, D) at index 2*S + D.
  const uint32_t table = (rop >> 20) & 0xF;
  return (table & 0x3) != (table >> 2);
}

// Combines `src` into `dst` pixel by pixel by `rop`; both views have the same
// size (`src` is ignored when the operation does not read it) and must not
// overlap. A 32-bit destination gets 0xFF as padding, except in a 32 -> 32
// SRCCOPY, which copies it.
void BlitPixels(const ConstImageView& src, const ImageView& dst, uint32_t rop);

}  // namespace vg::platform::gdi_internal

#endif  // VG_PLATFORM_INTERNAL_GDI_BLIT_H_
