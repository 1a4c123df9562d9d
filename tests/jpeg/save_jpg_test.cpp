#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <optional>
#include <string>
#include <vector>

#include "dib/c_dib_section.h"
#include "jpeg/ijl.h"
#include "jpeg/jpeg_testutil.h"
#include "platform/code_page.h"
#include "platform/error.h"

namespace vg::dib {
namespace {

using jpeg::testing::DecodeJpeg;
using jpeg::testing::ListFolder;
using jpeg::testing::Painter;
using jpeg::testing::ReadFile;
using jpeg::testing::Rgb;
using jpeg::testing::ScratchFolder;
using jpeg::testing::WriteFile;

const Painter kRedOverBlue = [](int, int y) {
  return y < 8 ? Rgb{255, 0, 0} : Rgb{0, 0, 255};
};

std::u16string U16(const std::string& utf8) { return platform::FromAnsi(utf8); }

std::vector<uint8_t> Bytes(const std::string& path) {
  return ReadFile(path).value_or(std::vector<uint8_t>{});
}

struct stat Stat(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(stat(path.c_str(), &st), 0) << path;
  return st;
}

class SaveJpgTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dib_.Create(24, 16));
    jpeg::testing::PaintBottomUp(dib_.Bits(), 24, 16, dib_.BytesPerScanLine(),
                                 kRedOverBlue);
  }

  // Runs SaveJPG and returns the error it raised, if any.
  std::optional<platform::Error> SaveRaising(const std::string& path) {
    try {
      EXPECT_TRUE(caller_.SaveJPG(dib_, U16(path)));
    } catch (const platform::Error& e) {
      return e;
    }
    return std::nullopt;
  }

  ScratchFolder folder_;
  cDIBSection dib_;
  cDIBSection caller_;  // never created: SaveJPG must not read it
};

TEST_F(SaveJpgTest, NewFileIsTheUprightPictureAtDefaultQuality90) {
  const std::string file = folder_ / "a.jpg";
  ASSERT_TRUE(caller_.SaveJPG(dib_, U16(file)));
  std::optional<jpeg::testing::Decoded> decoded = DecodeJpeg(Bytes(file));
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->width, 24);
  EXPECT_EQ(decoded->height, 16);
  EXPECT_GT(decoded->At(12, 1).r, 200);
  EXPECT_GT(decoded->At(12, 14).b, 200);

  // The same section saved on itself, with quality 90 spelt out, gives the
  // very same bytes; another quality does not.
  ASSERT_TRUE(dib_.SaveJPG(dib_, U16(folder_ / "q90.jpg"), 90));
  ASSERT_TRUE(dib_.SaveJPG(dib_, U16(folder_ / "q50.jpg"), 50));
  EXPECT_EQ(Bytes(file), Bytes(folder_ / "q90.jpg"));
  EXPECT_NE(Bytes(file), Bytes(folder_ / "q50.jpg"));
}

TEST_F(SaveJpgTest, ReplacedFileKeepsTimesModeOwnerAndExtendedAttributes) {
  const std::string file = folder_ / "a.jpg";
  ASSERT_TRUE(WriteFile(file, "old picture"));
  const bool root = geteuid() == 0;
  if (root) {
    ASSERT_EQ(chown(file.c_str(), 4321, 8765), 0);
  }
  ASSERT_EQ(chmod(file.c_str(), 0604), 0);
  const bool has_xattrs =
      setxattr(file.c_str(), "user.caption", "plage", 5, 0) == 0;
  const timespec times[2] = {{1000000000, 111222333}, {1100000000, 444555666}};
  ASSERT_EQ(utimensat(AT_FDCWD, file.c_str(), times, 0), 0);

  ASSERT_FALSE(SaveRaising(file));

  // Stat before reading: a read moves the access time.
  const struct stat st = Stat(file);
  EXPECT_EQ(st.st_atim.tv_sec, times[0].tv_sec);
  EXPECT_EQ(st.st_atim.tv_nsec, times[0].tv_nsec);
  EXPECT_EQ(st.st_mtim.tv_sec, times[1].tv_sec);
  EXPECT_EQ(st.st_mtim.tv_nsec, times[1].tv_nsec);
  EXPECT_EQ(st.st_mode & 07777, 0604u);
  if (root) {
    EXPECT_EQ(st.st_uid, 4321u);
    EXPECT_EQ(st.st_gid, 8765u);
  }
  if (has_xattrs) {
    char value[16] = {};
    EXPECT_EQ(getxattr(file.c_str(), "user.caption", value, sizeof value), 5);
    EXPECT_EQ(std::string(value), "plage");
  }
  EXPECT_TRUE(DecodeJpeg(Bytes(file)));
  EXPECT_EQ(ListFolder(folder_.path()), std::vector<std::string>{"a.jpg"});
}

TEST_F(SaveJpgTest, ReadOnlyFileRaises75AndStaysUntouchedEvenForRoot) {
  const std::string file = folder_ / "a.jpg";
  ASSERT_TRUE(WriteFile(file, "keep me"));
  ASSERT_EQ(chmod(file.c_str(), 0444), 0);
  const struct stat before = Stat(file);

  std::optional<platform::Error> error = SaveRaising(file);
  ASSERT_TRUE(error);
  EXPECT_EQ(error->number(), platform::kErrPathFileAccess);
  EXPECT_EQ(error->description(), "Path/File access error");

  const struct stat after = Stat(file);
  EXPECT_EQ(Bytes(file),
            (std::vector<uint8_t>{'k', 'e', 'e', 'p', ' ', 'm', 'e'}));
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(after.st_mode, before.st_mode);
  EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
  EXPECT_EQ(ListFolder(folder_.path()), std::vector<std::string>{"a.jpg"});
}

TEST_F(SaveJpgTest, LibraryFailuresRaise26001WithStatusAndHelpFile) {
  const std::string source = platform::ProgramName() + ".mIntelJPEGLibrary";

  std::optional<platform::Error> error = SaveRaising(folder_ / "none/a.jpg");
  ASSERT_TRUE(error);
  EXPECT_EQ(error->number(), 26001);
  EXPECT_EQ(error->source(), source);
  EXPECT_EQ(error->description(),
            "Failed to save to JPG " + std::to_string(jpeg::IJL_ERR_OPEN_FILE));
  EXPECT_EQ(error->help_file(), "48");

  // A section that was never created is a bad parameter to the library.
  cDIBSection empty;
  try {
    caller_.SaveJPG(empty, U16(folder_ / "empty.jpg"));
    ADD_FAILURE() << "no error raised";
  } catch (const platform::Error& e) {
    EXPECT_EQ(e.number(), 26001);
    EXPECT_EQ(e.description(), "Failed to save to JPG " +
                                   std::to_string(jpeg::IJL_ERR_BAD_PARAMETER));
  }

  // A zero inside the path: nothing of the name before it is written.
  std::u16string with_zero = U16(folder_ / "cut");
  with_zero.push_back(u'\0');
  EXPECT_THROW(caller_.SaveJPG(dib_, with_zero), platform::Error);
  EXPECT_TRUE(ListFolder(folder_.path()).empty());
}

TEST_F(SaveJpgTest, FullDiskRaisesAndKeepsTheOldFileAndItsAttributes) {
  const std::string file = folder_ / "a.jpg";
  ASSERT_TRUE(WriteFile(file, "old picture"));
  ASSERT_EQ(chmod(file.c_str(), 0640), 0);
  cDIBSection big;
  ASSERT_TRUE(big.Create(256, 256));
  jpeg::testing::DibBuffer noise = jpeg::testing::MakeNoise(256, 256);
  std::copy(noise.bytes.begin(), noise.bytes.end(), big.Bits());
  const struct stat before = Stat(file);

  std::optional<platform::Error> error;
  {
    jpeg::testing::FileSizeLimit limit(1024);
    ASSERT_TRUE(limit.ok());
    try {
      caller_.SaveJPG(big, U16(file));
    } catch (const platform::Error& e) {
      error = e;
    }
  }
  ASSERT_TRUE(error);
  EXPECT_EQ(error->number(), 26001);
  EXPECT_EQ(error->description(), "Failed to save to JPG " +
                                      std::to_string(jpeg::IJL_ERR_WRITE_FILE));
  const struct stat after = Stat(file);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(after.st_mode, before.st_mode);
  EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
  const std::string old = "old picture";
  EXPECT_EQ(Bytes(file), std::vector<uint8_t>(old.begin(), old.end()));
  EXPECT_EQ(ListFolder(folder_.path()), std::vector<std::string>{"a.jpg"});
}

TEST_F(SaveJpgTest, WildcardsAreLiteralAndTouchNoOtherFile) {
  ASSERT_TRUE(WriteFile(folder_ / "abc.jpg", "abc"));
  ASSERT_TRUE(WriteFile(folder_ / "a1.jpg", "a1"));
  ASSERT_FALSE(SaveRaising(folder_ / "a*.jpg"));
  ASSERT_FALSE(SaveRaising(folder_ / "a?c.jpg"));
  EXPECT_EQ(
      ListFolder(folder_.path()),
      (std::vector<std::string>{"a*.jpg", "a1.jpg", "a?c.jpg", "abc.jpg"}));
  EXPECT_EQ(Bytes(folder_ / "abc.jpg"), (std::vector<uint8_t>{'a', 'b', 'c'}));
  EXPECT_EQ(Bytes(folder_ / "a1.jpg"), (std::vector<uint8_t>{'a', '1'}));
  EXPECT_TRUE(DecodeJpeg(Bytes(folder_ / "a*.jpg")));
}

}  // namespace
}  // namespace vg::dib
