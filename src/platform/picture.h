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

// The part of a picture's bitmap that the picture covers, in pixels, edges
// at any fraction; width 0 for the whole bitmap.
struct PictureArea {
  double x = 0;
  double y = 0;
  double width = 0;
  double height = 0;
};

class Picture {
 public:
  // Takes ownership of `owned` (0 makes an empty picture). A negative logical
  // size means the bitmap's own size; a bad handle then gives 0 x 0.
  explicit Picture(HBITMAP owned, int32_t logical_width = -1,
                   int32_t logical_height = -1, const PictureArea& area = {});
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
  // Returns the part of the bitmap the picture covers (all of it, but for a
  // picture decoded at a reduced scale whose last column and row of pixels
  // it covers in part): what drawing the picture scales.
  PictureArea Area() const;

 private:
  HBITMAP handle_;
  int32_t width_ = 0;
  int32_t height_ = 0;
  int32_t bitmap_width_ = 0;
  int32_t bitmap_height_ = 0;
  PictureArea area_;
};

using PicturePtr = std::shared_ptr<const Picture>;

// Makes a shared picture that owns `owned` (see Picture). Returns nullptr
// only when memory runs out; the handle is then deleted.
PicturePtr MakePicture(HBITMAP owned, int32_t logical_width = -1,
                       int32_t logical_height = -1,
                       const PictureArea& area = {});

// Draws `picture`, whose bitmap is selected in `picture_dc`, scaled into
// the w x h rectangle at (x, y) of `dst` (SRCCOPY): the part of its bitmap
// the picture covers (Area), so that a picture decoded at a reduced scale
// lands where it would at full size. Returns false as StretchBlt does.
bool StretchPicture(HDC dst, int32_t x, int32_t y, int32_t w, int32_t h,
                    HDC picture_dc, const Picture& picture);

}  // namespace vg::platform

#endif  // VG_PLATFORM_PICTURE_H_
