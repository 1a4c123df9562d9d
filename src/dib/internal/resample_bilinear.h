// File: dib/internal/resample_bilinear.h
//
// The bilinear resampler of cDIBSection::Resample, over raw 24-bit buffers
// (blue, green, red bytes; rows of `stride` bytes in memory order, bottom row
// first like every DIB). Internal to vg::dib: other modules use Resample.
//
//   ResampleBilinear(src.Bits(), 640, 480, 1920, dst.Bits(), 1280, 960, 3840);
//
// The arithmetic is fixed to the last bit, so that a picture resampled today
// and tomorrow gives the same bytes:
//   - scales (W - 1) / w and (H - 1) / h, divided in double and kept as float;
//   - sample positions float(scale * x), integer part by floor;
//   - vertical interpolation first, each result rounded to the nearest
//     integer (halves to even), then horizontal, then a clamp to 0..255.
// The last destination row and column sample just short of the source's last
// row and column; bottom rows and left columns of the two pictures match.
//
// Not a general-purpose resampler: no area filter when shrinking (a 4000 px
// row shrunk to 150 px reads 300 of its columns). The window's scaled
// painting uses the stretching copy of the GDI stand-in instead.
#ifndef VG_DIB_INTERNAL_RESAMPLE_BILINEAR_H_
#define VG_DIB_INTERNAL_RESAMPLE_BILINEAR_H_

#include <cstdint>

namespace vg::dib::dib_internal {

// Fills the w x h pixels of `dst` from the W x H pixels of `src`.
//   src, dst: first byte of row 0 of each buffer; neither is owned. They must
//     not overlap.
//   W, H, w, h: sizes in pixels, each at least 1 (otherwise nothing is
//     written).
//   src_stride, dst_stride: bytes from one row to the next, at least 3 x the
//     row's width in pixels.
// Only the first 3 x width bytes of each row are read or written: the row
// padding of both buffers is left alone. A source 1 pixel wide or high reuses
// its last column or row as the missing neighbour; no read leaves the source.
// Allocates its per-call tables (a few bytes per source and destination
// column); std::bad_alloc is the only exception.
void ResampleBilinear(const uint8_t* src, int32_t W, int32_t H,
                      int32_t src_stride, uint8_t* dst, int32_t w, int32_t h,
                      int32_t dst_stride);

// The same result, computed pixel by pixel straight from the formula with
// std::nearbyint: the yardstick the fast version is tested and measured
// against. Same contract as ResampleBilinear; allocates nothing.
void ResampleBilinearReference(const uint8_t* src, int32_t W, int32_t H,
                               int32_t src_stride, uint8_t* dst, int32_t w,
                               int32_t h, int32_t dst_stride);

}  // namespace vg::dib::dib_internal

#endif  // VG_DIB_INTERNAL_RESAMPLE_BILINEAR_H_
