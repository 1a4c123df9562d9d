#include "jpeg/librairie_graphique.h"

#include <string>

#include "jpeg/ijl.h"
#include "jpeg/internal/dib_record.h"
#include "platform/code_page.h"

namespace vg::jpeg::librairie_graphique {

bool SaveDibAsJpeg(const dib::aDIBSection& cDib, std::u16string sFile,
                   int32_t lQuality) {
  JPEG_CORE_PROPERTIES jcprops{};
  if (ijlInit(&jcprops) != IJL_OK) return false;
  jpeg_internal::RecordRelease release(&jcprops);

  const std::string path = platform::ToAnsi(sFile);
  // The library takes a zero-terminated path: a zero inside would cut the
  // name short and write some other file.
  if (path.find('\0') != std::string::npos) return false;
  jpeg_internal::FillFromDib(jcprops, cDib, path, lQuality);
  return ijlWrite(&jcprops, IJL_JFILE_WRITEWHOLEIMAGE) == IJL_OK;
}

}  // namespace vg::jpeg::librairie_graphique
