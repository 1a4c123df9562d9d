// The pixel-by-pixel bilinear resampler: every position, weight and rounding
// computed where the formula names it, with nothing shared between pixels.
// Slow on purpose; ResampleBilinear must give the same bytes.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "dib/internal/resample_bilinear.h"

namespace vg::dib::dib_internal {

void ResampleBilinearReference(const uint8_t* src, int32_t W, int32_t H,
                               int32_t src_stride, uint8_t* dst, int32_t w,
                               int32_t h, int32_t dst_stride) {
  if (W < 1 || H < 1 || w < 1 || h < 1) return;
  const auto x_scale =
      static_cast<float>(static_cast<double>(W - 1) / static_cast<double>(w));
  const auto y_scale =
      static_cast<float>(static_cast<double>(H - 1) / static_cast<double>(h));
  for (int32_t y = 0; y < h; ++y) {
    const auto y_pos = static_cast<float>(static_cast<double>(y_scale) *
                                          static_cast<double>(y));
    const int32_t yi = std::min(static_cast<int32_t>(std::floor(y_pos)), H - 1);
    const float yf = y_pos - static_cast<float>(yi);
    // 1 - yf in double is exact; in float it could be off by 2^-25.
    const double y_w0 = 1.0 - static_cast<double>(yf);
    const int32_t yi_next = std::min(yi + 1, H - 1);
    const uint8_t* row0 = src + static_cast<std::ptrdiff_t>(yi) * src_stride;
    const uint8_t* row1 =
        src + static_cast<std::ptrdiff_t>(yi_next) * src_stride;
    uint8_t* out = dst + static_cast<std::ptrdiff_t>(y) * dst_stride;
    for (int32_t x = 0; x < w; ++x) {
      const auto x_pos = static_cast<float>(static_cast<double>(x_scale) *
                                            static_cast<double>(x));
      const int32_t xi =
          std::min(static_cast<int32_t>(std::floor(x_pos)), W - 1);
      const float xf = x_pos - static_cast<float>(xi);
      const double x_w0 = 1.0 - static_cast<double>(xf);
      const std::ptrdiff_t off = 3 * static_cast<std::ptrdiff_t>(xi);
      const std::ptrdiff_t off_next =
          3 * static_cast<std::ptrdiff_t>(std::min(xi + 1, W - 1));
      for (int k = 0; k < 3; ++k) {
        const double left = std::nearbyint(
            y_w0 * row0[off + k] + static_cast<double>(yf) * row1[off + k]);
        const double right =
            std::nearbyint(y_w0 * row0[off_next + k] +
                           static_cast<double>(yf) * row1[off_next + k]);
        const double value =
            std::nearbyint(x_w0 * left + static_cast<double>(xf) * right);
        out[3 * static_cast<std::ptrdiff_t>(x) + k] =
            static_cast<uint8_t>(std::clamp(value, 0.0, 255.0));
      }
    }
  }
}

}  // namespace vg::dib::dib_internal
