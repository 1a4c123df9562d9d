// File: dib/a_dib_section.h
//
// aDIBSection: the reduced DIB section the window uses to capture a picture
// box's image and hand it to the JPEG saver. It owns a 24-bit bottom-up
// section selected into a memory context of its own, with exactly the layout
// and behaviour of cDIBSection (dib/c_dib_section.h) for the members both
// have; only CreateFromPicture differs: it takes a bitmap handle.
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

#include "dib/internal/dib_section_core.h"

namespace vg::dib {

class aDIBSection {
 public:
  aDIBSection() = default;
  // Runs ClearUp.
  ~aDIBSection() = default;
  aDIBSection(const aDIBSection&) = delete;
  aDIBSection& operator=(const aDIBSection&) = delete;
  // Moves take the handles and leave the source like a new object; a move
  // assignment releases what the target held first.
  aDIBSection(aDIBSection&&) noexcept = default;
  aDIBSection& operator=(aDIBSection&&) noexcept = default;

  // As cDIBSection::CreateDIB.
  bool CreateDIB(int32_t lhDC, int32_t lWidth, int32_t lHeight, int32_t& hDib);

  // Creates a section of the size of the bitmap `picd` and copies the bitmap
  // into it, converted to 24 bits and upright. Reports nothing: hDib() is
  // non-zero afterwards on success. A handle that names no bitmap leaves the
  // object Empty; a bitmap selected in some context at the time cannot be
  // read, and the section then stays created but unfilled (zero).
  void CreateFromPicture(const int32_t& picd);

  // As cDIBSection::Create: returns true when the object holds a section.
  bool Create(int32_t lWidth, int32_t lHeight);
  // As cDIBSection: (Width()*3+3)&~3; raises error 6 on overflow.
  int32_t BytesPerScanLine() const;
  int32_t Width() const;
  int32_t Height() const;
  // As cDIBSection::LoadPictureBlt.
  void LoadPictureBlt(int32_t lhDC, int32_t lSrcLeft = 0, int32_t lSrcTop = 0,
                      int32_t lSrcWidth = -1, int32_t lSrcHeight = -1,
                      uint32_t eRop = 0xCC0020);
  int32_t hdc() const;
  int32_t hDib() const;
  uintptr_t DIBSectionBitsPtr() const;
  // As cDIBSection::ClearUp.
  void ClearUp();

  // Returns the pixels (the lowest address, the bottom row), nullptr if none.
  uint8_t* Bits() const;
  // Returns the 40-byte header last passed to the platform.
  const platform::BITMAPINFOHEADER& BitmapInfo() const;

 private:
  dib_internal::DibSectionCore core_;
};

}  // namespace vg::dib

#endif  // VG_DIB_A_DIB_SECTION_H_
