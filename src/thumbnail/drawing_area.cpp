#include "thumbnail/drawing_area.h"

#include <algorithm>
#include <cstddef>

#include "platform/checked.h"

namespace vg::thumbnail {

int32_t TwipsToPixels(double twips) {
  double px = platform::RoundHalfEven(twips / kTwipsPerPixel);
  return static_cast<int32_t>(std::clamp(px, -1073741824.0, 1073741824.0));
}

int32_t AreaSide(float size_px) {
  return size_px <= 0 ? 0 : platform::RoundToInt32(size_px);
}

void FillWithBackColour(platform::HBITMAP surface) {
  platform::SurfaceView view{};
  if (!platform::GetSurface(surface, &view)) return;
  for (int32_t y = 0; y < view.height; ++y) {
    uint8_t* row = view.bits + static_cast<ptrdiff_t>(y) * view.stride_bytes;
    for (int32_t x = 0; x < view.width; ++x) {
      uint8_t* px = row + static_cast<ptrdiff_t>(x) * view.bytes_per_pixel;
      px[0] = kBackColour & 0xFF;
      px[1] = (kBackColour >> 8) & 0xFF;
      px[2] = (kBackColour >> 16) & 0xFF;
      if (view.bytes_per_pixel == 4) px[3] = 0xFF;
    }
  }
}

}  // namespace vg::thumbnail
