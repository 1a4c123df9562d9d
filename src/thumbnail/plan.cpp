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

uint64_t ShardHash(std::u16string_view output_path) {
  constexpr uint64_t kOffsetBasis = 14695981039346656037ULL;
  constexpr uint64_t kPrime = 1099511628211ULL;
  uint64_t hash = kOffsetBasis;
  for (const char byte : platform::ToAnsi(output_path)) {
    hash ^= static_cast<uint8_t>(byte);
    hash *= kPrime;
  }
  return hash;
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
