// File: dib/internal/dib_section_core.h
//
// Internal to vg::dib: do not include from other modules. The state and the
// behaviour that cDIBSection and aDIBSection share, written once; both
// classes hold one DibSectionCore and forward to it.
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
#ifndef VG_DIB_INTERNAL_DIB_SECTION_CORE_H_
#define VG_DIB_INTERNAL_DIB_SECTION_CORE_H_

#include <cstdint>

#include "platform/gdi.h"

namespace vg::dib::dib_internal {

class DibSectionCore {
 public:
  DibSectionCore() = default;
  ~DibSectionCore() { ClearUp(); }
  DibSectionCore(const DibSectionCore&) = delete;
  DibSectionCore& operator=(const DibSectionCore&) = delete;
  DibSectionCore(DibSectionCore&& other) noexcept;
  DibSectionCore& operator=(DibSectionCore&& other) noexcept;

  bool CreateDIB(int32_t lhDC, int32_t lWidth, int32_t lHeight, int32_t& hDib);
  void CreateFromBitmap(platform::HBITMAP bitmap);
  bool Create(int32_t lWidth, int32_t lHeight);
  int32_t BytesPerScanLine() const;
  int32_t Width() const { return tBitmapInfo.biWidth; }
  int32_t Height() const { return tBitmapInfo.biHeight; }
  void LoadPictureBlt(int32_t lhDC, int32_t lSrcLeft, int32_t lSrcTop,
                      int32_t lSrcWidth, int32_t lSrcHeight, uint32_t eRop);
  void PaintPicture(int32_t lhDC, int32_t lDestLeft, int32_t lDestTop,
                    int32_t lDestWidth, int32_t lDestHeight, int32_t lSrcLeft,
                    int32_t lSrcTop, uint32_t eRop);
  int32_t hdc() const { return hdc_; }
  int32_t hDib() const { return hDib_; }
  uint8_t* Bits() const { return bits_; }
  const platform::BITMAPINFOHEADER& BitmapInfo() const { return tBitmapInfo; }
  void ClearUp() noexcept;

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

}  // namespace vg::dib::dib_internal

#endif  // VG_DIB_INTERNAL_DIB_SECTION_CORE_H_
