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

#include "dib/internal/dib_section_core.h"
#include "platform/picture.h"

namespace vg::dib {

class cDIBSection {
 public:
  cDIBSection() = default;
  // Runs ClearUp.
  ~cDIBSection() = default;
  cDIBSection(const cDIBSection&) = delete;
  cDIBSection& operator=(const cDIBSection&) = delete;
  // Moves take the handles and leave the source like a new object; a move
  // assignment releases what the target held first.
  cDIBSection(cDIBSection&&) noexcept = default;
  cDIBSection& operator=(cDIBSection&&) noexcept = default;

  // Puts a copy of the picture on the clipboard as a screen-compatible bitmap
  // (bAsDIB false); bAsDIB true only shows a message. Returns true when the
  // clipboard took the bitmap.
  bool CopyToClipboard(bool bAsDIB = true);

  // Writes the 24-bit header for lWidth x lHeight (pixels) and creates a
  // section through `lhDC` for the CALLER: its handle goes to hDib (0 on
  // failure) and the caller deletes it; the object does not point at its
  // pixels. Returns true when it was created. Raises error 6 when the row
  // size or the image size overflows 32 bits (the header is then already
  // written). Sizes <= 0 fail. Refused (false, hDib 0, nothing changed)
  // while the object holds a section of its own, whose size the header must
  // keep describing.
  bool CreateDIB(int32_t lhDC, int32_t lWidth, int32_t lHeight, int32_t& hDib);

  // Creates a section of the size of picThis's bitmap and copies the bitmap
  // into it, converted to 24 bits and upright. Reports nothing: hDib() is
  // non-zero afterwards on success. The bitmap must not be selected in a
  // context at the time (it cannot be selected twice); the section then stays
  // created but unfilled (zero). May raise error 6 like Create.
  void CreateFromPicture(const platform::Picture& picThis);

  // Releases what the object holds, then makes a memory context and a
  // lWidth x lHeight section selected in it. Returns true when the object
  // holds a section. Raises error 6 as CreateDIB; the new context then stays
  // recorded (hdc() non-zero, no section) until the next ClearUp.
  bool Create(int32_t lWidth, int32_t lHeight);

  // Returns (Width()*3+3)&~3: the bytes of one row. Raises error 6 when that
  // overflows 32 bits (widths above 715 827 881).
  int32_t BytesPerScanLine() const;
  // Returns the width and height (pixels) last written to the header.
  int32_t Width() const;
  int32_t Height() const;

  // BitBlt(hdc(), 0, 0, w, h, lhDC, lSrcLeft, lSrcTop, eRop), where a
  // negative lSrcWidth / lSrcHeight means Width() / Height(). The destination
  // is always the section's top-left corner. Failures are ignored.
  void LoadPictureBlt(int32_t lhDC, int32_t lSrcLeft = 0, int32_t lSrcTop = 0,
                      int32_t lSrcWidth = -1, int32_t lSrcHeight = -1,
                      uint32_t eRop = 0xCC0020);

  // BitBlt(lhDC, lDestLeft, lDestTop, w, h, hdc(), lSrcLeft, lSrcTop, eRop),
  // where a negative lDestWidth / lDestHeight means Width() / Height(). No
  // stretching. Failures are ignored.
  void PaintPicture(int32_t lhDC, int32_t lDestLeft = 0, int32_t lDestTop = 0,
                    int32_t lDestWidth = -1, int32_t lDestHeight = -1,
                    int32_t lSrcLeft = 0, int32_t lSrcTop = 0,
                    uint32_t eRop = 0xCC0020);

  // Returns the memory context, the section, the pixel address (0 if none).
  int32_t hdc() const;
  int32_t hDib() const;
  uintptr_t DIBSectionBitsPtr() const;

  // Fills the pixels with random bytes (bGray: equal blue, green and red).
  void RandomiseBits(bool bGray = false);

  // Selects the saved bitmap back, deletes the section and the context, and
  // zeroes the handles and the pixel address. Width()/Height() keep their
  // values. Safe to call any number of times.
  void ClearUp();

  // Returns a new section of lNewWidth x lNewHeight holding this picture
  // resampled bilinearly (note: height first).
  std::unique_ptr<cDIBSection> Resample(int32_t lNewHeight, int32_t lNewWidth);

  // Writes cDib as a JPEG file of quality lQuality (1-100) to sFile, keeping
  // a replaced file's times and attributes.
  bool SaveJPG(cDIBSection& cDib, const std::u16string& sFile,
               int32_t lQuality = 90);

  // Returns the pixels (the lowest address, the bottom row), nullptr if none.
  uint8_t* Bits() const;
  // Returns the 40-byte header last passed to the platform.
  const platform::BITMAPINFOHEADER& BitmapInfo() const;

 private:
  void ResampleBits(cDIBSection& cDibTo);

  dib_internal::DibSectionCore core_;
};

}  // namespace vg::dib

#endif  // VG_DIB_C_DIB_SECTION_H_
