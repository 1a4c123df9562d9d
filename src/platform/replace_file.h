// File: platform/replace_file.h
//
// Puts a block of bytes at a path in one step: the bytes go to a new
// temporary file in the target's folder, which is flushed, closed and only
// then renamed over the target. A failure at any step removes the temporary
// file, so the target is either the old file, untouched, or the new one,
// complete.
//
// A process killed between creating and renaming its temporary file leaves
// it behind: ".<name>.<pid>.<16 hex digits>.tmp". The first replacement in a
// folder by a process removes every such file of that folder whose process
// is gone (see RemoveStaleTemporaries); nothing else is ever touched.
#ifndef VG_PLATFORM_REPLACE_FILE_H_
#define VG_PLATFORM_REPLACE_FILE_H_

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace vg::platform {

enum class ReplaceResult {
  kDone,
  kCannotCreate,   // the temporary file could not be made (folder missing,
                   // not writable, empty or folder-only path)
  kCannotWrite,    // write, fsync or close failed
  kCannotReplace,  // rename over the target failed
};

// Called with the complete temporary file's descriptor before it is synced
// and renamed (tests put a descriptor that cannot be synced there).
using BeforeReplaceStep = void (*)(int fd, void* context);

// Writes `bytes` to the file `path` (ANSI bytes, no zero byte inside) as
// described above. A symbolic link at `path` is followed, so the file it
// points to is replaced and the link kept; a dangling link is replaced by the
// file. The new file gets the mode a newly created file gets in that folder
// (0666 less the umask, or the folder's default ACL) unless `before_replace`
// changes it; while being written it is readable by its owner only. The
// first call for a folder in this process also sweeps that folder's stale
// temporary files (once per folder, remembered process-wide). Thread safe.
// With `sync` false the bytes are not flushed to the disk before the rename:
// for files that can be made again (a thumbnail cache), a crash may then
// leave an empty file, never a partial one under the target's name.
ReplaceResult ReplaceFile(const std::string& path,
                          std::span<const uint8_t> bytes,
                          BeforeReplaceStep before_replace, void* context,
                          bool sync = true);

// Draws the 64 random bits of a temporary file's name.
using TemporaryNameBits = uint64_t (*)();

// For tests only: makes the temporary names draw from `bits` (nullptr: the
// system's random source again), so that a name can be made to collide with
// an existing file. Returns the source that was in use. Process-wide.
TemporaryNameBits SetTemporaryNameBitsForTesting(TemporaryNameBits bits);

// Returns true when `name` (a bare file name) has the exact shape of a
// temporary file of ReplaceFile: "." + at least one byte + "." + a decimal
// process id without leading zero + "." + 16 lowercase hex digits + ".tmp".
// Stores the process id in `*pid`.
bool IsTemporaryName(const std::string& name, long* pid);

// Removes from `folder` ("" for the root, "." for the current folder) every
// regular file whose name IsTemporaryName accepts, that belongs to the
// effective user, and whose process no longer exists (a process that exists
// under another user, or this very process, keeps its files). Returns the
// number of files removed; a folder that cannot be listed removes none.
int RemoveStaleTemporaries(const std::string& folder);

// Returns the bare names in `folder` that IsTemporaryName accepts, but for
// this process's own (empty when the folder cannot be listed).
std::vector<std::string> ListTemporaries(const std::string& folder);

// Returns true when `temporary`, a name IsTemporaryName accepts, is the
// temporary file of a replacement of the file named `name` in its folder.
// False for every name longer than the part of it a temporary name keeps
// (200 bytes): those are left to RemoveStaleTemporaries.
bool IsTemporaryOf(const std::string& temporary, const std::string& name);

}  // namespace vg::platform

#endif  // VG_PLATFORM_REPLACE_FILE_H_
