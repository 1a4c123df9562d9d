#include "thumbnail/plan.h"

#include <sys/stat.h>

#include <algorithm>
#include <exception>
#include <unordered_map>

#include "platform/case_fold.h"
#include "platform/code_page.h"
#include "text/replace_all.h"
#include "text/to_dos_name.h"

namespace vg::thumbnail {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

bool IsSkippedName(const std::u16string& name) {
  return name == u"." || name == u".." ||
         platform::FoldCase(name) == u"thumbs.db";
}

std::u16string OutputName(const std::u16string& listed_name) {
  try {
    return text::ReplaceAll(
        text::ReplaceAll(text::ToDosName(listed_name), u"'", u"-"), u"\"",
        u"-");
  } catch (const std::exception&) {
    return listed_name;
  }
}

InputGuard::InputGuard(const std::vector<platform::ListedFile>& files,
                       const std::vector<std::pair<uint64_t, uint64_t>>& more)
    : ids_(more) {
  // A sorted vector rather than a set: 16 bytes a file in a folder of
  // hundreds of thousands.
  ids_.reserve(files.size() + more.size());
  for (const auto& f : files) ids_.emplace_back(f.device, f.inode);
  std::sort(ids_.begin(), ids_.end());
}

bool InputGuard::Contains(const std::u16string& path) const {
  struct stat st {};
  if (stat(platform::ToAnsi(path).c_str(), &st) != 0) return false;
  return std::binary_search(ids_.begin(), ids_.end(),
                            std::pair{static_cast<uint64_t>(st.st_dev),
                                      static_cast<uint64_t>(st.st_ino)});
}

uint64_t ShardPoint(std::u16string_view output_path) {
  constexpr uint64_t kOffsetBasis = 14695981039346656037ULL;
  constexpr uint64_t kPrime = 1099511628211ULL;
  constexpr uint64_t kGoldenStep = 0x9e3779b97f4a7c15ULL;  // 2^64 / phi
  const std::string bytes = platform::ToAnsi(output_path);
  // The last run of digits of the file name: [first, last).
  const size_t name = bytes.find_last_of('/') + 1;  // 0 without a folder
  size_t last = bytes.size();
  while (last > name && !IsDigit(bytes[last - 1])) --last;
  size_t first = last;
  while (first > name && IsDigit(bytes[first - 1])) --first;
  uint64_t hash = kOffsetBasis;
  uint64_t number = 0;
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (i >= first && i < last) {
      number = number * 10 + static_cast<uint64_t>(bytes[i] - '0');  // mod 2^64
      if (i + 1 < last) continue;
      // The number's place in the path, whatever its digits.
      hash ^= uint64_t{'#'};
    } else {
      hash ^= static_cast<uint8_t>(bytes[i]);
    }
    hash *= kPrime;
  }
  // Murmur3's finaliser: every bit of the hash reaches the high bits that
  // pick the arc, so names alike but for a letter fall far apart.
  hash ^= hash >> 33;
  hash *= 0xff51afd7ed558ccdULL;
  hash ^= hash >> 33;
  hash *= 0xc4ceb9fe1a85ec53ULL;
  hash ^= hash >> 33;
  return hash + number * kGoldenStep;
}

uint64_t Shard::Arc(uint64_t point, uint64_t count) {
  // The high half of the 128-bit product, from 32-bit halves.
  constexpr uint64_t kLow = 0xffffffffULL;
  const uint64_t p_low = point & kLow, p_high = point >> 32;
  const uint64_t c_low = count & kLow, c_high = count >> 32;
  const uint64_t low_low = p_low * c_low;
  const uint64_t high_low = p_high * c_low;
  const uint64_t low_high = p_low * c_high;
  const uint64_t cross = (low_low >> 32) + (high_low & kLow) + low_high;
  return p_high * c_high + (high_low >> 32) + (cross >> 32);
}

Plan MakePlan(const std::vector<platform::ListedFile>& files) {
  return MakePlan(files, PlanFilter{[&files](size_t i) {
                                      return OutputName(files[i].name);
                                    },
                                    Shard{}, nullptr});
}

Plan MakePlan(const std::vector<platform::ListedFile>& files,
              const PlanFilter& filter) {
  Plan plan;
  std::vector<uint64_t> group_bytes;
  std::vector<bool> group_wanted;
  {
    std::unordered_map<std::u16string, size_t> group_of_path;
    for (size_t i = 0; i < files.size(); ++i) {
      if (IsSkippedName(files[i].name)) continue;
      std::u16string path = filter.output_path(i);
      if (!filter.shard.Contains(path)) continue;
      auto [it, fresh] =
          group_of_path.try_emplace(std::move(path), plan.groups.size());
      if (fresh) {
        plan.groups.emplace_back();
        group_bytes.push_back(0);
        group_wanted.push_back(!filter.wanted);
      }
      plan.groups[it->second].push_back(i);
      group_bytes[it->second] += files[i].size_bytes;
      if (filter.wanted && filter.wanted(i)) group_wanted[it->second] = true;
    }
  }
  if (filter.wanted) {
    // Groups nobody asked for go, the order of the others kept.
    size_t kept = 0;
    for (size_t g = 0; g < plan.groups.size(); ++g) {
      if (!group_wanted[g]) continue;
      if (kept != g) {  // a vector moved onto itself would be emptied
        plan.groups[kept] = std::move(plan.groups[g]);
        group_bytes[kept] = group_bytes[g];
      }
      ++kept;
    }
    plan.groups.resize(kept);
    group_bytes.resize(kept);
  }
  for (const auto& group : plan.groups) plan.pictures += group.size();
  plan.order.resize(plan.groups.size());
  for (size_t g = 0; g < plan.order.size(); ++g) plan.order[g] = g;
  std::stable_sort(
      plan.order.begin(), plan.order.end(),
      [&](size_t a, size_t b) { return group_bytes[a] > group_bytes[b]; });
  return plan;
}

}  // namespace vg::thumbnail
