// File: decoders/load_picture.h
//
// The picture loader of the window: reads a picture file into a picture
// object whose bitmap holds the decoded pixels (handed over, not copied) and
// whose logical size is the picture's own, even when a large picture was
// decoded at a reduced scale for the size it will be drawn at.
//
//   platform::PicturePtr pic = LoadPicture(folder + name, {150, 0});
//   double h = pic->Height() / (pic->Width() / 150.0);  // logical size
//   // pic->BitmapWidth() may be far below pic->Width().
//
// Formats, limits and errors are those of DecodePictureFile
// (decoders/decode_picture.h). Not for drawing: draw through the
// picture's bitmap handle.
#ifndef VG_DECODERS_LOAD_PICTURE_H_
#define VG_DECODERS_LOAD_PICTURE_H_

#include <string_view>

#include "decoders/decode_picture.h"
#include "platform/picture.h"

namespace vg::decoders {

// Returns a new picture object for the file at `path` (UTF-16, "/" between
// folders), decoded for drawing at `hint` (pixels; 0 = full size). The
// picture owns its bitmap and is shared by whoever holds the pointer; it is
// never null. Raises platform::Error 53, 75, 481 or 7 as DecodePictureFile
// does, and 7 (Out of memory) when the bitmap cannot be made.
platform::PicturePtr LoadPicture(std::u16string_view path,
                                 const DecodeHint& hint = {});

}  // namespace vg::decoders

#endif  // VG_DECODERS_LOAD_PICTURE_H_
