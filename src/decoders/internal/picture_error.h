// The errors the picture decoders raise. Internal to vg::decoders.
#ifndef VG_DECODERS_INTERNAL_PICTURE_ERROR_H_
#define VG_DECODERS_INTERNAL_PICTURE_ERROR_H_

#include <cstdint>

namespace vg::decoders::decoders_internal {

// Throws platform::Error `number` with its standard description and the
// program's name as source, as every run-time error of the system does.
[[noreturn]] void RaisePictureError(int32_t number);

// Raises 481 (Invalid picture) unless width x height (as a header states it)
// lies within kMaxPictureSidePx and kMaxPicturePixels and neither is 0.
void CheckPictureSize(int64_t width, int64_t height);

}  // namespace vg::decoders::decoders_internal

#endif  // VG_DECODERS_INTERNAL_PICTURE_ERROR_H_
