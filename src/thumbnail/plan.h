// File: thumbnail/plan.h
//
// What a batch will do with a listing, decided before any picture is read:
// which names are skipped, the name each picture is written under, which
// outputs would replace an input, and the order the workers take them in.
//
//   std::vector<platform::ListedFile> files = platform::ListFolder(origin);
//   Plan plan = MakePlan(files);
//   for (size_t g : plan.order)               // the largest groups first
//     for (size_t i : plan.groups[g])         // one output name, in order
//       Make(files[i]);                       // the last one listed wins
//
// Pictures that would be written under one name form a group that one
// worker makes in listing order, so the last one listed is the one kept,
// whatever the number of workers: a run with many workers writes the same
// files as a run with one.
#ifndef VG_THUMBNAIL_PLAN_H_
#define VG_THUMBNAIL_PLAN_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/folder_listing.h"

namespace vg::thumbnail {

// Returns true for the names a batch passes over without counting them:
// ".", ".." and "thumbs.db" in any case.
bool IsSkippedName(const std::u16string& name);

// Returns the name a listed file is written under: transliterated to
// characters safe on any file system, quotes turned into "-". Falls back to
// the listed name when the transliteration fails.
std::u16string OutputName(const std::u16string& listed_name);

// The run's input files, known by identity (device and inode), so that no
// output replaces one of them: a destination equal to the origin keeps every
// original. `more` adds files that are not listed but must be kept too.
class InputGuard {
 public:
  explicit InputGuard(
      const std::vector<platform::ListedFile>& files,
      const std::vector<std::pair<uint64_t, uint64_t>>& more = {});
  // Returns true when `path` names one of the inputs now.
  bool Contains(const std::u16string& path) const;

 private:
  std::vector<std::pair<uint64_t, uint64_t>> ids_;  // sorted
};

// Returns the 64-bit FNV-1a hash of the UTF-8 bytes of `output_path` (each
// escaped byte of a name that is not UTF-8 counts as itself). Stable from
// run to run and machine to machine: it decides a picture's shard.
uint64_t ShardHash(std::u16string_view output_path);

// A share of a run: the pictures whose output path (relative to the
// destination) hashes to `index` modulo `count`. Pictures written under one
// name are in one shard, and a file added to the origin moves no other.
struct Shard {
  uint64_t index = 0;  // 0 to count - 1
  uint64_t count = 1;  // 1: the whole run
  bool Contains(std::u16string_view output_path) const {
    return count <= 1 || ShardHash(output_path) % count == index;
  }
};

struct Plan {
  // Indexes into the listing, one group per output name, in listing order.
  std::vector<std::vector<size_t>> groups;
  // Group indexes, the group of the most bytes first.
  std::vector<size_t> order;
  // Pictures to make (listed names that are not skipped).
  size_t pictures = 0;
};

// Plans `files` of one folder: each is written under OutputName(name).
Plan MakePlan(const std::vector<platform::ListedFile>& files);

// What a plan keeps of a listing.
struct PlanFilter {
  // Returns the path file i is written under, relative to its set's
  // destination; files with one path form a group.
  std::function<std::u16string(size_t)> output_path;
  // Keeps only the groups of this shard.
  Shard shard;
  // When set, keeps only the groups with at least one file it accepts (the
  // whole group, so that the last one listed still wins).
  std::function<bool(size_t)> wanted;
};

// Plans `files` through `filter`; Plan::pictures counts the files kept.
Plan MakePlan(const std::vector<platform::ListedFile>& files,
              const PlanFilter& filter);

}  // namespace vg::thumbnail

#endif  // VG_THUMBNAIL_PLAN_H_
