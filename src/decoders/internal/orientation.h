// Puts decoded rows in their upright place for an EXIF orientation, so that
// a rotated photo needs no second full-size buffer. Internal to vg::decoders.
#ifndef VG_DECODERS_INTERNAL_ORIENTATION_H_
#define VG_DECODERS_INTERNAL_ORIENTATION_H_

#include <cstddef>
#include <cstdint>

#include "decoders/decode_picture.h"

namespace vg::decoders::decoders_internal {

// Returns true for the orientations 5 to 8, whose upright picture has the
// stored width as its height.
inline bool SwapsAxes(int orientation) { return orientation >= 5; }

// Returns the area of a picture of stored_width x stored_height pixels
// (logical) that a decode at scale / denominator of its size covers in its
// pixels, stored_pixel_width x stored_pixel_height (each the scaled size
// rounded up): the scaled size from the top-left corner. The whole pixels
// (width 0) when the scaled size is whole, or when the pixels are not the
// scaled size rounded up.
PixelArea ReducedArea(int32_t stored_width, int32_t stored_height,
                      int32_t stored_pixel_width, int32_t stored_pixel_height,
                      int64_t scale, int64_t denominator);

// Returns `area` of stored pixels stored_pixel_width x stored_pixel_height
// where it lies once `orientation` has turned them upright.
PixelArea UprightArea(const PixelArea& area, int32_t stored_pixel_width,
                      int32_t stored_pixel_height, int orientation);

// Places rows of a stored picture (stored_width x stored_height, BGRX) into
// an upright BGRX buffer of (stored_height x stored_width when SwapsAxes,
// else stored_width x stored_height) pixels.
//   1 as stored          2 mirrored left-right   3 turned 180 degrees
//   4 mirrored top-down  5 transposed            6 turned 90 degrees clockwise
//   7 transversed        8 turned 90 degrees anticlockwise
class RowPlacer {
 public:
  // `upright` must hold the whole upright picture with rows of
  // `upright_stride_bytes`; it is borrowed, not owned. Orientations outside
  // 1 to 8 count as 1.
  RowPlacer(int orientation, int32_t stored_width, int32_t stored_height,
            uint8_t* upright, ptrdiff_t upright_stride_bytes);

  // Copies stored row `y` (stored_width BGRX pixels at `row`) to its place.
  void Place(int32_t y, const uint8_t* row) const;

 private:
  int orientation_;
  int32_t width_;
  int32_t height_;
  uint8_t* upright_;
  ptrdiff_t stride_;
};

}  // namespace vg::decoders::decoders_internal

#endif  // VG_DECODERS_INTERNAL_ORIENTATION_H_
