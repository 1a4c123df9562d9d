// File: jpeg/librairie_graphique.h
//
// The window's JPEG saver: writes the pixels of an aDIBSection as a JPEG file
// and says whether it worked. It shows nothing and raises nothing of its own;
// the batch calls it with quality 90 and skips a picture that fails.
//
//   dib::aDIBSection dib;
//   dib.CreateFromPicture(picture->Handle());
//   if (!jpeg::SaveDibAsJpeg(dib, u"/photos/petites/IMG_0001.jpg", 90)) {...}
//
// A file already at the path is replaced only once the new one is complete,
// and gets the mode of a new file; its old times and attributes are not kept
// (cDIBSection::SaveJPG keeps them). Not for reporting why a save failed.
#ifndef VG_JPEG_LIBRAIRIE_GRAPHIQUE_H_
#define VG_JPEG_LIBRAIRIE_GRAPHIQUE_H_

#include <cstdint>
#include <string>

#include "jpeg/dib_record.h"
#include "jpeg/ijl.h"
#include "platform/code_page.h"

namespace vg::jpeg {
namespace librairie_graphique {

// Writes `cDib` (an aDIBSection: a created section, read in place: it must stay
// alive and unchanged during the call) as a baseline JFIF file to `sFile` (the
// full path, "/" between folders) at quality `lQuality`, passed on unchecked
// (the library takes values below 1 as 1 and above 100 as 100). Returns true
// when the file is complete and closed; false for every failure (missing
// folder, no permission, full disk, a section that is not created, a path
// holding a zero character). Thread safe for different sections. Raises only
// what reading the section's properties raises (error 6 from BytesPerScanLine).
template <DibSection Dib>
bool SaveDibAsJpeg(const Dib& cDib, const std::u16string& sFile,
                   int32_t lQuality) {
  JPEG_CORE_PROPERTIES jcprops{};
  if (ijlInit(&jcprops) != IJL_OK) return false;
  RecordRelease release(&jcprops);

  const std::string path = platform::ToAnsi(sFile);
  // The library takes a zero-terminated path: a zero inside would cut the
  // name short and write some other file.
  if (path.find('\0') != std::string::npos) return false;
  FillFromDib(jcprops, cDib, path, lQuality);
  return ijlWrite(&jcprops, IJL_JFILE_WRITEWHOLEIMAGE) == IJL_OK;
}

}  // namespace librairie_graphique

using librairie_graphique::SaveDibAsJpeg;

}  // namespace vg::jpeg

#endif  // VG_JPEG_LIBRAIRIE_GRAPHIQUE_H_
