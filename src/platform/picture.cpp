#include "platform/picture.h"

#include <new>

namespace vg::platform {

Picture::Picture(HBITMAP owned, int32_t logical_width, int32_t logical_height)
    : handle_(owned) {
  BITMAP record{};
  if (owned != 0 && GetObjectA(owned, sizeof(record), &record) != 0) {
    bitmap_width_ = record.bmWidth;
    bitmap_height_ = record.bmHeight;
  }
  width_ = logical_width >= 0 ? logical_width : bitmap_width_;
  height_ = logical_height >= 0 ? logical_height : bitmap_height_;
}

Picture::~Picture() {
  if (handle_ != 0) DeleteObject(handle_);
}

PicturePtr MakePicture(HBITMAP owned, int32_t logical_width,
                       int32_t logical_height) {
  try {
    return std::make_shared<const Picture>(owned, logical_width,
                                           logical_height);
  } catch (const std::bad_alloc&) {
    if (owned != 0) DeleteObject(owned);
    return nullptr;
  }
}

}  // namespace vg::platform
