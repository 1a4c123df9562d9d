#include "platform/picture.h"

#include <new>

namespace vg::platform {

Picture::Picture(HBITMAP owned, int32_t logical_width, int32_t logical_height,
                 const PictureArea& area)
    : handle_(owned), area_(area) {
  BITMAP record{};
  if (owned != 0 && GetObjectA(owned, sizeof(record), &record) != 0) {
    bitmap_width_ = record.bmWidth;
    bitmap_height_ = record.bmHeight;
  }
  width_ = logical_width >= 0 ? logical_width : bitmap_width_;
  height_ = logical_height >= 0 ? logical_height : bitmap_height_;
}

PictureArea Picture::Area() const {
  if (area_.width > 0 && area_.height > 0 && area_.x >= 0 && area_.y >= 0 &&
      area_.x + area_.width <= bitmap_width_ &&
      area_.y + area_.height <= bitmap_height_) {
    return area_;
  }
  return {0, 0, static_cast<double>(bitmap_width_),
          static_cast<double>(bitmap_height_)};
}

Picture::~Picture() {
  if (handle_ != 0) DeleteObject(handle_);
}

PicturePtr MakePicture(HBITMAP owned, int32_t logical_width,
                       int32_t logical_height, const PictureArea& area) {
  try {
    return std::make_shared<const Picture>(owned, logical_width, logical_height,
                                           area);
  } catch (const std::bad_alloc&) {
    if (owned != 0) DeleteObject(owned);
    return nullptr;
  }
}

bool StretchPicture(HDC dst, int32_t x, int32_t y, int32_t w, int32_t h,
                    HDC picture_dc, const Picture& picture) {
  constexpr uint32_t kSrcCopy = 0xCC0020;
  const PictureArea a = picture.Area();
  const int32_t bw = picture.BitmapWidth();
  const int32_t bh = picture.BitmapHeight();
  if (a.x == 0 && a.y == 0 && a.width == bw && a.height == bh) {
    return StretchBlt(dst, x, y, w, h, picture_dc, 0, 0, bw, bh, kSrcCopy);
  }
  return StretchBltArea(dst, x, y, w, h, picture_dc, a.x, a.y, a.width,
                        a.height);
}

}  // namespace vg::platform
