// File: dib/c_dib_section.h
//
// cDIBSection: a 24-bit device-independent bitmap whose pixel memory is
// directly addressable and, at the same time, selected into a memory device
// context of its own. BitBlt writes into it and reads from it through hdc();
// our own pixel code (resampling, random fill, JPEG saving) works on the very
// same bytes through Bits(), with no copy in between.
//
// Pixel layout: Height() rows stored bottom-up (the first row in memory is the
// bottom row of the picture), each BytesPerScanLine() = (Width()*3+3)&~3 bytes;
// pixel i of a row at bytes 3i..3i+2 as blue, green, red; 0 to 3 padding
// bytes end each row, and our pixel code never writes them.
//
//   cDIBSection dib;
//   if (dib.Create(150, 100)) {            // 45 200 bytes of pixels
//     dib.LoadPictureBlt(source_dc);       // copies 150 x 100 from (0, 0)
//     uint8_t* top_row = dib.Bits() + (dib.Height() - 1) *
//                                         dib.BytesPerScanLine();
//   }                                      // ClearUp on destruction
//
// The object is Empty (no context, no section) or Holding (both, the section
// selected in the context). Create and CreateFromPicture release what the
// object held first; a failed Create leaves it Empty while Width()/Height()
// report the size that was asked for. Sizes <= 0 and sizes over the bitmap
// limits of platform/gdi.h make Create return false before any pixel memory
// is allocated. Not thread-safe: one object belongs to one thread at a time
// (different objects on different threads are fine).
//
// Not for the window's capture of a picture box: that is aDIBSection.
#ifndef VG_DIB_C_DIB_SECTION_H_
#define VG_DIB_C_DIB_SECTION_H_

#include <cstdint>
#include <memory>
#include <string>

#include "dib/dib_section_base.h"
#include "platform/picture.h"

namespace vg::dib {

// Move-only, like its base; the members it shares with aDIBSection are
// documented in dib/dib_section_base.h.
class cDIBSection : public DibSectionBase {
 public:
  // Puts a copy of the picture on the clipboard as a screen-compatible bitmap
  // (bAsDIB false); bAsDIB true only shows a message. Returns true when the
  // clipboard took the bitmap.
  bool CopyToClipboard(bool bAsDIB = true);

  // Creates a section of the size of picThis's bitmap and copies the bitmap
  // into it, converted to 24 bits and upright. Reports nothing: hDib() is
  // non-zero afterwards on success. The bitmap must not be selected in a
  // context at the time (it cannot be selected twice); the section then stays
  // created but unfilled (zero). May raise error 6 like Create.
  void CreateFromPicture(const platform::Picture& picThis);

  using DibSectionBase::PaintPicture;

  // Fills the pixels with random bytes (bGray: equal blue, green and red).
  void RandomiseBits(bool bGray = false);

  // Returns a new section of lNewWidth x lNewHeight holding this picture
  // resampled bilinearly (note: height first).
  std::unique_ptr<cDIBSection> Resample(int32_t lNewHeight, int32_t lNewWidth);

  // Writes cDib as a JPEG file of quality lQuality (1-100) to sFile, keeping
  // a replaced file's times and attributes.
  bool SaveJPG(cDIBSection& cDib, const std::u16string& sFile,
               int32_t lQuality = 90);

 private:
  void ResampleBits(cDIBSection& cDibTo);
};

}  // namespace vg::dib

#endif  // VG_DIB_C_DIB_SECTION_H_
