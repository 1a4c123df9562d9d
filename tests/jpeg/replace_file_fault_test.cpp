// A JPEG save killed at any moment leaves the target as the old file or the
// new one, complete, and the temporary file it left behind is removed by the
// next save into the same folder -- and nothing else is ever removed.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "common/run_as_nobody.h"
#include "jpeg/ijl.h"
#include "jpeg/jpeg_testutil.h"
#include "platform/replace_file.h"

namespace vg::jpeg {
namespace {

using platform::IsTemporaryName;
using platform::RemoveStaleTemporaries;
using platform::ReplaceFile;
using platform::ReplaceResult;
using testing::DibBuffer;
using testing::ListFolder;
using testing::ReadFile;
using testing::ScratchFolder;
using testing::WriteFile;

// Encodes `dib` into `path` at quality 90; returns the library status.
int32_t Save(const DibBuffer& dib, const std::string& path,
             IjlBeforeReplace before = nullptr) {
  JPEG_CORE_PROPERTIES props{};
  if (ijlInit(&props) != IJL_OK) return -1;
  props.DIBBytes = dib.bytes.data();
  props.DIBWidth = dib.width;
  props.DIBHeight = -dib.height;
  props.DIBPadBytes = dib.stride - dib.width * 3;
  props.JPGFile = path.c_str();
  props.JPGWidth = dib.width;
  props.JPGHeight = dib.height;
  props.jquality = 90;
  props.JPGBeforeReplace = before;
  int32_t status = ijlWrite(&props, IJL_JFILE_WRITEWHOLEIMAGE);
  ijlFree(&props);
  return status;
}

// The id of a process that has ended and been reaped.
pid_t DeadPid() {
  pid_t child = fork();
  if (child == 0) _exit(0);
  int status = 0;
  waitpid(child, &status, 0);
  return child;
}

std::vector<std::string> Temporaries(const std::string& folder) {
  std::vector<std::string> found;
  for (const std::string& name : ListFolder(folder)) {
    if (IsTemporaryName(name, nullptr)) found.push_back(name);
  }
  return found;
}

std::string TemporaryName(const std::string& name, long pid,
                          const std::string& hex = "0123456789abcdef") {
  return "." + name + "." + std::to_string(pid) + "." + hex + ".tmp";
}

std::vector<uint8_t> Bytes(const std::string& text) {
  return std::vector<uint8_t>(text.begin(), text.end());
}

// Makes the temporary names of ReplaceFile draw from a fixed sequence while
// it lives (the last value repeats), and counts the draws.
class FixedNameBits {
 public:
  explicit FixedNameBits(std::vector<uint64_t> sequence) {
    sequence_ = std::move(sequence);
    next_ = 0;
    old_ = platform::SetTemporaryNameBitsForTesting(&Draw);
  }
  ~FixedNameBits() { platform::SetTemporaryNameBitsForTesting(old_); }
  FixedNameBits(const FixedNameBits&) = delete;
  FixedNameBits& operator=(const FixedNameBits&) = delete;
  size_t draws() const { return next_; }

 private:
  static uint64_t Draw() {
    size_t at = std::min(next_++, sequence_.size() - 1);
    return sequence_[at];
  }
  static inline std::vector<uint64_t> sequence_;
  static inline size_t next_ = 0;
  platform::TemporaryNameBits old_;
};

TEST(TemporaryNameTest, AcceptsOnlyTheExactShapeTheSaveMakes) {
  long pid = 0;
  EXPECT_TRUE(IsTemporaryName(".a.jpg.4242.00ff00ff00ff00ff.tmp", &pid));
  EXPECT_EQ(pid, 4242);
  EXPECT_TRUE(IsTemporaryName(".a.1.0000000000000000.tmp", &pid));
  EXPECT_EQ(pid, 1);
  EXPECT_TRUE(IsTemporaryName(".x.2147483647.fedcba9876543210.tmp", &pid));
  EXPECT_EQ(pid, 2147483647);

  for (const char* name :
       {"a.jpg.4242.00ff00ff00ff00ff.tmp",          // no leading dot
        "..4242.00ff00ff00ff00ff.tmp",              // no name at all
        ".a.jpg.4242.00FF00FF00FF00FF.tmp",         // upper-case hex
        ".a.jpg.4242.00ff00ff00ff00f.tmp",          // 15 hex digits
        ".a.jpg.4242.00ff00ff00ff00ff0.tmp",        // 17 hex digits
        ".a.jpg.04242.00ff00ff00ff00ff.tmp",        // leading zero
        ".a.jpg..00ff00ff00ff00ff.tmp",             // no process id
        ".a.jpg.42a2.00ff00ff00ff00ff.tmp",         // not a number
        ".a.jpg.12345678901.00ff00ff00ff00ff.tmp",  // 11 digits
        ".a.jpg4242.00ff00ff00ff00ff.tmp",          // no dot before the id
        ".a.jpg.4242-00ff00ff00ff00ff.tmp",         // wrong separator
        ".a.jpg.4242.00ff00ff00ff00ff.tmp~",        // editor backup
        ".a.jpg.4242.00ff00ff00ff00ff.TMP",         // other suffix
        ".a.jpg.4242.00ff00ff00ff00ff",             // no suffix
        ".tmp", "", "."}) {
    EXPECT_FALSE(IsTemporaryName(name, nullptr)) << name;
  }
}

TEST(StaleTemporaryTest, RemovesOnlyRegularFilesOfEndedProcesses) {
  ScratchFolder folder;
  const long dead = DeadPid();
  const std::string stale = TemporaryName("a.jpg", dead);
  const std::string mine = TemporaryName("b.jpg", getpid());
  const std::string init = TemporaryName("c.jpg", 1);  // alive, maybe not ours
  const std::string lookalike = ".a.jpg." + std::to_string(dead) + ".tmp";
  const std::string linked = TemporaryName("link", dead);
  const std::string folder_named = TemporaryName("dir", dead);
  const std::string fifo = TemporaryName("fifo", dead);
  for (const std::string& name : {stale, mine, init, lookalike}) {
    ASSERT_TRUE(WriteFile(folder / name, "partial")) << name;
  }
  ASSERT_TRUE(WriteFile(folder / "kept.jpg", "photo"));
  ASSERT_EQ(symlink((folder / "kept.jpg").c_str(), (folder / linked).c_str()),
            0);
  ASSERT_EQ(mkdir((folder / folder_named).c_str(), 0700), 0);
  ASSERT_EQ(mkfifo((folder / fifo).c_str(), 0600), 0);

  EXPECT_EQ(RemoveStaleTemporaries(folder.path()), 1);
  std::vector<std::string> expected = {
      stale, mine, init, lookalike, "kept.jpg", linked, folder_named, fifo};
  std::erase(expected, stale);
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(ListFolder(folder.path()), expected);
  EXPECT_EQ(ReadFile(folder / "kept.jpg"),
            std::optional(std::vector<uint8_t>{'p', 'h', 'o', 't', 'o'}));
  // A second sweep finds nothing more; a missing folder is no error.
  EXPECT_EQ(RemoveStaleTemporaries(folder.path()), 0);
  EXPECT_EQ(RemoveStaleTemporaries(folder / "missing"), 0);
}

TEST(KilledSaveTest, KillBeforeRenameKeepsOldFileAndNextSaveSweeps) {
  ScratchFolder folder;
  const std::string target = folder / "photo.jpg";
  ASSERT_TRUE(WriteFile(target, "the old photo"));
  DibBuffer dib = testing::MakeNoise(64, 48);

  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // Dies with the new file complete under its temporary name.
    Save(dib, target, [](int, void*) { raise(SIGKILL); });
    _exit(3);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(WTERMSIG(status), SIGKILL);

  EXPECT_EQ(
      ReadFile(target),
      std::optional(std::vector<uint8_t>(
          {'t', 'h', 'e', ' ', 'o', 'l', 'd', ' ', 'p', 'h', 'o', 't', 'o'})));
  std::vector<std::string> left = Temporaries(folder.path());
  ASSERT_EQ(left.size(), 1u);
  long pid = 0;
  ASSERT_TRUE(IsTemporaryName(left[0], &pid));
  EXPECT_EQ(pid, child);

  // The next save into the folder, of another name, removes it.
  ASSERT_EQ(Save(dib, folder / "other.jpg"), IJL_OK);
  EXPECT_TRUE(Temporaries(folder.path()).empty());
  EXPECT_EQ(ListFolder(folder.path()),
            (std::vector<std::string>{"other.jpg", "photo.jpg"}));
}

// Kills a process that saves two pictures in turn over one target at random
// moments: every time the target is exactly the old file or one of the two
// complete JPEG files.
TEST(KilledSaveTest, TargetIsAlwaysAWholeFileWhateverTheMomentOfTheKill) {
  ScratchFolder folder;
  // Big enough that the encoding and the write take a while.
  const DibBuffer pictures[2] = {testing::MakeNoise(900, 700),
                                 testing::MakeNoise(700, 900)};
  std::vector<uint8_t> expected[2];
  for (int i = 0; i < 2; ++i) {
    const std::string reference = folder / ("ref" + std::to_string(i));
    ASSERT_EQ(Save(pictures[i], reference), IJL_OK);
    expected[i] = ReadFile(reference).value();
    ASSERT_EQ(unlink(reference.c_str()), 0);
  }
  ASSERT_NE(expected[0], expected[1]);
  const std::string target = folder / "photo.jpg";
  const std::vector<uint8_t> original = {'o', 'l', 'd'};
  ASSERT_TRUE(WriteFile(target, "old"));

  std::mt19937 random(20261208);
  std::uniform_int_distribution<int> delay_us(0, 400000);
  int saw[3] = {0, 0, 0};
  for (int round = 0; round < 24; ++round) {
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      for (int i = 0;; i ^= 1) Save(pictures[i], target);
    }
    usleep(static_cast<useconds_t>(delay_us(random)));
    kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status));

    std::optional<std::vector<uint8_t>> now = ReadFile(target);
    ASSERT_TRUE(now.has_value()) << "round " << round;
    if (*now == original) {
      ++saw[2];
    } else if (*now == expected[0]) {
      ++saw[0];
    } else {
      ASSERT_EQ(*now, expected[1]) << "partial file after round " << round
                                   << " (" << now->size() << " bytes)";
      ++saw[1];
    }
  }
  RecordProperty("old_new0_new1", std::to_string(saw[2]) + "/" +
                                      std::to_string(saw[0]) + "/" +
                                      std::to_string(saw[1]));
  // No stray temporary once the next run has saved into the folder.
  pid_t next_run = fork();
  ASSERT_GE(next_run, 0);
  if (next_run == 0) _exit(Save(pictures[0], target) == IJL_OK ? 0 : 1);
  int status = 0;
  ASSERT_EQ(waitpid(next_run, &status, 0), next_run);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(ReadFile(target), std::optional(expected[0]));
  EXPECT_TRUE(Temporaries(folder.path()).empty());
  EXPECT_EQ(ListFolder(folder.path()), std::vector<std::string>{"photo.jpg"});
}

TEST(FaultySaveTest, MissingReadOnlyOrVanishedFolderFailsAndLeavesNothing) {
  ScratchFolder folder;
  DibBuffer dib = testing::MakeNoise(32, 32);

  EXPECT_NE(Save(dib, folder / "missing/a.jpg"), IJL_OK);

  const std::string locked = folder / "locked";
  ASSERT_EQ(mkdir(locked.c_str(), 0700), 0);
  ASSERT_TRUE(WriteFile(locked + "/a.jpg", "old"));
  ASSERT_EQ(chmod(locked.c_str(), 0555), 0);
  const auto save_into_locked = [&] {
    std::string refused;
    for (const char* name : {"a.jpg", "new.jpg"}) {
      if (Save(dib, locked + "/" + name) != IJL_OK) refused += name;
    }
    return refused;
  };
  if (geteuid() == 0) {
    // Root writes anywhere: a child of user nobody, whom the mode binds,
    // saves instead.
    test_support::OpenToOthers(folder.path());
    const test_support::ChildOutcome child =
        test_support::RunAsNobody(save_into_locked);
    EXPECT_EQ(child.exit_code, 0);
    EXPECT_EQ(child.out, "a.jpgnew.jpg");
  } else {
    EXPECT_EQ(save_into_locked(), "a.jpgnew.jpg");
  }
  EXPECT_EQ(ListFolder(locked), std::vector<std::string>{"a.jpg"});
  EXPECT_EQ(ReadFile(locked + "/a.jpg"),
            std::optional(std::vector<uint8_t>{'o', 'l', 'd'}));
  ASSERT_EQ(chmod(locked.c_str(), 0700), 0);

  // The folder goes away between two saves: the second fails cleanly.
  const std::string gone = folder / "gone";
  ASSERT_EQ(mkdir(gone.c_str(), 0700), 0);
  ASSERT_EQ(Save(dib, gone + "/a.jpg"), IJL_OK);
  ASSERT_EQ(unlink((gone + "/a.jpg").c_str()), 0);
  ASSERT_EQ(rmdir(gone.c_str()), 0);
  EXPECT_NE(Save(dib, gone + "/b.jpg"), IJL_OK);
  EXPECT_EQ(ListFolder(folder.path()), std::vector<std::string>{"locked"});
}

// The save is durable only if the new bytes reach the disk before the rename
// makes them the target: a sync that fails (the temporary file's descriptor
// is made a pipe, which cannot be synced) must fail the save.
TEST(FaultySaveTest, FailedSyncFailsTheSaveAndKeepsTheOldFile) {
  ScratchFolder folder;
  const std::string target = folder / "photo.jpg";
  ASSERT_TRUE(WriteFile(target, "the old photo"));
  int pipe_ends[2];
  ASSERT_EQ(pipe(pipe_ends), 0);
  struct Swap {
    int pipe_end;
    bool done = false;
  } swap{pipe_ends[0]};
  const std::vector<uint8_t> photo(4096, 0xAB);

  ReplaceResult result = ReplaceFile(
      target, photo,
      [](int fd, void* context) {
        auto* s = static_cast<Swap*>(context);
        s->done = dup2(s->pipe_end, fd) == fd;
      },
      &swap);
  close(pipe_ends[0]);
  close(pipe_ends[1]);

  ASSERT_TRUE(swap.done);
  EXPECT_EQ(result, ReplaceResult::kCannotWrite);
  EXPECT_EQ(ReadFile(target), std::optional(Bytes("the old photo")));
  EXPECT_EQ(ListFolder(folder.path()), std::vector<std::string>{"photo.jpg"});
}

// A temporary name that is already taken (by another process's save) is
// passed over: the save takes the next name and the other file is left
// alone. Only a taken name is retried.
TEST(FaultySaveTest, TakenTemporaryNameIsPassedOverAndLeftAlone) {
  ScratchFolder folder;
  const std::string target = folder / "photo.jpg";
  ASSERT_TRUE(WriteFile(target, "the old photo"));
  const std::string taken =
      TemporaryName("photo.jpg", getpid(), "0000000000000001");
  ASSERT_TRUE(WriteFile(folder / taken, "someone else's save"));
  {
    FixedNameBits bits({1, 2});
    EXPECT_EQ(ReplaceFile(target, Bytes("the new photo"), nullptr, nullptr),
              ReplaceResult::kDone);
    EXPECT_EQ(bits.draws(), 2u);
  }
  EXPECT_EQ(ReadFile(target), std::optional(Bytes("the new photo")));
  EXPECT_EQ(ReadFile(folder / taken),
            std::optional(Bytes("someone else's save")));
  EXPECT_EQ(ListFolder(folder.path()),
            (std::vector<std::string>{taken, "photo.jpg"}));

  {
    // Every name it draws is taken: it gives up after a few.
    FixedNameBits bits({1});
    EXPECT_EQ(ReplaceFile(target, Bytes("a third photo"), nullptr, nullptr),
              ReplaceResult::kCannotCreate);
    EXPECT_GT(bits.draws(), 1u);
  }
  EXPECT_EQ(ReadFile(target), std::optional(Bytes("the new photo")));
  EXPECT_EQ(ReadFile(folder / taken),
            std::optional(Bytes("someone else's save")));

  {
    // Any other reason not to create the file is final.
    FixedNameBits bits({1, 2});
    EXPECT_EQ(
        ReplaceFile(folder / "missing/a.jpg", Bytes("x"), nullptr, nullptr),
        ReplaceResult::kCannotCreate);
    EXPECT_EQ(bits.draws(), 1u);
  }
  EXPECT_EQ(ListFolder(folder.path()),
            (std::vector<std::string>{taken, "photo.jpg"}));
}

}  // namespace
}  // namespace vg::jpeg
