#include "decoders/internal/orientation.h"

#include <cstring>

namespace vg::decoders::decoders_internal {

RowPlacer::RowPlacer(int orientation, int32_t stored_width,
                     int32_t stored_height, uint8_t* upright,
                     ptrdiff_t upright_stride_bytes)
    : orientation_(orientation >= 1 && orientation <= 8 ? orientation : 1),
      width_(stored_width),
      height_(stored_height),
      upright_(upright),
      stride_(upright_stride_bytes) {}

void RowPlacer::Place(int32_t y, const uint8_t* row) const {
  const ptrdiff_t last_x = width_ - 1;
  const ptrdiff_t flipped_y = height_ - 1 - y;
  // Where stored pixel (0, y) lands, and how far apart its neighbours along
  // the row land, in bytes.
  ptrdiff_t start = 0;
  ptrdiff_t step = 4;
  switch (orientation_) {
    case 1:
      std::memcpy(upright_ + y * stride_, row, static_cast<size_t>(width_) * 4);
      return;
    case 2:
      start = y * stride_ + last_x * 4;
      step = -4;
      break;
    case 3:
      start = flipped_y * stride_ + last_x * 4;
      step = -4;
      break;
    case 4:
      std::memcpy(upright_ + flipped_y * stride_, row,
                  static_cast<size_t>(width_) * 4);
      return;
    case 5:
      start = ptrdiff_t{y} * 4;
      step = stride_;
      break;
    case 6:
      start = flipped_y * 4;
      step = stride_;
      break;
    case 7:
      start = last_x * stride_ + flipped_y * 4;
      step = -stride_;
      break;
    case 8:
      start = last_x * stride_ + ptrdiff_t{y} * 4;
      step = -stride_;
      break;
  }
  // Offsets, not a moving pointer: the one past the last pixel of a row
  // that runs upwards would point before the buffer.
  for (int32_t x = 0; x < width_; ++x) {
    std::memcpy(upright_ + start + x * step, row + ptrdiff_t{x} * 4, 4);
  }
}

}  // namespace vg::decoders::decoders_internal
