// File: image/stretch.h
//
// The scaling copy that decides what a thumbnail looks like: behind the GDI
// stand-in's StretchBlt and the thumbnail engine alike, over raw views.
// Separable: per output row, a vertical pass blends the source rows it needs
// into one 16-bit row, then a horizontal pass blends that row into the output.
// Weights are computed once per call, per output column and per output row,
// in 2.14 fixed point, and each set sums to exactly 1 (so a flat picture stays
// flat):
//   - an axis that shrinks gets a Lanczos-3 filter stretched to the output
//     pixel (three output pixels each side), edge pixels repeated; its
//     negative lobes keep edges sharp and overshoots are clamped;
//   - an axis that grows gets bilinear interpolation between pixel centres,
//     edge pixels repeated;
//   - an axis that keeps its size is copied.
// No allocation per pixel; two row buffers per call.
#ifndef VG_IMAGE_STRETCH_H_
#define VG_IMAGE_STRETCH_H_

#include <cstdint>

#include "image/image_view.h"

namespace vg::image {

// Scales the whole of `src` into the w x h rectangle at (x, y) of `dst`,
// writing only the part of that rectangle inside `dst`. `src` must be
// non-empty and must not overlap `dst`. Returns false, writing nothing, for
// w or h <= 0 or when the row buffers cannot be allocated.
bool StretchCopy(const ConstImageView& src, const ImageView& dst, int32_t x,
                 int32_t y, int32_t w, int32_t h);

// A rectangle of a source, in pixels, its edges at any fraction.
struct SourceArea {
  double x = 0;
  double y = 0;
  double width = 0;
  double height = 0;
};

// As above, for the part `area` of `src` only: the w x h rectangle shows
// that area, each output pixel centred over the point of the area it stands
// for, pixels beyond its edges (the partial last column and row of a reduced
// decode) tapped as they are and the source's own edge repeated. The area
// must lie within `src` and be more than 0 wide and high; an area equal to
// the whole of `src` gives the very bytes of the call above.
bool StretchCopy(const ConstImageView& src, const ImageView& dst, int32_t x,
                 int32_t y, int32_t w, int32_t h, const SourceArea& area);

}  // namespace vg::image

#endif  // VG_IMAGE_STRETCH_H_
