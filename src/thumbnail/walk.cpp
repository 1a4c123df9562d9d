#include "thumbnail/walk.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <set>
#include <utility>

#include "platform/code_page.h"
#include "platform/error.h"
#include "thumbnail/plan.h"

namespace vg::thumbnail {
namespace {

using Identity = std::pair<uint64_t, uint64_t>;  // device, inode

struct DirCloser {
  void operator()(DIR* d) const { closedir(d); }
};

bool IdentityOf(const std::u16string& path, Identity* id) {
  struct stat st {};
  if (stat(platform::ToAnsi(path).c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
    return false;
  *id = {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
  return true;
}

struct Pending {
  std::u16string origin;
  std::u16string mirror;
};

struct Entry {
  std::string bytes;
  struct stat st;
};

}  // namespace

Walk WalkTree(const std::u16string& origin, std::u16string_view name_pattern,
              const std::vector<std::u16string>& destinations,
              const std::vector<std::u16string>& set_folders) {
  Walk walk;
  Identity root{};
  if (!IdentityOf(origin, &root)) {
    struct stat st {};
    const int err =
        stat(platform::ToAnsi(origin).c_str(), &st) == 0 ? ENOTDIR : errno;
    if (err == ENOENT || err == ENOTDIR) return walk;
    throw platform::Error::Standard(platform::kErrPathFileAccess, "Dir");
  }
  std::set<Identity> excluded;
  for (const std::u16string& d : destinations) {
    Identity id{};
    if (IdentityOf(d, &id) && id != root) excluded.insert(id);
  }
  std::set<Identity> visited{root};
  std::vector<Pending> stack{{u"", u""}};
  while (!stack.empty()) {
    Pending here = std::move(stack.back());
    stack.pop_back();
    const auto folder = static_cast<uint32_t>(walk.folders.size());
    const std::u16string path = origin + here.origin;
    // The set folders of this folder's mirror, when they are inside the
    // origin (the destination is the origin): outputs, not pictures.
    for (const std::u16string& d : destinations) {
      for (const std::u16string& set_folder : set_folders) {
        Identity id{};
        if (!set_folder.empty() &&
            IdentityOf(d + here.mirror + set_folder, &id))
          excluded.insert(id);
      }
    }
    std::unique_ptr<DIR, DirCloser> dir(
        opendir(platform::ToAnsi(path).c_str()));
    if (!dir) {
      if (folder == 0) {
        throw platform::Error::Standard(platform::kErrPathFileAccess, "Dir");
      }
      walk.problems.push_back(
          {path, std::string("could not be listed: ") + std::strerror(errno)});
      continue;
    }
    walk.folders.push_back({here.origin, here.mirror});
    const int dir_fd = dirfd(dir.get());
    std::vector<Entry> files, children;
    while (dirent* entry = readdir(dir.get())) {
      if (entry->d_name[0] == '.') continue;  // hidden, "." and ".."
      Entry e{entry->d_name, {}};
      if (fstatat(dir_fd, entry->d_name, &e.st, 0) != 0) continue;
      if (S_ISDIR(e.st.st_mode)) {
        children.push_back(std::move(e));
      } else if (S_ISREG(e.st.st_mode)) {
        if (!name_pattern.empty() &&
            !platform::MatchesPattern(platform::FromAnsi(e.bytes),
                                      name_pattern)) {
          continue;
        }
        files.push_back(std::move(e));
      }
    }
    dir.reset();
    auto by_bytes = [](const Entry& a, const Entry& b) {
      return a.bytes < b.bytes;
    };
    std::sort(files.begin(), files.end(), by_bytes);
    std::sort(children.begin(), children.end(), by_bytes);
    for (const Entry& f : files) {
      walk.files.push_back({platform::FromAnsi(f.bytes),
                            static_cast<uint64_t>(f.st.st_dev),
                            static_cast<uint64_t>(f.st.st_ino),
                            static_cast<uint64_t>(f.st.st_size)});
      walk.folder_of.push_back(folder);
    }
    std::vector<Pending> below;
    for (const Entry& c : children) {
      const Identity id{static_cast<uint64_t>(c.st.st_dev),
                        static_cast<uint64_t>(c.st.st_ino)};
      if (excluded.count(id) != 0 || !visited.insert(id).second) continue;
      const std::u16string name = platform::FromAnsi(c.bytes);
      const std::u16string safe = OutputName(name) + u"/";
      if (std::find(set_folders.begin(), set_folders.end(), safe) !=
          set_folders.end()) {
        walk.problems.push_back(
            {path + name + u"/",
             "not walked: its thumbnails would be mixed with those of the "
             "set written in " +
                 platform::ToAnsi(safe)});
        continue;
      }
      below.push_back({here.origin + name + u"/", here.mirror + safe});
    }
    // Depth first, the sub-folders in order of their bytes.
    for (auto it = below.rbegin(); it != below.rend(); ++it) {
      stack.push_back(std::move(*it));
    }
  }
  return walk;
}

}  // namespace vg::thumbnail
