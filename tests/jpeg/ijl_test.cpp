#include "jpeg/ijl.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "jpeg/jpeg_testutil.h"

namespace vg::jpeg {
namespace {

using testing::DecodeJpeg;
using testing::DibBuffer;
using testing::FileSizeLimit;
using testing::ListFolder;
using testing::MakeDib;
using testing::MaxDifference;
using testing::Painter;
using testing::ReadFile;
using testing::Rgb;
using testing::ScratchFolder;
using testing::WriteFile;

// A different colour in every pixel and every channel, so that a row read
// from the wrong offset, or channels taken in the wrong order, show at once.
const Painter kDistinct = [](int x, int y) {
  return Rgb{30 + 27 * x, 20 + 31 * y, 230 - 11 * x - 13 * y};
};

// Smooth enough that 4:2:0 at quality 90 stays close to the source.
const Painter kGradient = [](int x, int y) {
  return Rgb{x * 255 / 63, y * 255 / 47, 128};
};

// Top half red, bottom half blue.
const Painter kRedOverBlue = [](int, int y) {
  return y < 8 ? Rgb{255, 0, 0} : Rgb{0, 0, 255};
};

// The record the savers fill, with the encoder prepared.
class Record {
 public:
  Record() { status_ = ijlInit(&props_); }
  ~Record() { (void)ijlFree(&props_); }
  Record(const Record&) = delete;
  Record& operator=(const Record&) = delete;

  int32_t init_status() const { return status_; }
  JPEG_CORE_PROPERTIES& props() { return props_; }

  // Fills the picture fields as the savers do for a bottom-up DIB.
  void Describe(const DibBuffer& dib, const std::string& file,
                int32_t quality) {
    file_ = file;
    props_.DIBWidth = dib.width;
    props_.DIBHeight = -dib.height;
    props_.DIBBytes = dib.bytes.data();
    props_.DIBPadBytes = dib.stride - dib.width * 3;
    props_.JPGFile = file_.c_str();
    props_.JPGWidth = dib.width;
    props_.JPGHeight = dib.height;
    props_.jquality = quality;
  }
  int32_t Write() { return ijlWrite(&props_, IJL_JFILE_WRITEWHOLEIMAGE); }

 private:
  JPEG_CORE_PROPERTIES props_{};
  int32_t status_;
  std::string file_;
};

int32_t Save(const DibBuffer& dib, const std::string& file, int32_t quality,
             IjlSubsampling subsampling = IJL_SUBSAMPLING_420) {
  Record record;
  if (record.init_status() != IJL_OK) return record.init_status();
  record.Describe(dib, file, quality);
  record.props().JPGSubsampling = subsampling;
  return record.Write();
}

std::vector<uint8_t> Bytes(const std::string& file) {
  return ReadFile(file).value_or(std::vector<uint8_t>{});
}

TEST(IjlWriteTest, WritesUprightBaselineJfifOfTheBufferSize) {
  ScratchFolder folder;
  const std::string file = folder / "out.jpg";
  ASSERT_EQ(Save(MakeDib(64, 48, kGradient), file, 90), IJL_OK);
  std::vector<uint8_t> jpeg = Bytes(file);

  std::string app0;
  std::vector<int> markers = testing::JpegMarkers(jpeg, &app0);
  ASSERT_GE(markers.size(), 3u);
  EXPECT_EQ(markers[1], 0xFFE0);
  EXPECT_EQ(app0, std::string("JFIF\0", 5));
  EXPECT_NE(std::find(markers.begin(), markers.end(), 0xFFC0), markers.end())
      << "no baseline frame";
  EXPECT_EQ(std::find(markers.begin(), markers.end(), 0xFFC2), markers.end());

  std::optional<testing::Decoded> decoded = DecodeJpeg(jpeg);
  ASSERT_TRUE(decoded);
  EXPECT_LE(MaxDifference(*decoded, 64, 48, kGradient), 12);
}

TEST(IjlWriteTest, BottomUpAndTopDownBuffersBothComeOutUpright) {
  ScratchFolder folder;
  DibBuffer dib = MakeDib(16, 16, kRedOverBlue);
  ASSERT_EQ(Save(dib, folder / "up.jpg", 90), IJL_OK);
  std::optional<testing::Decoded> up = DecodeJpeg(Bytes(folder / "up.jpg"));
  ASSERT_TRUE(up);
  EXPECT_GT(up->At(8, 1).r, 200);
  EXPECT_LT(up->At(8, 1).b, 60);
  EXPECT_GT(up->At(8, 14).b, 200);
  EXPECT_LT(up->At(8, 14).r, 60);

  // The same memory read top-down is the picture upside down.
  Record record;
  record.Describe(dib, folder / "down.jpg", 90);
  record.props().DIBHeight = dib.height;
  ASSERT_EQ(record.Write(), IJL_OK);
  std::optional<testing::Decoded> down = DecodeJpeg(Bytes(folder / "down.jpg"));
  ASSERT_TRUE(down);
  EXPECT_GT(down->At(8, 1).b, 200);
  EXPECT_GT(down->At(8, 14).r, 200);
}

TEST(IjlWriteTest, PaddedRowsOfWidthsOneToEightNeitherSkewNorStripe) {
  ScratchFolder folder;
  for (int width = 1; width <= 8; ++width) {
    SCOPED_TRACE("width " + std::to_string(width));
    for (int height : {1, 5}) {
      const std::string file = folder / ("w" + std::to_string(width) + ".jpg");
      // 4:4:4 at quality 100 keeps every pixel within a few levels, so any
      // skew (a row starting at the wrong byte) or padding read as a pixel
      // stands far out.
      ASSERT_EQ(Save(MakeDib(width, height, kDistinct), file, 100,
                     IJL_SUBSAMPLING_444),
                IJL_OK);
      std::optional<testing::Decoded> decoded = DecodeJpeg(Bytes(file));
      ASSERT_TRUE(decoded);
      EXPECT_LE(MaxDifference(*decoded, width, height, kDistinct), 6)
          << "height " << height;
    }
  }
}

TEST(IjlWriteTest, QualityOutsideOneToHundredIsClamped) {
  ScratchFolder folder;
  DibBuffer dib = MakeDib(64, 48, kGradient);
  auto at = [&](int32_t quality) {
    const std::string file = folder / ("q" + std::to_string(quality));
    EXPECT_EQ(Save(dib, file, quality), IJL_OK) << quality;
    return Bytes(file);
  };
  const std::vector<uint8_t> lowest = at(1);
  const std::vector<uint8_t> highest = at(100);
  EXPECT_NE(lowest, highest);
  EXPECT_LT(lowest.size(), highest.size());
  EXPECT_EQ(at(0), lowest);
  EXPECT_EQ(at(-5), lowest);
  EXPECT_EQ(at(INT32_MIN), lowest);
  EXPECT_EQ(at(101), highest);
  EXPECT_EQ(at(INT32_MAX), highest);
}

TEST(IjlWriteTest, RejectsRecordsItCannotEncode) {
  ScratchFolder folder;
  DibBuffer dib = MakeDib(8, 8, kGradient);
  const std::string file = folder / "bad.jpg";

  EXPECT_EQ(ijlInit(nullptr), IJL_ERR_BAD_PARAMETER);
  EXPECT_EQ(ijlWrite(nullptr, IJL_JFILE_WRITEWHOLEIMAGE),
            IJL_ERR_BAD_PARAMETER);
  EXPECT_EQ(ijlFree(nullptr), IJL_ERR_BAD_PARAMETER);

  JPEG_CORE_PROPERTIES zero{};
  EXPECT_EQ(ijlWrite(&zero, IJL_JFILE_WRITEWHOLEIMAGE),
            IJL_ERR_NOT_INITIALISED);
  EXPECT_EQ(ijlFree(&zero), IJL_ERR_NOT_INITIALISED);

  struct Case {
    const char* what;
    void (*spoil)(JPEG_CORE_PROPERTIES&);
    int32_t status;
  };
  const Case cases[] = {
      {"no pixels", [](auto& p) { p.DIBBytes = nullptr; },
       IJL_ERR_BAD_PARAMETER},
      {"no path", [](auto& p) { p.JPGFile = nullptr; }, IJL_ERR_BAD_PARAMETER},
      {"zero width", [](auto& p) { p.DIBWidth = p.JPGWidth = 0; },
       IJL_ERR_BAD_PARAMETER},
      {"negative width", [](auto& p) { p.DIBWidth = p.JPGWidth = -8; },
       IJL_ERR_BAD_PARAMETER},
      {"width over 65535", [](auto& p) { p.DIBWidth = p.JPGWidth = 65536; },
       IJL_ERR_BAD_PARAMETER},
      {"zero height", [](auto& p) { p.DIBHeight = p.JPGHeight = 0; },
       IJL_ERR_BAD_PARAMETER},
      {"height INT32_MIN", [](auto& p) { p.DIBHeight = INT32_MIN; },
       IJL_ERR_BAD_PARAMETER},
      {"scaled width", [](auto& p) { p.JPGWidth = 4; }, IJL_ERR_BAD_PARAMETER},
      {"scaled height", [](auto& p) { p.JPGHeight = 16; },
       IJL_ERR_BAD_PARAMETER},
      {"negative padding", [](auto& p) { p.DIBPadBytes = -1; },
       IJL_ERR_BAD_PARAMETER},
      {"four channels", [](auto& p) { p.DIBChannels = 4; },
       IJL_ERR_BAD_PARAMETER},
      {"unknown buffer colour", [](auto& p) { p.DIBColor = IJL_COLOR_YCBCR; },
       IJL_ERR_BAD_PARAMETER},
      {"grey with three channels", [](auto& p) { p.JPGColor = IJL_COLOR_GRAY; },
       IJL_ERR_BAD_PARAMETER},
      {"unset subsampling",
       [](auto& p) { p.JPGSubsampling = IJL_SUBSAMPLING_UNSET; },
       IJL_ERR_BAD_PARAMETER},
  };
  for (const Case& c : cases) {
    Record record;
    ASSERT_EQ(record.init_status(), IJL_OK);
    record.Describe(dib, file, 90);
    c.spoil(record.props());
    EXPECT_EQ(record.Write(), c.status) << c.what;
  }
  {
    Record record;
    record.Describe(dib, file, 90);
    EXPECT_EQ(ijlWrite(&record.props(), 2), IJL_ERR_UNSUPPORTED_MODE);
  }
  EXPECT_TRUE(ListFolder(folder.path()).empty());

  // A released record cannot write, and releasing it twice is harmless.
  JPEG_CORE_PROPERTIES props{};
  ASSERT_EQ(ijlInit(&props), IJL_OK);
  EXPECT_EQ(ijlFree(&props), IJL_OK);
  EXPECT_EQ(ijlWrite(&props, IJL_JFILE_WRITEWHOLEIMAGE),
            IJL_ERR_NOT_INITIALISED);
  EXPECT_EQ(ijlFree(&props), IJL_ERR_NOT_INITIALISED);
}

TEST(IjlWriteTest, GreyFileFromColourBuffer) {
  ScratchFolder folder;
  Record record;
  DibBuffer dib = MakeDib(16, 16, kRedOverBlue);
  record.Describe(dib, folder / "grey.jpg", 90);
  record.props().JPGColor = IJL_COLOR_GRAY;
  record.props().JPGChannels = 1;
  ASSERT_EQ(record.Write(), IJL_OK);
  std::optional<testing::Decoded> decoded =
      DecodeJpeg(Bytes(folder / "grey.jpg"));
  ASSERT_TRUE(decoded);
  Rgb top = decoded->At(8, 1);
  EXPECT_EQ(top.r, top.g);
  EXPECT_EQ(top.g, top.b);
  EXPECT_NEAR(top.r, 76, 4);  // luma of pure red
}

TEST(IjlFileTest, MissingFolderOrEmptyPathFailsToOpenAndCreatesNothing) {
  ScratchFolder folder;
  DibBuffer dib = MakeDib(8, 8, kGradient);
  EXPECT_EQ(Save(dib, folder / "none/out.jpg", 90), IJL_ERR_OPEN_FILE);
  EXPECT_EQ(Save(dib, "", 90), IJL_ERR_OPEN_FILE);
  EXPECT_EQ(Save(dib, folder.path() + "/", 90), IJL_ERR_OPEN_FILE);
  EXPECT_TRUE(ListFolder(folder.path()).empty());
}

TEST(IjlFileTest, ReplacesAnExistingFileAndLeavesNoTemporary) {
  ScratchFolder folder;
  const std::string file = folder / "photo.jpg";
  ASSERT_TRUE(WriteFile(file, "old contents"));
  ASSERT_EQ(Save(MakeDib(16, 16, kRedOverBlue), file, 90), IJL_OK);
  EXPECT_TRUE(DecodeJpeg(Bytes(file)));
  EXPECT_EQ(ListFolder(folder.path()), std::vector<std::string>{"photo.jpg"});
}

TEST(IjlFileTest, NewFileGetsTheUsualModeNotOwnerOnly) {
  ScratchFolder folder;
  DibBuffer dib = MakeDib(8, 8, kGradient);
  const mode_t old_mask = umask(027);
  const int32_t status = Save(dib, folder / "a.jpg", 90);
  umask(022);
  const int32_t second = Save(dib, folder / "b.jpg", 90);
  umask(old_mask);
  ASSERT_EQ(status, IJL_OK);
  ASSERT_EQ(second, IJL_OK);
  struct stat st {};
  ASSERT_EQ(stat((folder / "a.jpg").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  ASSERT_EQ(stat((folder / "b.jpg").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0644u);
}

struct StepSeen {
  std::string target;
  bool called = false;
  off_t temporary_size = -1;
  std::vector<uint8_t> target_then;
};

TEST(IjlFileTest, BeforeReplaceStepSeesTheCompleteFileWhileTargetIsOld) {
  ScratchFolder folder;
  StepSeen seen;
  seen.target = folder / "photo.jpg";
  ASSERT_TRUE(WriteFile(seen.target, "old"));
  Record record;
  DibBuffer dib = MakeDib(64, 48, kGradient);
  record.Describe(dib, seen.target, 90);
  record.props().JPGBeforeReplace = [](int fd, void* context) {
    auto* s = static_cast<StepSeen*>(context);
    s->called = true;
    struct stat st {};
    if (fstat(fd, &st) == 0) s->temporary_size = st.st_size;
    s->target_then = ReadFile(s->target).value_or(std::vector<uint8_t>{});
  };
  record.props().JPGBeforeReplaceContext = &seen;
  ASSERT_EQ(record.Write(), IJL_OK);
  ASSERT_TRUE(seen.called);
  EXPECT_EQ(seen.target_then, (std::vector<uint8_t>{'o', 'l', 'd'}));
  EXPECT_EQ(seen.temporary_size, static_cast<off_t>(Bytes(seen.target).size()));
}

TEST(IjlFileTest, SymbolicLinkIsFollowedAndKept) {
  ScratchFolder folder;
  ASSERT_EQ(mkdir((folder / "real").c_str(), 0755), 0);
  ASSERT_TRUE(WriteFile(folder / "real/photo.jpg", "old"));
  ASSERT_EQ(symlink("real/photo.jpg", (folder / "link.jpg").c_str()), 0);
  ASSERT_EQ(Save(MakeDib(8, 8, kGradient), folder / "link.jpg", 90), IJL_OK);
  struct stat st {};
  ASSERT_EQ(lstat((folder / "link.jpg").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_TRUE(DecodeJpeg(Bytes(folder / "real/photo.jpg")));
  EXPECT_EQ(ListFolder(folder / "real"), std::vector<std::string>{"photo.jpg"});
}

TEST(IjlFileTest, FolderOrDeviceAtThePathIsNeverReplaced) {
  ScratchFolder folder;
  ASSERT_EQ(mkdir((folder / "photo.jpg").c_str(), 0755), 0);
  ASSERT_EQ(mkfifo((folder / "pipe.jpg").c_str(), 0644), 0);
  DibBuffer dib = MakeDib(8, 8, kGradient);
  EXPECT_EQ(Save(dib, folder / "photo.jpg", 90), IJL_ERR_REPLACE_FILE);
  EXPECT_EQ(Save(dib, folder / "pipe.jpg", 90), IJL_ERR_REPLACE_FILE);
  struct stat st {};
  ASSERT_EQ(stat((folder / "photo.jpg").c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  ASSERT_EQ(stat((folder / "pipe.jpg").c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
  EXPECT_EQ(ListFolder(folder.path()),
            (std::vector<std::string>{"photo.jpg", "pipe.jpg"}));
}

TEST(IjlFileTest, LongestFileNameStillGetsATemporaryName) {
  ScratchFolder folder;
  const std::string name = std::string(251, 'n') + ".jpg";  // 255 bytes
  ASSERT_EQ(Save(MakeDib(8, 8, kGradient), folder / name, 90), IJL_OK);
  EXPECT_EQ(ListFolder(folder.path()), std::vector<std::string>{name});
}

TEST(IjlFileTest, FullDiskFailsLeavesNoFileAndKeepsTheOldOne) {
  ScratchFolder folder;
  const std::string file = folder / "photo.jpg";
  const std::string old = "the old picture";
  ASSERT_TRUE(WriteFile(file, old));
  DibBuffer dib = testing::MakeNoise(256, 256);
  int32_t replace_status = 0;
  int32_t new_status = 0;
  {
    FileSizeLimit limit(1024);
    ASSERT_TRUE(limit.ok());
    replace_status = Save(dib, file, 90);
    new_status = Save(dib, folder / "new.jpg", 90);
  }
  EXPECT_EQ(replace_status, IJL_ERR_WRITE_FILE);
  EXPECT_EQ(new_status, IJL_ERR_WRITE_FILE);
  EXPECT_EQ(ListFolder(folder.path()), std::vector<std::string>{"photo.jpg"});
  EXPECT_EQ(Bytes(file), std::vector<uint8_t>(old.begin(), old.end()));
}

TEST(IjlWriteTest, SavesOnSeveralThreadsAtOnce) {
  ScratchFolder folder;
  constexpr int kThreads = 4;
  constexpr int kSavesEach = 6;
  std::vector<int32_t> failures(kThreads, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      // Each thread its own colour, so a record mixed up between threads
      // shows in the decoded pixels.
      const Painter paint = [t](int, int) {
        return Rgb{60 * t, 255 - 60 * t, 40};
      };
      DibBuffer dib = MakeDib(40 + t, 30, paint);
      for (int i = 0; i < kSavesEach; ++i) {
        const std::string file =
            folder / ("t" + std::to_string(t) + "_" + std::to_string(i));
        if (Save(dib, file, 90) != IJL_OK) {
          ++failures[t];
          continue;
        }
        std::optional<testing::Decoded> decoded = DecodeJpeg(Bytes(file));
        if (!decoded || MaxDifference(*decoded, 40 + t, 30, paint) > 4) {
          ++failures[t];
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(failures[t], 0) << t;
  EXPECT_EQ(ListFolder(folder.path()).size(),
            static_cast<size_t>(kThreads * kSavesEach));
}

}  // namespace
}  // namespace vg::jpeg
