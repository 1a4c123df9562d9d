// cDIBSection::RandomiseBits: grey or blue-free colour noise written in place
// into the section's pixels. The loops live in internal/fill_random.
#include <cstdint>
#include <random>

#include "dib/c_dib_section.h"
#include "dib/internal/fill_random.h"
#include "platform/checked.h"

namespace vg::dib {

void cDIBSection::RandomiseBits(bool bGray) {
  const int32_t stride = BytesPerScanLine();  // raises 6 for huge widths
  const int32_t height = Height();
  // A new sequence on every call, seeded from the time of day.
  std::mt19937 engine =
      dib_internal::EngineFromSeconds(dib_internal::SecondsSinceMidnight());
  // Offset of the last pixel's blue byte in a row; raises 6 before any write.
  const int32_t last_pixel =
      platform::CheckedMul32(platform::CheckedSub32(Width(), 1), 3);
  // After a failed Create or a ClearUp, Width and Height may still report a
  // size while there are no pixels: FillRandom writes nothing through null.
  dib_internal::FillRandom(Bits(), last_pixel / 3 + 1, height, stride, bGray,
                           engine);
}

}  // namespace vg::dib
