// File: thumbnail/make.h
//
// One picture into one thumbnail, step by step: the picture read for the
// widest thumbnail it will give, the height that keeps its proportions, the
// picture drawn at that size and captured into a 24-bit DIB section, and
// the JPEG written whole under its name or not at all. MakePicture
// (thumbnail/picture_steps.h) runs them in order for the engine and for the
// window.
//
//   PicturePtr picture = LoadPicture(u"/in/a.jpg", 450);
//   int32_t h = ProportionalHeight(picture->Width(), picture->Height(), 450);
//   if (std::string why = CheckHeight(450, h); !why.empty()) Fail(why);
//   Thumbnail thumb = Render(*picture, GeometryFor(450, h));
//   if (thumb.dib.hDib() == 0) Fail(NothingCaptured(h));
//   if (std::string why = Write(thumb.dib, u"/out/a.jpg", inputs); ...)
//
// Every step that fails raises platform::Error or returns its reason in
// English; nothing is written for a picture that failed.
#ifndef VG_THUMBNAIL_MAKE_H_
#define VG_THUMBNAIL_MAKE_H_

#include <cstdint>
#include <exception>
#include <string>

#include "dib/a_dib_section.h"
#include "platform/picture.h"
#include "thumbnail/plan.h"

namespace vg::thumbnail {

// JPEG quality of every thumbnail.
inline constexpr int32_t kQuality = 90;

// The largest side of a thumbnail, in pixels.
inline constexpr int32_t kMaxSidePx = 65535;

// Reads the picture at `path` for drawing `width` pixels wide: a large JPEG
// is decoded at the reduced scale that width needs, and keeps its logical
// size. Raises platform::Error 53, 75, 481 or 7 (decoders/load_picture.h).
platform::PicturePtr LoadPicture(const std::u16string& path, double width);

// Returns picture_height / (picture_width / width), in double precision,
// rounded half to even. Raises platform::Error 11 for a zero width and 6
// when the result is no 32-bit integer.
int32_t ProportionalHeight(double picture_width, double picture_height,
                           double width);

// Returns why no thumbnail `width` wide can be `height` pixels high ("too
// tall for width 150: 600000 pixels"), or an empty text when it can.
std::string CheckHeight(double width, int64_t height);

// Where a thumbnail is drawn: a surface of area_width x area_height pixels
// (the width rounded as a picture box rounds its size), the picture scaled
// to draw_width x draw_height at its top-left corner and cut at its edges.
struct Geometry {
  int32_t area_width = 0;
  int32_t area_height = 0;
  int32_t draw_width = 0;
  int32_t draw_height = 0;
};

// The geometry of a thumbnail `width` pixels wide (a typed width may have a
// fraction) and `height` high.
Geometry GeometryFor(double width, int32_t height);

struct Thumbnail {
  // The drawing, 32 bits a pixel, as a picture box shows it; null for an
  // empty area.
  platform::PicturePtr picture;
  // Its capture into a DIB section: what is written. Empty (hDib() == 0)
  // when there is nothing to capture.
  dib::aDIBSection dib;
};

// Draws the whole of `picture` at `geometry` with the scaling kernel of
// image/stretch.h and captures it. Uncovered pixels (a drawing smaller than
// its area) are the picture box's back colour. Raises platform::Error 7
// when memory runs out.
Thumbnail Render(const platform::Picture& picture, const Geometry& geometry);

// Returns why a thumbnail `height` pixels high has nothing to write (an
// empty drawing area, or a capture that failed).
std::string NothingCaptured(int32_t height);

// Writes `dib` (not empty) as a quality-90 JPEG at `path`, through a
// temporary file and a rename, so that `path` holds the old file or the
// whole new one. Returns an empty text when written, else why not: `path`
// names one of the run's inputs (never replaced), or the write failed.
std::string Write(const dib::aDIBSection& dib, const std::u16string& path,
                  const InputGuard& inputs);

// The reason to show for a failure that was raised.
std::string DescribeFailure(const std::exception& e);

}  // namespace vg::thumbnail

#endif  // VG_THUMBNAIL_MAKE_H_
