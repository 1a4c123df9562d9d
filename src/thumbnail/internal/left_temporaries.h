// Internal to vg::thumbnail: do not include from other modules.
//
// The temporary files that writers killed between their write and their
// rename left beside a run's outputs. A run owns the names of its outputs (no
// other run of the same collection writes them, the shares of one run
// included), so a temporary file of one of those names that is not its own
// is stale, whoever made it and on whichever machine.
#ifndef VG_THUMBNAIL_INTERNAL_LEFT_TEMPORARIES_H_
#define VG_THUMBNAIL_INTERNAL_LEFT_TEMPORARIES_H_

#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace vg::thumbnail::thumbnail_internal {

class LeftTemporaries {
 public:
  // Removes the temporary files of `output` (an ANSI path) left in its
  // folder; only regular files are removed. Each folder is listed once, the
  // first time one of its outputs is asked for. Thread safe.
  void RemoveFor(const std::string& output);

 private:
  std::mutex mutex_;
  std::map<std::string, std::vector<std::string>> by_folder_;
};

}  // namespace vg::thumbnail::thumbnail_internal

#endif  // VG_THUMBNAIL_INTERNAL_LEFT_TEMPORARIES_H_
