#include "decoders/internal/orientation.h"

#include <cstring>

namespace vg::decoders::decoders_internal {

PixelArea ReducedArea(int32_t stored_width, int32_t stored_height,
                      int32_t stored_pixel_width, int32_t stored_pixel_height,
                      int64_t scale, int64_t denominator) {
  if (scale <= 0 || denominator <= 0) return {};
  const auto rounded_up = [&](int64_t side) {
    return (side * scale + denominator - 1) / denominator;
  };
  const bool whole = int64_t{stored_width} * scale % denominator == 0 &&
                     int64_t{stored_height} * scale % denominator == 0;
  if (whole || rounded_up(stored_width) != stored_pixel_width ||
      rounded_up(stored_height) != stored_pixel_height) {
    return {};
  }
  const double ratio =
      static_cast<double>(scale) / static_cast<double>(denominator);
  return {0, 0, stored_width * ratio, stored_height * ratio};
}

PixelArea UprightArea(const PixelArea& area, int32_t stored_pixel_width,
                      int32_t stored_pixel_height, int orientation) {
  if (area.width == 0) return area;
  // The room the partial column and row leave at the far edges.
  const double right = stored_pixel_width - area.x - area.width;
  const double bottom = stored_pixel_height - area.y - area.height;
  switch (orientation) {
    case 2:  // mirrored left-right
      return {right, area.y, area.width, area.height};
    case 3:  // turned 180 degrees
      return {right, bottom, area.width, area.height};
    case 4:  // mirrored top-down
      return {area.x, bottom, area.width, area.height};
    case 5:  // transposed
      return {area.y, area.x, area.height, area.width};
    case 6:  // turned clockwise: stored rows become columns from the right
      return {bottom, area.x, area.height, area.width};
    case 7:  // transversed
      return {bottom, right, area.height, area.width};
    case 8:  // turned anticlockwise: stored columns become rows from the
             // bottom
      return {area.y, right, area.height, area.width};
    default:
      return area;
  }
}

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
