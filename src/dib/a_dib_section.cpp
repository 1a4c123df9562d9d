#include "dib/a_dib_section.h"

namespace vg::dib {

bool aDIBSection::CreateDIB(int32_t lhDC, int32_t lWidth, int32_t lHeight,
                            int32_t& hDib) {
  return core_.CreateDIB(lhDC, lWidth, lHeight, hDib);
}

void aDIBSection::CreateFromPicture(const int32_t& picd) {
  core_.CreateFromBitmap(picd);
}

bool aDIBSection::Create(int32_t lWidth, int32_t lHeight) {
  return core_.Create(lWidth, lHeight);
}

int32_t aDIBSection::BytesPerScanLine() const {
  return core_.BytesPerScanLine();
}
int32_t aDIBSection::Width() const { return core_.Width(); }
int32_t aDIBSection::Height() const { return core_.Height(); }

void aDIBSection::LoadPictureBlt(int32_t lhDC, int32_t lSrcLeft,
                                 int32_t lSrcTop, int32_t lSrcWidth,
                                 int32_t lSrcHeight, uint32_t eRop) {
  core_.LoadPictureBlt(lhDC, lSrcLeft, lSrcTop, lSrcWidth, lSrcHeight, eRop);
}

int32_t aDIBSection::hdc() const { return core_.hdc(); }
int32_t aDIBSection::hDib() const { return core_.hDib(); }
uintptr_t aDIBSection::DIBSectionBitsPtr() const {
  return reinterpret_cast<uintptr_t>(core_.Bits());
}

void aDIBSection::ClearUp() { core_.ClearUp(); }

uint8_t* aDIBSection::Bits() const { return core_.Bits(); }
const platform::BITMAPINFOHEADER& aDIBSection::BitmapInfo() const {
  return core_.BitmapInfo();
}

}  // namespace vg::dib
