#include "decoders/internal/metafile_raster.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "decoders/internal/picture_error.h"
#include "platform/error.h"

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

int64_t MetafilePictureBytes(const RasterSize& size) {
  return int64_t{size.width} * size.height * 4;
}

DecodedImage NewMetafilePicture(int64_t width, int64_t height,
                                const RasterSize& size) {
  DecodedImage out;
  out.width = static_cast<int32_t>(width);
  out.height = static_cast<int32_t>(height);
  out.pixel_width = size.width;
  out.pixel_height = size.height;
  out.stride_bytes = size.width * 4;
  try {
    out.bgrx.resize(static_cast<size_t>(MetafilePictureBytes(size)));
  } catch (const std::bad_alloc&) {
    RaisePictureError(platform::kErrOutOfMemory);
  }
  return out;
}

QImage MetafileCanvas(DecodedImage* out) {
  // RGB32 in memory is blue, green, red, 255: the result's own layout.
  QImage image(out->bgrx.data(), out->pixel_width, out->pixel_height,
               out->stride_bytes, QImage::Format_RGB32);
  if (image.isNull()) RaisePictureError(platform::kErrOutOfMemory);
  image.fill(Qt::white);
  return image;
}

void MakeOpaque(DecodedImage* out) {
  for (size_t i = 3; i < out->bgrx.size(); i += 4) out->bgrx[i] = 255;
}

}  // namespace vg::decoders::decoders_internal
