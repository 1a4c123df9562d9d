// Internal to vg::jpeg: do not include from other modules.
//
// Puts a block of bytes at a path in one step: the bytes go to a new
// temporary file in the target's folder, which is flushed, closed and only
// then renamed over the target. A failure at any step removes the temporary
// file, so the target is either the old file, untouched, or the new one,
// complete.
#ifndef VG_JPEG_INTERNAL_REPLACE_FILE_H_
#define VG_JPEG_INTERNAL_REPLACE_FILE_H_

#include <cstdint>
#include <span>
#include <string>

namespace vg::jpeg::jpeg_internal {

enum class ReplaceResult {
  kDone,
  kCannotCreate,   // the temporary file could not be made (folder missing,
                   // not writable, empty or folder-only path)
  kCannotWrite,    // write, fsync or close failed
  kCannotReplace,  // rename over the target failed
};

// Called with the complete temporary file's descriptor before the rename.
using BeforeReplaceStep = void (*)(int fd, void* context);

// Writes `bytes` to the file `path` (ANSI bytes, no zero byte inside) as
// described above. A symbolic link at `path` is followed, so the file it
// points to is replaced and the link kept; a dangling link is replaced by the
// file. The new file gets the mode a newly created file gets in that folder
// (0666 less the umask, or the folder's default ACL) unless `before_replace`
// changes it; while being written it is readable by its owner only. Thread
// safe; no global state.
ReplaceResult ReplaceFile(const std::string& path,
                          std::span<const uint8_t> bytes,
                          BeforeReplaceStep before_replace, void* context);

}  // namespace vg::jpeg::jpeg_internal

#endif  // VG_JPEG_INTERNAL_REPLACE_FILE_H_
