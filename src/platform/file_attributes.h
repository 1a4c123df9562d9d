// File: platform/file_attributes.h
//
// The times and attributes a file carries besides its bytes, captured from
// one file and given to another, so that a rewritten file can look like the
// one it replaces. What is carried over on Linux:
//
//   - last-access and last-write times, to the nanosecond;
//   - permission bits (including set-id and sticky bits);
//   - owner and group, where the process is permitted to set them;
//   - extended attributes (user.*, and security.* / system.* such as POSIX
//     ACLs where permitted); a file system without them is not an error.
//
// The "read-only attribute" of a file is a file with no write permission bit
// at all (owner, group and others); `IsReadOnly` answers it.
//
// What is not carried over: the creation (birth) time. Linux file systems
// record it but offer no call to set it, so a rewritten file keeps the birth
// time of its own creation. The change time (ctime) is likewise the kernel's.
// There is no "archive" or "hidden" attribute on Linux.
//
//   auto before = CaptureFileAttributes(path);   // before the rewrite
//   ...write the new bytes to fd...
//   if (before) ApplyFileAttributes(fd, *before);  // times go last
//
// Not for copying file contents or for walking folders.
#ifndef VG_PLATFORM_FILE_ATTRIBUTES_H_
#define VG_PLATFORM_FILE_ATTRIBUTES_H_

#include <sys/stat.h>
#include <sys/types.h>
#include <time.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vg::platform {

struct ExtendedAttribute {
  std::string name;   // with its namespace prefix, e.g. "user.comment"
  std::string value;  // raw bytes, may hold zero bytes
};

struct FileAttributes {
  mode_t mode = 0;  // the whole st_mode: file type and permission bits
  uid_t owner = 0;
  gid_t group = 0;
  timespec last_access{};  // atime, nanoseconds kept
  timespec last_write{};   // mtime, nanoseconds kept
  std::vector<ExtendedAttribute> extended;
};

// Returns the attributes of the file at `path` (bytes in the ANSI code page;
// a symbolic link is followed), or nothing when no file can be found there
// (missing, a folder on the way missing, not searchable). Extended attributes
// that cannot be read are left out; this never throws on a file-system error.
std::optional<FileAttributes> CaptureFileAttributes(const std::string& path);

// Returns true when `attributes` describe a file with no write permission bit
// at all -- the read-only attribute.
bool IsReadOnly(const FileAttributes& attributes);

// The parts of `ApplyFileAttributes` that could not be applied.
enum FileAttributePart : uint32_t {
  kFileAttrNone = 0,
  kFileAttrOwner = 1,     // owner or group: not permitted (not root)
  kFileAttrMode = 2,      // permission bits
  kFileAttrExtended = 4,  // at least one extended attribute
  kFileAttrTimes = 8,     // access and write times
};

// Gives the open file `fd` (not closed, not owned) the owner and group, the
// permission bits, the extended attributes and, last so that nothing done
// here moves them, the access and write times of `attributes`. Best effort:
// every part is tried; returns the bitwise OR of the FileAttributePart values
// that failed (kFileAttrNone when all applied). The file type in `mode` is
// ignored. Extended attributes already on `fd` that `attributes` lack are
// left as they are.
uint32_t ApplyFileAttributes(int fd, const FileAttributes& attributes);

}  // namespace vg::platform

#endif  // VG_PLATFORM_FILE_ATTRIBUTES_H_
