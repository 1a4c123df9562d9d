#include "decoders/internal/picture_error.h"

#include "decoders/decode_picture.h"
#include "platform/error.h"

namespace vg::decoders::decoders_internal {

void RaisePictureError(int32_t number) {
  throw platform::Error::Standard(number, platform::ProgramName());
}

void CheckPictureSize(int64_t width, int64_t height) {
  if (width <= 0 || height <= 0 || width > kMaxPictureSidePx ||
      height > kMaxPictureSidePx || width * height > kMaxPicturePixels) {
    RaisePictureError(platform::kErrInvalidPicture);
  }
}

}  // namespace vg::decoders::decoders_internal
