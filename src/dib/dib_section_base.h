// File: dib/dib_section_base.h
//
// DibSectionBase: what cDIBSection and aDIBSection have in common, written
// once. It owns a 24-bit bottom-up section selected into a memory context of
// its own; both classes derive from it and add their own ways to fill it.
//
// The three paths, in short:
//   Create(w, h):   ClearUp; hdc = CreateCompatibleDC(0); CreateDIB(hdc, w, h)
//                   makes a 24-bit bottom-up section; select it into hdc and
//                   keep the stock bitmap it replaced in hSavedBitmap.
//   ClearUp():      select hSavedBitmap back, delete the section, delete the
//                   context; zero the handles and the bits address. The header
//                   (Width, Height) keeps the last requested size.
//   CreateFromBitmap(hbm): Create at the bitmap's size, then select the bitmap
//                   into a context made from the screen's and copy it whole
//                   with one BitBlt into the section's top-left corner.
//
// Not used on its own: make a cDIBSection or an aDIBSection.
#ifndef VG_DIB_DIB_SECTION_BASE_H_
#define VG_DIB_DIB_SECTION_BASE_H_

#include <cstdint>

#include "platform/gdi.h"

namespace vg::dib {

class DibSectionBase {
 public:
  // Writes the 24-bit header for lWidth x lHeight (pixels) and creates a
  // section through `lhDC` for the CALLER: its handle goes to hDib (0 on
  // failure) and the caller deletes it; the object does not point at its
  // pixels. Returns true when it was created. Raises error 6 when the row
  // size or the image size overflows 32 bits (the header is then already
  // written). Sizes <= 0 fail. Refused (false, hDib 0, nothing changed)
  // while the object holds a section of its own, whose size the header must
  // keep describing.
  bool CreateDIB(int32_t lhDC, int32_t lWidth, int32_t lHeight, int32_t& hDib);

  // Releases what the object holds, then makes a memory context and a
  // lWidth x lHeight section selected in it. Returns true when the object
  // holds a section. Raises error 6 as CreateDIB; the new context then stays
  // recorded (hdc() non-zero, no section) until the next ClearUp.
  bool Create(int32_t lWidth, int32_t lHeight);

  // Returns (Width()*3+3)&~3: the bytes of one row. Raises error 6 when that
  // overflows 32 bits (widths above 715 827 881).
  int32_t BytesPerScanLine() const;
  // Returns the width and height (pixels) last written to the header.
  int32_t Width() const { return tBitmapInfo.biWidth; }
  int32_t Height() const { return tBitmapInfo.biHeight; }

  // BitBlt(hdc(), 0, 0, w, h, lhDC, lSrcLeft, lSrcTop, eRop), where a
  // negative lSrcWidth / lSrcHeight means Width() / Height(). The destination
  // is always the section's top-left corner. Failures are ignored.
  void LoadPictureBlt(int32_t lhDC, int32_t lSrcLeft = 0, int32_t lSrcTop = 0,
                      int32_t lSrcWidth = -1, int32_t lSrcHeight = -1,
                      uint32_t eRop = 0xCC0020);

  // Returns the memory context, the section, the pixel address (0 if none).
  int32_t hdc() const { return hdc_; }
  int32_t hDib() const { return hDib_; }
  uintptr_t DIBSectionBitsPtr() const;

  // Selects the saved bitmap back, deletes the section and the context, and
  // zeroes the handles and the pixel address. Width()/Height() keep their
  // values. Safe to call any number of times.
  void ClearUp() noexcept;

  // Returns the pixels (the lowest address, the bottom row), nullptr if none.
  uint8_t* Bits() const { return bits_; }
  // Returns the 40-byte header last passed to the platform.
  const platform::BITMAPINFOHEADER& BitmapInfo() const { return tBitmapInfo; }

 protected:
  DibSectionBase() = default;
  // Runs ClearUp.
  ~DibSectionBase() { ClearUp(); }
  DibSectionBase(const DibSectionBase&) = delete;
  DibSectionBase& operator=(const DibSectionBase&) = delete;
  // Moves take the handles and leave the source like a new object; a move
  // assignment releases what the target held first.
  DibSectionBase(DibSectionBase&& other) noexcept;
  DibSectionBase& operator=(DibSectionBase&& other) noexcept;

  // Create at the size of `bitmap`, then copy it in, converted to 24 bits and
  // upright. A bitmap selected in some context at the time cannot be read:
  // the section then stays created but unfilled (zero).
  void CreateFromBitmap(platform::HBITMAP bitmap);

  // BitBlt(lhDC, lDestLeft, lDestTop, w, h, hdc(), lSrcLeft, lSrcTop, eRop),
  // where a negative lDestWidth / lDestHeight means Width() / Height(). No
  // stretching. Failures are ignored.
  void PaintPicture(int32_t lhDC, int32_t lDestLeft = 0, int32_t lDestTop = 0,
                    int32_t lDestWidth = -1, int32_t lDestHeight = -1,
                    int32_t lSrcLeft = 0, int32_t lSrcTop = 0,
                    uint32_t eRop = 0xCC0020);

 private:
  // Writes the header for lWidth x lHeight (raising error 6 on overflow) and
  // makes the section; *bits receives its pixels. Returns 0 on failure.
  platform::HBITMAP MakeSection(int32_t lhDC, int32_t lWidth, int32_t lHeight,
                                uint8_t** bits);

  // In this order: section, the bitmap it replaced, memory context, bits.
  platform::HBITMAP hDib_ = 0;
  platform::HGDIOBJ hSavedBitmap_ = 0;
  platform::HDC hdc_ = 0;
  uint8_t* bits_ = nullptr;
  platform::BITMAPINFOHEADER tBitmapInfo{};
};

}  // namespace vg::dib

#endif  // VG_DIB_DIB_SECTION_BASE_H_
