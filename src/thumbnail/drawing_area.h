// File: thumbnail/drawing_area.h
//
// How a drawing area lays out what is drawn in it, as a picture box does:
// sizes in twips, 15 to the pixel, rounded half to even; the area's sides
// rounded from the box's size; what nothing covers in the desktop's button
// face. The window's picture boxes (app/picture_box.h) and the engine's
// thumbnails (thumbnail/make.h) both draw by these rules, so that a
// thumbnail made by either is the same.
//
//   int32_t w = TwipsToPixels(150 * kTwipsPerPixel);   // 150
//   FillWithBackColour(surface);
#ifndef VG_THUMBNAIL_DRAWING_AREA_H_
#define VG_THUMBNAIL_DRAWING_AREA_H_

#include <cstdint>

#include "platform/gdi.h"

namespace vg::thumbnail {

// Drawing coordinates are twips, 15 to the pixel.
inline constexpr double kTwipsPerPixel = 15.0;

// The colour of an empty area (0xRRGGBB): the desktop's button face.
inline constexpr uint32_t kBackColour = 0xF0F0F0;

// Twips to whole pixels, half to even, kept within a range that the blits
// can clip.
int32_t TwipsToPixels(double twips);

// The side in whole pixels of an area `size_px` pixels long (a box's size
// may have a fraction); 0 for a size of zero or less.
int32_t AreaSide(float size_px);

// Paints every pixel of `surface` in the back colour (opaque).
void FillWithBackColour(platform::HBITMAP surface);

}  // namespace vg::thumbnail

#endif  // VG_THUMBNAIL_DRAWING_AREA_H_
