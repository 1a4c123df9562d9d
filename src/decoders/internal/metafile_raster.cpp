#include "decoders/internal/metafile_raster.h"

#include <algorithm>
#include <cmath>

#include "decoders/internal/picture_error.h"

namespace vg::decoders::decoders_internal {

RasterSize MetafileRasterSize(int64_t width, int64_t height,
                              const DecodeHint& hint) {
  CheckPictureSize(width, height);
  const int64_t target_w = std::clamp<int64_t>(hint.target_width_px, 0, width);
  const int64_t target_h =
      std::clamp<int64_t>(hint.target_height_px, 0, height);
  RasterSize size{static_cast<int32_t>(width), static_cast<int32_t>(height)};
  if (target_w > 0 && target_h > 0) {
    size = {static_cast<int32_t>(target_w), static_cast<int32_t>(target_h)};
  } else if (target_w > 0) {
    size.width = static_cast<int32_t>(target_w);
    size.height = static_cast<int32_t>(
        std::clamp<int64_t>(std::llround(static_cast<double>(height) *
                                         static_cast<double>(target_w) /
                                         static_cast<double>(width)),
                            1, height));
  } else if (target_h > 0) {
    size.height = static_cast<int32_t>(target_h);
    size.width = static_cast<int32_t>(
        std::clamp<int64_t>(std::llround(static_cast<double>(width) *
                                         static_cast<double>(target_h) /
                                         static_cast<double>(height)),
                            1, width));
  }
  return size;
}

}  // namespace vg::decoders::decoders_internal
