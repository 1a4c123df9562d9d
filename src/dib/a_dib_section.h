// File: dib/a_dib_section.h
//
// aDIBSection: the reduced DIB section the window uses to capture a picture
// box's image and hand it to the JPEG saver. Its section, layout and
// behaviour are cDIBSection's (dib/c_dib_section.h), from the same base
// (dib/dib_section_base.h); only CreateFromPicture differs: it takes a bitmap
// handle.
//
//   aDIBSection dib;
//   dib.CreateFromPicture(picture->Handle());   // capture, upright, 24-bit
//   if (dib.hDib() != 0) SaveDibAsJpeg(dib, path, 90);
//
// Not for resampling, random fill, the clipboard or cDIBSection's JPEG
// writer: those are cDIBSection's alone.
#ifndef VG_DIB_A_DIB_SECTION_H_
#define VG_DIB_A_DIB_SECTION_H_

#include <cstdint>

#include "dib/dib_section_base.h"

namespace vg::dib {

// Move-only, like its base.
class aDIBSection : public DibSectionBase {
 public:
  // Creates a section of the size of the bitmap `picd` and copies the bitmap
  // into it, converted to 24 bits and upright. Reports nothing: hDib() is
  // non-zero afterwards on success. A handle that names no bitmap leaves the
  // object Empty; a bitmap selected in some context at the time cannot be
  // read, and the section then stays created but unfilled (zero).
  void CreateFromPicture(const int32_t& picd);
};

}  // namespace vg::dib

#endif  // VG_DIB_A_DIB_SECTION_H_
