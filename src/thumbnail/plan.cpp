#include "thumbnail/plan.h"

#include <sys/stat.h>

#include <algorithm>
#include <exception>
#include <map>

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

InputGuard::InputGuard(const std::vector<platform::ListedFile>& files) {
  for (const auto& f : files) ids_.insert({f.device, f.inode});
}

bool InputGuard::Contains(const std::u16string& path) const {
  struct stat st {};
  if (stat(platform::ToAnsi(path).c_str(), &st) != 0) return false;
  return ids_.count({static_cast<uint64_t>(st.st_dev),
                     static_cast<uint64_t>(st.st_ino)}) != 0;
}

Plan MakePlan(const std::vector<platform::ListedFile>& files) {
  Plan plan;
  std::vector<uint64_t> group_bytes;
  std::map<std::u16string, size_t> group_of_name;
  for (size_t i = 0; i < files.size(); ++i) {
    if (IsSkippedName(files[i].name)) continue;
    auto [it, fresh] = group_of_name.try_emplace(OutputName(files[i].name),
                                                 plan.groups.size());
    if (fresh) {
      plan.groups.emplace_back();
      group_bytes.push_back(0);
    }
    plan.groups[it->second].push_back(i);
    group_bytes[it->second] += files[i].size_bytes;
    ++plan.pictures;
  }
  plan.order.resize(plan.groups.size());
  for (size_t g = 0; g < plan.order.size(); ++g) plan.order[g] = g;
  std::stable_sort(
      plan.order.begin(), plan.order.end(),
      [&](size_t a, size_t b) { return group_bytes[a] > group_bytes[b]; });
  return plan;
}

}  // namespace vg::thumbnail
