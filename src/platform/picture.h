// File: platform/picture.h
//
// The picture object: what the picture loader, a picture box's picture and a
// picture box's kept image yield. It owns one bitmap handle and deletes it
// when the last reference goes; it is shared like a COM object, through
// PicturePtr, and is immutable once made.
//
//   PicturePtr pic = MakePicture(CreateBitmapFromPixels(w, h, std::move(px),
//                                                       w * 4),
//                                4000, 3000);   // decoded at 1/8 scale
//   dib.CreateFromPicture(*pic);                 // reads pic->Handle()
//
// The logical size (Width, Height) is what the picture reports to the window;
// the bitmap may be smaller when the loader decoded a large JPEG at a reduced
// scale. Not for drawing: draw through the bitmap handle (platform/gdi.h).
#ifndef VG_PLATFORM_PICTURE_H_
#define VG_PLATFORM_PICTURE_H_

#include <cstdint>
#include <memory>

#include "platform/gdi.h"

namespace vg::platform {

class Picture {
 public:
  // Takes ownership of `owned` (0 makes an empty picture). A negative logical
  // size means the bitmap's own size; a bad handle then gives 0 x 0.
  explicit Picture(HBITMAP owned, int32_t logical_width = -1,
                   int32_t logical_height = -1);
  // Deletes the bitmap. The bitmap must not be selected in a context then
  // (DeleteObject refuses such a bitmap, and it would leak).
  ~Picture();

  Picture(const Picture&) = delete;
  Picture& operator=(const Picture&) = delete;

  // Returns the bitmap handle (the default property); 0 for an empty picture.
  int32_t Handle() const { return handle_; }
  // Returns the logical size in pixels.
  int32_t Width() const { return width_; }
  int32_t Height() const { return height_; }
  // Returns the size in pixels of the bitmap itself (0 when empty).
  int32_t BitmapWidth() const { return bitmap_width_; }
  int32_t BitmapHeight() const { return bitmap_height_; }

 private:
  HBITMAP handle_;
  int32_t width_ = 0;
  int32_t height_ = 0;
  int32_t bitmap_width_ = 0;
  int32_t bitmap_height_ = 0;
};

using PicturePtr = std::shared_ptr<const Picture>;

// Makes a shared picture that owns `owned` (see Picture). Returns nullptr
// only when memory runs out; the handle is then deleted.
PicturePtr MakePicture(HBITMAP owned, int32_t logical_width = -1,
                       int32_t logical_height = -1);

}  // namespace vg::platform

#endif  // VG_PLATFORM_PICTURE_H_
