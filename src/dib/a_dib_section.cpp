#include "dib/a_dib_section.h"

namespace vg::dib {

void aDIBSection::CreateFromPicture(const int32_t& picd) {
  CreateFromBitmap(picd);
}

}  // namespace vg::dib
