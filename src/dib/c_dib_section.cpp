#include "dib/c_dib_section.h"

namespace vg::dib {

// CopyToClipboard, RandomiseBits, Resample, ResampleBits and SaveJPG live in
// files of their own.

void cDIBSection::CreateFromPicture(const platform::Picture& picThis) {
  CreateFromBitmap(picThis.Handle());
}

}  // namespace vg::dib
