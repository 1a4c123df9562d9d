#include "platform/folder_listing.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <mutex>

#include "platform/case_fold.h"
#include "platform/code_page.h"
#include "platform/error.h"

namespace vg::platform {
namespace {

struct DirCloser {
  void operator()(DIR* d) const { closedir(d); }
};

struct RunningListing {
  std::mutex mutex;
  std::vector<ListedFile> files;
  size_t next = 0;
};

RunningListing& Running() {
  static RunningListing listing;
  return listing;
}

}  // namespace

void SplitPattern(std::u16string_view pattern, std::u16string* folder,
                  std::u16string* name_pattern) {
  size_t slash = pattern.find_last_of(u'/');
  if (slash == std::u16string_view::npos) {
    folder->clear();
    name_pattern->assign(pattern);
  } else {
    folder->assign(pattern.substr(0, slash + 1));
    name_pattern->assign(pattern.substr(slash + 1));
  }
}

bool MatchesPattern(std::u16string_view name, std::u16string_view pattern) {
  // Iterative wildcard match with one backtrack point: linear in practice and
  // never recursive, whatever the pattern.
  size_t n = 0, p = 0;
  size_t star = std::u16string_view::npos, star_n = 0;
  while (n < name.size()) {
    if (p < pattern.size() &&
        (pattern[p] == u'?' || FoldCase(pattern[p]) == FoldCase(name[n]))) {
      ++n;
      ++p;
    } else if (p < pattern.size() && pattern[p] == u'*') {
      star = p++;
      star_n = n;
    } else if (star != std::u16string_view::npos) {
      p = star + 1;
      n = ++star_n;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == u'*') ++p;
  return p == pattern.size();
}

std::vector<ListedFile> ListFolder(std::u16string_view pattern) {
  std::u16string folder, name_pattern;
  SplitPattern(pattern, &folder, &name_pattern);
  std::string folder_bytes = folder.empty() ? std::string(".") : ToAnsi(folder);

  std::unique_ptr<DIR, DirCloser> dir(opendir(folder_bytes.c_str()));
  if (!dir) {
    if (errno == ENOENT || errno == ENOTDIR) return {};
    throw Error::Standard(kErrPathFileAccess, "Dir");
  }
  int dir_fd = dirfd(dir.get());
  std::vector<std::pair<std::string, ListedFile>> found;
  while (dirent* entry = readdir(dir.get())) {
    std::string bytes = entry->d_name;
    if (bytes.empty() || bytes[0] == '.') continue;  // hidden, "." and ".."
    std::u16string name = FromAnsi(bytes);
    if (!name_pattern.empty() && !MatchesPattern(name, name_pattern)) continue;
    struct stat st {};
    if (fstatat(dir_fd, bytes.c_str(), &st, 0) != 0) continue;
    if (!S_ISREG(st.st_mode)) continue;
    found.push_back(
        {bytes, ListedFile{std::move(name), static_cast<uint64_t>(st.st_dev),
                           static_cast<uint64_t>(st.st_ino),
                           static_cast<uint64_t>(st.st_size)}});
  }
  std::sort(found.begin(), found.end(),
            [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<ListedFile> files;
  files.reserve(found.size());
  for (auto& f : found) files.push_back(std::move(f.second));
  return files;
}

std::u16string Dir(std::u16string_view pattern) {
  std::vector<ListedFile> files = ListFolder(pattern);
  RunningListing& running = Running();
  std::lock_guard lock(running.mutex);
  running.files = std::move(files);
  running.next = 0;
  if (running.files.empty()) return {};
  return running.files[running.next++].name;
}

std::u16string DirNext() {
  RunningListing& running = Running();
  std::lock_guard lock(running.mutex);
  if (running.next >= running.files.size()) return {};
  return running.files[running.next++].name;
}

}  // namespace vg::platform
