// cDIBSection::SaveJPG: the full class's JPEG writer, over the JPEG
// library of vg::jpeg (which knows nothing of this class).
//
// What it adds to the window's saver: failures are raised, and a file it
// replaces keeps its last-access and last-write times (to the nanosecond),
// permission bits, owner and group (where permitted) and extended
// attributes. They are given to the new file before it takes the old one's
// name, so the file never shows up with the wrong ones. The creation (birth)
// time cannot be set on Linux file systems and is not carried over.
//
// A file without any write permission bit is read-only: saving over it
// raises error 75 and leaves it untouched, even for root. The old file is
// only replaced once the new one is complete, so a failed save leaves it in
// place. The path is one literal file name: "*" and "?" are ordinary
// characters, so a path holding them never touches any other file.
#include <optional>
#include <string>

#include "dib/c_dib_section.h"
#include "jpeg/dib_record.h"
#include "jpeg/ijl.h"
#include "platform/code_page.h"
#include "platform/error.h"
#include "platform/file_attributes.h"

namespace vg::dib {
namespace {

constexpr int32_t kErrJpegLibrary = 26001;
constexpr const char* kWriteHelpFile = "48";

std::string LibrarySource() {
  return platform::ProgramName() + ".mIntelJPEGLibrary";
}

platform::Error WriteFailure(int32_t status) {
  return platform::Error(kErrJpegLibrary, LibrarySource(),
                         "Failed to save to JPG " + std::to_string(status),
                         kWriteHelpFile);
}

void GiveOldAttributes(int fd, void* context) {
  // Best effort: a part the file system or our rights refuse stays as a new
  // file has it, and the save still succeeds.
  (void)platform::ApplyFileAttributes(
      fd, *static_cast<const platform::FileAttributes*>(context));
}

}  // namespace

bool cDIBSection::SaveJPG(cDIBSection& cDib, const std::u16string& sFile,
                          int32_t lQuality) {
  jpeg::JPEG_CORE_PROPERTIES jcprops{};
  const int32_t init_status = jpeg::ijlInit(&jcprops);
  if (init_status != jpeg::IJL_OK) {
    throw platform::Error(
        kErrJpegLibrary, LibrarySource(),
        "Failed to initialise the IJL library: " + std::to_string(init_status));
  }
  jpeg::RecordRelease release(&jcprops);

  const std::string path = platform::ToAnsi(sFile);
  if (path.find('\0') != std::string::npos) {
    // A zero would cut the name short: no file of that name can be made.
    release.Release();
    throw WriteFailure(jpeg::IJL_ERR_OPEN_FILE);
  }

  std::optional<platform::FileAttributes> old_file =
      platform::CaptureFileAttributes(path);
  if (old_file && platform::IsReadOnly(*old_file)) {
    throw platform::Error::Standard(platform::kErrPathFileAccess,
                                    platform::ProgramName());
  }

  jpeg::FillFromDib(jcprops, cDib, path, lQuality);
  if (old_file) {
    jcprops.JPGBeforeReplace = &GiveOldAttributes;
    jcprops.JPGBeforeReplaceContext = &*old_file;
  }

  const int32_t status =
      jpeg::ijlWrite(&jcprops, jpeg::IJL_JFILE_WRITEWHOLEIMAGE);
  release.Release();
  if (status != jpeg::IJL_OK) throw WriteFailure(status);
  return true;
}

}  // namespace vg::dib
