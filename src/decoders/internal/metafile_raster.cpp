#include "decoders/internal/metafile_raster.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <string>

#include "decoders/internal/picture_error.h"
#include "platform/error.h"

namespace vg::decoders::decoders_internal {

RasterSize MetafileRasterSize(int64_t width, int64_t height,
                              const DecodeHint& hint) {
  CheckPictureSize(width, height);
  const int64_t target_w = std::clamp<int64_t>(hint.target_width_px, 0, width);
  const int64_t target_h =
      std::clamp<int64_t>(hint.target_height_px, 0, height);
  // `side` scaled as the other side is, from `from` to `to`.
  const auto in_proportion = [](int64_t side, int64_t to, int64_t from) {
    return static_cast<int32_t>(std::clamp<int64_t>(
        std::llround(static_cast<double>(side) * static_cast<double>(to) /
                     static_cast<double>(from)),
        1, side));
  };
  RasterSize size{static_cast<int32_t>(width), static_cast<int32_t>(height)};
  if (target_w > 0 && target_h > 0) {
    size = {static_cast<int32_t>(target_w), static_cast<int32_t>(target_h)};
  } else if (target_w > 0) {
    size.width = static_cast<int32_t>(target_w);
    size.height = in_proportion(height, target_w, width);
  } else if (target_h > 0) {
    size.height = static_cast<int32_t>(target_h);
    size.width = in_proportion(width, target_h, height);
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

void RaiseDamagedRecord(const char* format, uint32_t type, size_t at) {
  RaiseInvalidPicture(std::string(format) + ": record " + std::to_string(type) +
                      " at byte " + std::to_string(at) + " is damaged");
}

void RaiseDrawingTooLong() {
  RaiseInvalidPicture(
      "drawing took longer than " +
      std::to_string(
          std::chrono::duration_cast<std::chrono::seconds>(kMetafileTimeLimit)
              .count()) +
      " s");
}

}  // namespace vg::decoders::decoders_internal
