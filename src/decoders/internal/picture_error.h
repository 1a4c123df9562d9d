// The errors the picture decoders raise. Internal to vg::decoders.
#ifndef VG_DECODERS_INTERNAL_PICTURE_ERROR_H_
#define VG_DECODERS_INTERNAL_PICTURE_ERROR_H_

#include <cstdint>
#include <new>
#include <string_view>
#include <vector>

#include "platform/error.h"

namespace vg::decoders::decoders_internal {

// Throws platform::Error `number` with its standard description and the
// program's name as source, as every run-time error of the system does.
[[noreturn]] void RaisePictureError(int32_t number);

// Throws platform::Error 481 described as "Invalid picture (`reason`)": a
// picture of a supported format in a form no decoder here reads, the
// reason telling which. Control characters in `reason` (a library's
// message often ends in a newline) become spaces; trailing ones go.
[[noreturn]] void RaiseInvalidPicture(std::string_view reason);

// True for a 481 that says no more than "Invalid picture": one a caller
// that knows where it happened may name better.
bool IsUnexplained(const platform::Error& error);

// Throws platform::Error 7 (Out of memory) described as "Picture too large:
// W × H (`reason`)": a picture that may well be valid but cannot be decoded
// within the limits of decode_picture.h.
[[noreturn]] void RaisePictureTooLarge(int64_t width, int64_t height,
                                       std::string_view reason);

// Raises 481 (Invalid picture) when a side of width x height (as a header
// states it) is 0 or less, and "too large" when one is over
// kMaxPictureSidePx.
void CheckPictureSides(int64_t width, int64_t height);

// Raises "too large" when a picture of width x height decoded at
// pixel_width x pixel_height holds more than kMaxPicturePixels.
void CheckDecodedPixels(int64_t width, int64_t height, int64_t pixel_width,
                        int64_t pixel_height);

// Both checks above for a picture decoded at its full size.
void CheckPictureSize(int64_t width, int64_t height);

// Resizes `v` to `n` elements; raises 7 (Out of memory) when that fails.
template <typename T>
void Allocate(std::vector<T>& v, size_t n) {
  try {
    v.resize(n);
  } catch (const std::bad_alloc&) {
    RaisePictureError(platform::kErrOutOfMemory);
  }
}

}  // namespace vg::decoders::decoders_internal

#endif  // VG_DECODERS_INTERNAL_PICTURE_ERROR_H_
