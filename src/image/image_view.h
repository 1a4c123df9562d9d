// File: image/image_view.h
//
// Raw views of pixel memory that the scaling kernel (image/stretch.h) and the
// GDI stand-in's blits work on, with no handle in sight. A view
// starts at the top-left pixel of the picture; `stride_bytes` goes one row
// DOWN the picture, so it is negative for bottom-up storage (DIB sections).
#ifndef VG_IMAGE_IMAGE_VIEW_H_
#define VG_IMAGE_IMAGE_VIEW_H_

#include <cstddef>
#include <cstdint>

namespace vg::image {

enum class PixelFormat : uint8_t {
  kBgr24,   // 3 bytes a pixel: blue, green, red
  kBgrx32,  // 4 bytes a pixel: blue, green, red, padding
};

constexpr int32_t BytesPerPixel(PixelFormat f) {
  return f == PixelFormat::kBgr24 ? 3 : 4;
}

template <typename Byte>
struct BasicImageView {
  Byte* top;               // first pixel of the top row
  int32_t width;           // pixels
  int32_t height;          // pixels
  ptrdiff_t stride_bytes;  // from a row to the one below it (may be < 0)
  PixelFormat format;

  Byte* Row(int32_t y) const { return top + y * stride_bytes; }
  Byte* At(int32_t x, int32_t y) const {
    return Row(y) + static_cast<ptrdiff_t>(x) * BytesPerPixel(format);
  }
  // Returns the w x h part at (x, y); the caller keeps it inside this view.
  BasicImageView Sub(int32_t x, int32_t y, int32_t w, int32_t h) const {
    return {At(x, y), w, h, stride_bytes, format};
  }
};

using ImageView = BasicImageView<uint8_t>;
using ConstImageView = BasicImageView<const uint8_t>;

inline ConstImageView AsConst(const ImageView& v) {
  return {v.top, v.width, v.height, v.stride_bytes, v.format};
}

}  // namespace vg::image

#endif  // VG_IMAGE_IMAGE_VIEW_H_
