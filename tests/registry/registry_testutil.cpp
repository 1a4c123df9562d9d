#include "registry/registry_testutil.h"

#include <stdlib.h>

#include <filesystem>
#include <stdexcept>

#include "registry/registry_store.h"

namespace vg::registry::testing {

TempHive::TempHive() {
  std::string pattern =
      (std::filesystem::temp_directory_path() / "vgkey-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error("cannot make a temporary folder");
  }
  dir_ = pattern;
  path_ = dir_ + "/hive.sqlite3";
  platform::SetRegistryStorePath(path_);
}

TempHive::~TempHive() {
  // Away from the user's own hive, and the folder can go.
  platform::SetRegistryStorePath(dir_ + "/closed.sqlite3");
  std::error_code ignored;
  std::filesystem::remove_all(dir_, ignored);
}

}  // namespace vg::registry::testing
