#include "registry/registry_testutil.h"

#include <gtest/gtest.h>
#include <linux/capability.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <filesystem>
#include <stdexcept>

#include "registry/registry_store.h"

namespace vg::registry::testing {

platform::HKEY CreateKey(platform::HKEY root, const char* path,
                         uint32_t* disposition) {
  platform::HKEY key = 0;
  EXPECT_EQ(platform::RegCreateKeyExA(root, path, 0, nullptr, 0,
                                      platform::KEY_ALL_ACCESS, nullptr, &key,
                                      disposition),
            platform::kRegSuccess)
      << path;
  return key;
}

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
  chmod(dir_.c_str(), 0700);  // a test that failed half way may leave less
  std::error_code ignored;
  std::filesystem::remove_all(dir_, ignored);
}

namespace {

// The calling thread's capability sets (capget/capset: glibc has no wrapper
// and libcap is not needed for one bit).
bool ChangeOverride(bool raise, bool* was_raised) {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
  if (syscall(SYS_capget, &header, data) != 0) return false;
  constexpr uint32_t kBit = 1u << CAP_DAC_OVERRIDE;
  if (was_raised != nullptr) *was_raised = (data[0].effective & kBit) != 0;
  if (raise) {
    data[0].effective |= kBit;
  } else {
    data[0].effective &= ~kBit;
  }
  return syscall(SYS_capset, &header, data) == 0;
}

}  // namespace

WithoutFileOverride::WithoutFileOverride() {
  bool had = false;
  if (ChangeOverride(false, &had)) dropped_ = had;
}

WithoutFileOverride::~WithoutFileOverride() {
  if (dropped_) (void)ChangeOverride(true, nullptr);
}

}  // namespace vg::registry::testing
