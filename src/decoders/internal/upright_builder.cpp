#include "decoders/internal/upright_builder.h"

#include <cstddef>
#include <utility>

#include "decoders/internal/orientation.h"

namespace vg::decoders::decoders_internal {

DecodeHint StoredHint(const DecodeHint& hint, int orientation) {
  if (!SwapsAxes(orientation)) return hint;
  DecodeHint stored = hint;
  std::swap(stored.target_width_px, stored.target_height_px);
  return stored;
}

int64_t UprightBuilder::HeldBytes(int32_t stored_width, int32_t stored_height,
                                  int32_t factor, int orientation) {
  const int64_t reduced =
      RowReducer::OutputBytes(stored_width, stored_height, factor);
  // One row of sums beside the output while rows arrive (four a pixel when
  // alpha is kept).
  const int64_t sums = (int64_t{stored_width} / factor + 1) * 4 * 8;
  return reduced * (orientation == 1 ? 1 : 2) + sums;
}

UprightBuilder::UprightBuilder(int32_t stored_width, int32_t stored_height,
                               int32_t factor, int orientation, bool keep_alpha)
    : reducer_(stored_width, stored_height, factor,
               keep_alpha ? RowLayout::kBgra : RowLayout::kBgrx, keep_alpha),
      orientation_(orientation >= 1 && orientation <= 8 ? orientation : 1) {}

DecodedImage UprightBuilder::Finish() {
  DecodedImage stored = reducer_.Finish();
  if (orientation_ == 1) return stored;
  const PixelArea upright_area = UprightArea(stored.area, stored.pixel_width,
                                             stored.pixel_height, orientation_);
  const bool swap = SwapsAxes(orientation_);
  DecodedImage upright;
  upright.width = swap ? stored.height : stored.width;
  upright.height = swap ? stored.width : stored.height;
  upright.pixel_width = swap ? stored.pixel_height : stored.pixel_width;
  upright.pixel_height = swap ? stored.pixel_width : stored.pixel_height;
  upright.stride_bytes = upright.pixel_width * 4;
  upright.has_alpha = stored.has_alpha;
  upright.area = upright_area;
  upright.bgrx.resize(static_cast<size_t>(upright.stride_bytes) *
                      static_cast<size_t>(upright.pixel_height));
  const RowPlacer placer(orientation_, stored.pixel_width, stored.pixel_height,
                         upright.bgrx.data(), upright.stride_bytes);
  for (int32_t y = 0; y < stored.pixel_height; ++y) {
    placer.Place(
        y, stored.bgrx.data() + static_cast<size_t>(y) *
                                    static_cast<size_t>(stored.stride_bytes));
  }
  return upright;
}

}  // namespace vg::decoders::decoders_internal
