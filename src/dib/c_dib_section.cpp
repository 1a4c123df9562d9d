#include "dib/c_dib_section.h"

namespace vg::dib {

// CopyToClipboard, RandomiseBits, Resample, ResampleBits and SaveJPG live in
// files of their own.

bool cDIBSection::CreateDIB(int32_t lhDC, int32_t lWidth, int32_t lHeight,
                            int32_t& hDib) {
  return core_.CreateDIB(lhDC, lWidth, lHeight, hDib);
}

void cDIBSection::CreateFromPicture(const platform::Picture& picThis) {
  core_.CreateFromBitmap(picThis.Handle());
}

bool cDIBSection::Create(int32_t lWidth, int32_t lHeight) {
  return core_.Create(lWidth, lHeight);
}

int32_t cDIBSection::BytesPerScanLine() const {
  return core_.BytesPerScanLine();
}
int32_t cDIBSection::Width() const { return core_.Width(); }
int32_t cDIBSection::Height() const { return core_.Height(); }

void cDIBSection::LoadPictureBlt(int32_t lhDC, int32_t lSrcLeft,
                                 int32_t lSrcTop, int32_t lSrcWidth,
                                 int32_t lSrcHeight, uint32_t eRop) {
  core_.LoadPictureBlt(lhDC, lSrcLeft, lSrcTop, lSrcWidth, lSrcHeight, eRop);
}

void cDIBSection::PaintPicture(int32_t lhDC, int32_t lDestLeft,
                               int32_t lDestTop, int32_t lDestWidth,
                               int32_t lDestHeight, int32_t lSrcLeft,
                               int32_t lSrcTop, uint32_t eRop) {
  core_.PaintPicture(lhDC, lDestLeft, lDestTop, lDestWidth, lDestHeight,
                     lSrcLeft, lSrcTop, eRop);
}

int32_t cDIBSection::hdc() const { return core_.hdc(); }
int32_t cDIBSection::hDib() const { return core_.hDib(); }
uintptr_t cDIBSection::DIBSectionBitsPtr() const {
  return reinterpret_cast<uintptr_t>(core_.Bits());
}

void cDIBSection::ClearUp() { core_.ClearUp(); }

uint8_t* cDIBSection::Bits() const { return core_.Bits(); }
const platform::BITMAPINFOHEADER& cDIBSection::BitmapInfo() const {
  return core_.BitmapInfo();
}

}  // namespace vg::dib
