// File: app/picture_box.h
//
// A picture box of the window, without any widget: it holds a picture and a
// kept image -- a bitmap of its drawing area that receives everything drawn
// into the box, over the box's picture as background. The box has no border,
// so its drawing area is exactly its width x height in pixels.
//
//   PictureBox box(150, 113, /*auto_size=*/false);
//   box.set_height(100);
//   box.PaintPicture(*photo, 0, 0, 150 * 15, 100 * 15);   // twips
//   box.set_picture(box.kept_image());
//
// The kept image is made only when something draws into the box or reads it,
// so a box that merely holds a large photo costs no second copy of it. Not
// thread-safe: one box belongs to one thread.
#ifndef VG_APP_PICTURE_BOX_H_
#define VG_APP_PICTURE_BOX_H_

#include <cstdint>

#include "platform/gdi.h"
#include "platform/picture.h"
#include "thumbnail/drawing_area.h"

namespace vg::app {

// Drawing coordinates inside a picture box are twips, 15 to the pixel.
inline constexpr double kTwipsPerPixel = thumbnail::kTwipsPerPixel;

// The colour of an empty box (0xRRGGBB): the desktop's button face.
inline constexpr uint32_t kBoxBackColour = thumbnail::kBackColour;

// The largest drawing area side a box accepts, in pixels.
inline constexpr int32_t kMaxBoxSidePx = 65535;

class PictureBox {
 public:
  // Makes an empty box of the given outer size in pixels; an auto-sizing box
  // takes the size of every picture put into it.
  PictureBox(float width_px, float height_px, bool auto_size);
  ~PictureBox();
  PictureBox(const PictureBox&) = delete;
  PictureBox& operator=(const PictureBox&) = delete;

  // Returns the picture the box holds (null when none).
  const platform::PicturePtr& picture() const { return picture_; }

  // Makes `picture` the box's picture (null empties it): the kept image
  // becomes the picture drawn at its natural size at the top-left corner,
  // over the back colour. An auto-sizing box takes the picture's size.
  void set_picture(platform::PicturePtr picture);

  // Returns a new picture holding a copy of the drawing area; raises error 7
  // when the bitmap cannot be made, and returns null for an empty area.
  platform::PicturePtr kept_image();

  // Returns / sets the outer size in pixels (single precision). Setting a
  // negative or too large size raises error 380 and keeps the old size.
  float width() const { return width_; }
  float height() const { return height_; }
  void set_width(float width_px);
  void set_height(float height_px);

  // Returns the drawing area's size in whole pixels.
  int32_t area_width() const;
  int32_t area_height() const;

  // Draws the whole of `picture`, scaled to the rectangle at (x, y) of the
  // given width and height, all in twips, as a plain copy into the kept
  // image. What falls outside the area is cut; what is not covered keeps what
  // was there. Negative sizes raise error 5; an empty rectangle draws nothing.
  void PaintPicture(const platform::Picture& picture, double x_twips,
                    double y_twips, double width_twips, double height_twips);

  // Returns true when the kept image holds drawings beyond the picture.
  bool has_drawings() const { return has_drawings_; }

  // Returns the kept image's bitmap, made if needed (0 for an empty area);
  // the box keeps owning it. For views that show the box.
  platform::HBITMAP KeptBitmap();

  // Returns a number that changes whenever what the box shows changes.
  uint64_t revision() const { return revision_; }

 private:
  // Makes sure the kept image exists at the area's size; when `covered` the
  // caller is about to paint every pixel of it, so no background is drawn.
  void EnsureLayer(bool covered);
  void DrawBackground(platform::HBITMAP target);
  void FreeLayer();

  float width_;
  float height_;
  bool auto_size_;
  platform::PicturePtr picture_;
  platform::HBITMAP layer_ = 0;  // the kept image; 0 until it is needed
  int32_t layer_width_ = 0;
  int32_t layer_height_ = 0;
  bool has_drawings_ = false;
  uint64_t revision_ = 0;
  // The last kept image handed out, and the revision it shows: setting it
  // back as the picture changes nothing that is shown.
  const platform::Picture* last_kept_ = nullptr;
  uint64_t last_kept_revision_ = 0;
};

}  // namespace vg::app

#endif  // VG_APP_PICTURE_BOX_H_
