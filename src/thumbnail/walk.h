// File: thumbnail/walk.h
//
// The pictures of a folder and of every folder below it, listed once before
// a recursive run: each folder with the path its thumbnails go to (every
// name made safe as a picture's name is), its files as a folder listing
// gives them (platform/folder_listing.h), a folder's own files before those
// of its sub-folders, sub-folders by their bytes.
//
//   Walk walk = WalkTree(u"/photos/", u"*.jpg", {u"/photos/thumbs/"}, {});
//   for (size_t i = 0; i < walk.files.size(); ++i)
//     Load(u"/photos/" + walk.folders[walk.folder_of[i]].origin +
//          walk.files[i].name);
//
// Links to folders are followed, each folder walked once (known by device
// and inode), so a link back up the tree makes no cycle. Hidden folders
// are left out like hidden files, and so are the destinations: a
// destination inside the origin is never walked into.
#ifndef VG_THUMBNAIL_WALK_H_
#define VG_THUMBNAIL_WALK_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/folder_listing.h"

namespace vg::thumbnail {

struct WalkedFolder {
  std::u16string origin;  // path below the origin, "" or ending in "/"
  std::u16string mirror;  // the same path, each name made safe
};

// A folder the walk could not enter or would not.
struct WalkProblem {
  std::u16string path;  // the folder, ending in "/"
  std::string reason;   // English
};

struct Walk {
  std::vector<WalkedFolder> folders;  // the origin itself first
  std::vector<platform::ListedFile> files;
  std::vector<uint32_t> folder_of;  // index into folders, one per file
  std::vector<WalkProblem> problems;
};

// Walks `origin` (a folder with its trailing "/"), listing the files whose
// names match `name_pattern` (empty: every file). `destinations` are the
// folders written into (with their trailing "/"; the origin itself may be
// one): never walked into unless one is the origin. `set_folders` are the
// folders each mirrored folder holds for a set ("Grand/"): where they exist
// in the destination they are not walked either, and a sub-folder of the
// origin whose safe name is one of them is a problem (its thumbnails would
// land among that set's), not walked.
// A missing origin lists nothing; an origin that cannot be read raises
// platform::Error 75. A sub-folder that cannot be read is a problem.
Walk WalkTree(const std::u16string& origin, std::u16string_view name_pattern,
              const std::vector<std::u16string>& destinations,
              const std::vector<std::u16string>& set_folders);

}  // namespace vg::thumbnail

#endif  // VG_THUMBNAIL_WALK_H_
