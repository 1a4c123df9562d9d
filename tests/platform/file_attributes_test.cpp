#include "platform/file_attributes.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "common/test_files.h"

namespace vg::platform {
namespace {

class FileAttributesTest : public ::testing::Test {
 protected:
  void SetUp() override { folder_ = temp_.path().string(); }
  std::string Make(const std::string& name) {
    std::string path = folder_ + "/" + name;
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(write(fd, "x", 1), 1);
    close(fd);
    return path;
  }

  vg::testing::TempFolder temp_;
  std::string folder_;
};

TEST_F(FileAttributesTest, NothingIsCapturedWhereNoFileIs) {
  EXPECT_FALSE(CaptureFileAttributes(folder_ + "/missing"));
  EXPECT_FALSE(CaptureFileAttributes(folder_ + "/no/such/file"));
  EXPECT_FALSE(CaptureFileAttributes(""));
  EXPECT_FALSE(CaptureFileAttributes(Make("a") + std::string(1, '\0') + "b"));
}

TEST_F(FileAttributesTest, TimesModeOwnerAndExtendedAttributesCarryOver) {
  const std::string old_file = Make("old");
  const timespec times[2] = {{981173106, 123456789}, {1012345678, 987654321}};
  ASSERT_EQ(utimensat(AT_FDCWD, old_file.c_str(), times, 0), 0);
  const std::string value("caf\xC3\xA9\0binary", 13);
  const bool has_xattrs = setxattr(old_file.c_str(), "user.comment",
                                   value.data(), value.size(), 0) == 0;
  const bool root = geteuid() == 0;
  if (root) {
    ASSERT_EQ(chown(old_file.c_str(), 1234, 5678), 0);
  }
  // Set-group-id: a change of owner clears it, so it must be put back after.
  ASSERT_EQ(chmod(old_file.c_str(), 02750), 0);

  std::optional<FileAttributes> captured = CaptureFileAttributes(old_file);
  ASSERT_TRUE(captured);
  EXPECT_FALSE(IsReadOnly(*captured));

  const std::string new_file = Make("new");
  int fd = open(new_file.c_str(), O_WRONLY);
  ASSERT_GE(fd, 0);
  const uint32_t failed = ApplyFileAttributes(fd, *captured);
  close(fd);
  if (root) {
    EXPECT_EQ(failed, kFileAttrNone);
  } else {
    EXPECT_EQ(failed & ~uint32_t{kFileAttrOwner}, kFileAttrNone);
  }

  struct stat st {};
  ASSERT_EQ(stat(new_file.c_str(), &st), 0);
  EXPECT_EQ(st.st_atim.tv_sec, times[0].tv_sec);
  EXPECT_EQ(st.st_atim.tv_nsec, times[0].tv_nsec);
  EXPECT_EQ(st.st_mtim.tv_sec, times[1].tv_sec);
  EXPECT_EQ(st.st_mtim.tv_nsec, times[1].tv_nsec);
  if (root) {
    EXPECT_EQ(st.st_uid, 1234u);
    EXPECT_EQ(st.st_gid, 5678u);
    EXPECT_EQ(st.st_mode & 07777, 02750u);
  } else {
    EXPECT_EQ(st.st_mode & 0777, 0750u);
  }
  if (has_xattrs) {
    char read_back[64] = {};
    ssize_t size =
        getxattr(new_file.c_str(), "user.comment", read_back, sizeof read_back);
    ASSERT_EQ(size, static_cast<ssize_t>(value.size()));
    EXPECT_EQ(std::string(read_back, static_cast<size_t>(size)), value);
  }
}

TEST_F(FileAttributesTest, CaptureFollowsSymbolicLinks) {
  const std::string file = Make("file");
  ASSERT_EQ(chmod(file.c_str(), 0604), 0);
  ASSERT_EQ(symlink("file", (folder_ + "/link").c_str()), 0);
  std::optional<FileAttributes> captured =
      CaptureFileAttributes(folder_ + "/link");
  ASSERT_TRUE(captured);
  EXPECT_TRUE(S_ISREG(captured->mode));
  EXPECT_EQ(captured->mode & 07777, 0604u);
}

TEST(FileAttributesReadOnlyTest, ReadOnlyMeansNoWriteBitAnywhere) {
  FileAttributes attributes;
  for (mode_t mode : {0444, 0555, 0400, 0000, 04555}) {
    attributes.mode = S_IFREG | mode;
    EXPECT_TRUE(IsReadOnly(attributes)) << std::oct << mode;
  }
  for (mode_t mode : {0644, 0200, 0464, 0446, 0666}) {
    attributes.mode = S_IFREG | mode;
    EXPECT_FALSE(IsReadOnly(attributes)) << std::oct << mode;
  }
}

}  // namespace
}  // namespace vg::platform
