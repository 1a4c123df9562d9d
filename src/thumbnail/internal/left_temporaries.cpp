#include "thumbnail/internal/left_temporaries.h"

#include <sys/stat.h>
#include <unistd.h>

#include "platform/replace_file.h"

namespace vg::thumbnail::thumbnail_internal {

void LeftTemporaries::RemoveFor(const std::string& output) {
  const size_t slash = output.find_last_of('/');
  const std::string folder =
      slash == std::string::npos ? "." : output.substr(0, slash);
  const std::string name =
      slash == std::string::npos ? output : output.substr(slash + 1);
  std::lock_guard lock(mutex_);
  auto [at, listed] = by_folder_.try_emplace(folder);
  if (listed) at->second = platform::ListTemporaries(folder);
  std::vector<std::string>& left = at->second;
  for (size_t i = 0; i < left.size();) {
    if (!platform::IsTemporaryOf(left[i], name)) {
      ++i;
      continue;
    }
    const std::string path = (slash == 0 ? "" : folder) + "/" + left[i];
    struct stat st {};
    if (lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
      unlink(path.c_str());
    }
    left[i] = std::move(left.back());
    left.pop_back();
  }
}

}  // namespace vg::thumbnail::thumbnail_internal
