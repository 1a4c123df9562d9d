// File: platform/folder_listing.h
//
// The folder listing: a pattern such as "/photos/in/" or "/photos/in/*.jpg"
// names a folder (everything up to the last "/") and a file-name pattern (the
// rest; "*" any run of characters, "?" any one, matched without regard to
// case; empty means every file). Only normal files are listed: no folders,
// no hidden dot-files, nothing that is not a regular file once links are
// followed. Names come sorted by their bytes, so that two runs over the same
// folder visit the files in the same order.
//
//   for (const ListedFile& f : ListFolder(u"/photos/in/")) Load(f.name);
//
// The listing is taken whole when it starts: files written while it is being
// walked are never listed by it. `Dir` / `DirNext` keep the program's single
// running listing for callers that walk one name at a time.
#ifndef VG_PLATFORM_FOLDER_LISTING_H_
#define VG_PLATFORM_FOLDER_LISTING_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vg::platform {

struct ListedFile {
  std::u16string name;  // the name only, without the folder
  uint64_t device = 0;  // identity of the file, to recognise it again
  uint64_t inode = 0;
  uint64_t size_bytes = 0;
};

// Returns the files that `pattern` names. A folder that does not exist lists
// nothing; a folder that cannot be read raises error 75 (Path/File access
// error).
std::vector<ListedFile> ListFolder(std::u16string_view pattern);

// Returns true when `name` matches `pattern` ("*", "?", case ignored).
bool MatchesPattern(std::u16string_view name, std::u16string_view pattern);

// Splits a listing pattern into its folder (with its trailing "/", or empty
// for the current folder) and its file-name pattern.
void SplitPattern(std::u16string_view pattern, std::u16string* folder,
                  std::u16string* name_pattern);

// Starts the program's listing (abandoning any other) and returns its first
// name, or an empty text when there is none.
std::u16string Dir(std::u16string_view pattern);

// Returns the next name of the running listing, or an empty text at its end
// (and when no listing runs).
std::u16string DirNext();

}  // namespace vg::platform

#endif  // VG_PLATFORM_FOLDER_LISTING_H_
