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

// Returns the point of the circle of 2^64 points that `output_path` falls
// on; a picture's share is the arc of it (see Shard). Stable from run to run,
// machine to machine and version to version: it decides which run of a
// collection makes the picture. The last run of digits of the file name is
// read as a number n and the rest of the path, with that run taken out,
// hashed (64-bit FNV-1a over the UTF-8 bytes, each escaped byte of a name
// that is not UTF-8 counting as itself, then mixed): the point is that hash
// plus n times 2^64 / golden ratio. Numbered names (IMG_0001, p0000, p0011,
// ...) then fall evenly round the circle whatever their step, where a hash
// of each name would leave shares uneven by chance; names without a number
// fall where their hash puts them.
uint64_t ShardPoint(std::u16string_view output_path);

// A share of a run: the pictures whose output path (relative to the
// destination) falls on arc `index` of `count` equal arcs of the circle.
// Pictures written under one name are in one shard, and a file added to the
// origin moves no other.
struct Shard {
  uint64_t index = 0;  // 0 to count - 1
  uint64_t count = 1;  // 1: the whole run
  // The arc `point` is on: point * count / 2^64.
  static uint64_t Arc(uint64_t point, uint64_t count);
  bool Contains(std::u16string_view output_path) const {
    return count <= 1 || Arc(ShardPoint(output_path), count) == index;
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
