// cDIBSection::Resample and its worker: a resized copy of the picture, made
// by a straight copy at the same size and by bilinear interpolation
// otherwise. The interpolation itself lives in internal/resample_bilinear.
#include <cstdint>
#include <memory>

#include "dib/c_dib_section.h"
#include "dib/internal/resample_bilinear.h"

namespace vg::dib {

std::unique_ptr<cDIBSection> cDIBSection::Resample(int32_t lNewHeight,
                                                   int32_t lNewWidth) {
  if (lNewWidth < 1 || lNewHeight < 1) return nullptr;
  auto resampled = std::make_unique<cDIBSection>();
  if (!resampled->Create(lNewWidth, lNewHeight)) return nullptr;
  if (lNewWidth == Width() && lNewHeight == Height()) {
    // A pixel-identical copy, not an interpolation with a scale just below 1.
    resampled->LoadPictureBlt(hdc(), 0, 0, -1, -1, 0xCC0020);
  } else {
    ResampleBits(*resampled);
  }
  return resampled;
}

void cDIBSection::ResampleBits(cDIBSection& cDibTo) {
  const uint8_t* from = Bits();
  uint8_t* to = cDibTo.Bits();
  // An object without a section has nothing to read (its Width and Height
  // may still report the last size asked for): leave the target as Create
  // left it, as the same-size copy does.
  if (from == nullptr || to == nullptr) return;
  dib_internal::ResampleBilinear(from, Width(), Height(), BytesPerScanLine(),
                                 to, cDibTo.Width(), cDibTo.Height(),
                                 cDibTo.BytesPerScanLine());
}

}  // namespace vg::dib
