// Helpers shared by the registry tests: a hive of its own per test.
#ifndef VG_TESTS_REGISTRY_REGISTRY_TESTUTIL_H_
#define VG_TESTS_REGISTRY_REGISTRY_TESTUTIL_H_

#include <cstdint>
#include <string>

#include "registry/registry_store.h"

namespace vg::registry::testing {

// Creates (or opens) the key `path` below `root` with every right. A
// failure fails the test and returns 0.
platform::HKEY CreateKey(platform::HKEY root, const char* path,
                         uint32_t* disposition = nullptr);

// Makes a fresh temporary folder and points the registry store at a hive
// file inside it; on destruction closes the hive and removes the folder.
class TempHive {
 public:
  TempHive();
  ~TempHive();
  TempHive(const TempHive&) = delete;
  TempHive& operator=(const TempHive&) = delete;

  const std::string& dir() const { return dir_; }
  const std::string& path() const { return path_; }

 private:
  std::string dir_;
  std::string path_;
};

// While it lives, the calling thread is refused what the files' modes
// refuse, even as root: it drops the capability that lets root write any
// file (CAP_DAC_OVERRIDE) from its effective set, and raises it again on
// destruction. Does nothing for other users, who never had it.
class WithoutFileOverride {
 public:
  WithoutFileOverride();
  ~WithoutFileOverride();
  WithoutFileOverride(const WithoutFileOverride&) = delete;
  WithoutFileOverride& operator=(const WithoutFileOverride&) = delete;

 private:
  bool dropped_ = false;
};

}  // namespace vg::registry::testing

#endif  // VG_TESTS_REGISTRY_REGISTRY_TESTUTIL_H_
