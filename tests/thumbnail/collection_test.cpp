// Whole collections through the engine: a tree of folders mirrored into the
// destination, runs that leave up-to-date pictures alone, shards whose union
// is the whole run, and runs limited to the pictures asked for.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <span>
#include <string>
#include <unordered_set>
#include <vector>

#include "common/run_as_nobody.h"
#include "common/test_files.h"
#include "platform/code_page.h"
#include "thumbnail/engine.h"
#include "thumbnail/plan.h"
#include "thumbnail/walk.h"

namespace vg::thumbnail {
namespace {

namespace fs = std::filesystem;
using testing::ReadBytes;
using testing::SameTree;
using testing::TempFolder;
using testing::TreeIn;
using testing::WriteDetailedJpeg;

Job TreeJob(const fs::path& in, const fs::path& out, bool two_sizes) {
  Job job;
  job.listing = platform::FromAnsi(in.string() + "/");
  job.load_prefix = job.listing;
  const std::u16string dest = platform::FromAnsi(out.string() + "/");
  if (two_sizes) {
    job.sets = {{dest, 40}, {dest, 90, u"Grand/"}};
  } else {
    job.sets = {{dest, 40}};
  }
  job.recursive = true;
  job.jobs = 2;
  return job;
}

struct Results : Events {
  void Finished(const PictureResult& result) override {
    by_input[platform::ToAnsi(result.input)] = result;
  }
  std::map<std::string, PictureResult> by_input;
};

timespec MTime(const fs::path& path) {
  struct stat st {};
  EXPECT_EQ(stat(path.c_str(), &st), 0) << path;
  return st.st_mtim;
}

bool SameTime(const timespec& a, const timespec& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

TEST(RecursiveRunTest, TheDestinationMirrorsTheTreeWithSafeFolderNames) {
  TempFolder root;
  const fs::path in = root.path() / "in";
  fs::create_directories(in / "2023" / "\xc3\x89t\xc3\xa9 ski");
  fs::create_directories(in / ".hidden");
  fs::create_directories(in / "empty");
  WriteDetailedJpeg(in / "a.jpg", 120, 80, 1);
  WriteDetailedJpeg(in / "2023" / "b c.jpg", 120, 80, 2);
  WriteDetailedJpeg(in / "2023" / "\xc3\x89t\xc3\xa9 ski" / "d.jpg", 80, 120,
                    3);
  WriteDetailedJpeg(in / ".hidden" / "e.jpg", 80, 120, 4);
  { std::ofstream(in / "2023" / "notes.txt") << "no picture"; }
  // A link back up the tree, and one to a folder walked anyway: each folder
  // is walked once, so neither adds anything.
  fs::create_directory_symlink("..", in / "2023" / "up");
  fs::create_directory_symlink("2023", in / "zz-link");
  // The destination inside the origin, holding a picture: never walked.
  const fs::path out = in / "thumbs";
  fs::create_directory(out);
  WriteDetailedJpeg(out / "old.jpg", 60, 40, 5);

  Results results;
  Summary done = thumbnail::Run(TreeJob(in, out, true), &results);
  EXPECT_EQ(done.pictures, 4u);
  EXPECT_EQ(done.written, 3u);
  EXPECT_EQ(done.failed, 1u);  // notes.txt
  EXPECT_EQ(TreeIn(out), (std::set<std::string>{
                             "old.jpg", "a.jpg", "Grand/a.jpg", "2023/b_c.jpg",
                             "2023/Grand/b_c.jpg", "2023/ete_ski/d.jpg",
                             "2023/ete_ski/Grand/d.jpg"}));
  EXPECT_EQ(testing::ReadJpegInfo(out / "2023" / "ete_ski" / "Grand" / "d.jpg")
                .height,
            135);
  EXPECT_FALSE(fs::exists(out / "empty"));  // nothing to write there
  // Every picture told once, with its outputs, in the mirror.
  ASSERT_EQ(results.by_input.size(), 4u);
  const PictureResult& b =
      results.by_input.at((in / "2023" / "b c.jpg").string());
  EXPECT_EQ(b.status, Status::kWritten);
  ASSERT_EQ(b.outputs.size(), 2u);
  EXPECT_EQ(platform::ToAnsi(b.outputs[1]),
            (out / "2023" / "Grand" / "b_c.jpg").string());
  const PictureResult& notes =
      results.by_input.at((in / "2023" / "notes.txt").string());
  EXPECT_EQ(notes.status, Status::kFailed);
  EXPECT_EQ(notes.reason,
            "Invalid picture (not a format read here; the file starts with "
            "\"no pictu\")");

  // One size: the same tree without Grand/, whatever the number of jobs.
  TempFolder one, other;
  Job job = TreeJob(in, one.path(), false);
  thumbnail::Run(job);
  job = TreeJob(in, other.path(), false);
  job.jobs = 1;
  thumbnail::Run(job);
  std::string why;
  EXPECT_TRUE(SameTree(one.path(), other.path(), &why)) << why;
  // thumbs/ is no destination of these runs: an ordinary folder.
  EXPECT_EQ(TreeIn(one.path()).count("thumbs/2023/Grand/b_c.jpg"), 1u);
  EXPECT_EQ(TreeIn(one.path()).count("2023/ete_ski/d.jpg"), 1u);
}

// A folder whose safe name is "Grand" would put its small thumbnails among
// its parent's large ones: it is named as a failure and left alone, unless
// it is the run's own large set (the destination is the origin).
TEST(RecursiveRunTest, AFolderWhereGrandGoesIsRefusedUnlessItIsTheOutput) {
  TempFolder root;
  const fs::path in = root.path() / "in";
  fs::create_directories(in / "Grand");
  WriteDetailedJpeg(in / "a.jpg", 120, 80, 1);
  WriteDetailedJpeg(in / "Grand" / "a.jpg", 120, 80, 2);
  const fs::path out = root.path() / "out";
  Summary done = thumbnail::Run(TreeJob(in, out, true));
  ASSERT_EQ(done.failures.size(), 1u);
  EXPECT_EQ(done.failures[0].index, Failure::kNoIndex);
  EXPECT_EQ(platform::ToAnsi(done.failures[0].path), (in / "Grand/").string());
  EXPECT_EQ(ReadBytes(out / "Grand" / "a.jpg").size() > 0, true);
  EXPECT_EQ(testing::ReadJpegInfo(out / "Grand" / "a.jpg").width, 90);
  // One size: an ordinary folder.
  TempFolder single;
  done = thumbnail::Run(TreeJob(in, single.path(), false));
  EXPECT_TRUE(done.failures.empty());
  EXPECT_EQ(TreeIn(single.path()),
            (std::set<std::string>{"a.jpg", "Grand/a.jpg"}));

  // Into the origin itself, twice: the second run does not walk the Grand/
  // folders the first one made, and no original is replaced.
  TempFolder self;
  fs::create_directories(self.path() / "sub");
  WriteDetailedJpeg(self.path() / "P Q.JPG", 120, 80, 3);
  WriteDetailedJpeg(self.path() / "sub" / "q.jpg", 120, 80, 4);
  const std::string original = ReadBytes(self.path() / "sub" / "q.jpg");
  for (int round = 0; round < 2; ++round) {
    done = thumbnail::Run(TreeJob(self.path(), self.path(), true));
    // Thumbnails that would replace their photos are refused, every time;
    // the Grand/ folders are outputs, neither walked nor named.
    ASSERT_FALSE(done.failures.empty());
    for (const Failure& f : done.failures) {
      EXPECT_NE(f.index, Failure::kNoIndex) << platform::ToAnsi(f.path);
      EXPECT_EQ(platform::ToAnsi(f.path).find("Grand"), std::string::npos);
    }
  }
  EXPECT_EQ(ReadBytes(self.path() / "sub" / "q.jpg"), original);
  EXPECT_FALSE(fs::exists(self.path() / "Grand" / "Grand"));
  EXPECT_FALSE(fs::exists(self.path() / "sub" / "Grand" / "Grand"));
  EXPECT_TRUE(fs::exists(self.path() / "sub" / "Grand" / "q.jpg"));
}

TEST(RecursiveRunTest, AFolderThatCannotBeReadIsAFailureAndTheRestIsMade) {
  TempFolder root;
  const fs::path in = root.path() / "in";
  const fs::path out = root.path() / "out";
  fs::create_directories(in / "locked");
  WriteDetailedJpeg(in / "a.jpg", 120, 80, 1);
  WriteDetailedJpeg(in / "locked" / "b.jpg", 120, 80, 2);
  // Root reads every folder: a child of user nobody, whom the mode binds,
  // runs the batch instead, in a root it may enter and an output it may
  // write.
  const bool as_nobody = geteuid() == 0;
  if (as_nobody) test_support::OpenToOthers(root.path());
  fs::create_directory(out);
  fs::permissions(out, fs::perms::all);
  fs::permissions(in / "locked", fs::perms::none);
  const auto run = [&]() -> std::string {
    Summary done = thumbnail::Run(TreeJob(in, out, false));
    std::string seen;
    for (const Failure& f : done.failures) {
      seen += platform::ToAnsi(f.path) + ": " + f.reason + "\n";
    }
    return seen + std::to_string(done.written) + " written";
  };
  const std::string seen =
      as_nobody ? test_support::RunAsNobody(run).out : run();
  fs::permissions(in / "locked", fs::perms::owner_all);
  EXPECT_EQ(seen, (in / "locked/").string() +
                      ": could not be listed: Permission denied\n1 written");
  EXPECT_EQ(TreeIn(out), std::set<std::string>{"a.jpg"});
}

TEST(UpdateTest, OnlyMissingOrOlderThumbnailsAreMadeAgain) {
  TempFolder in, out;
  fs::create_directories(in.path() / "sub");
  for (const char* name : {"a.jpg", "b.jpg", "sub/c.jpg", "sub/d.jpg"}) {
    WriteDetailedJpeg(in.path() / name, 120, 80, name[0]);
  }
  Job job = TreeJob(in.path(), out.path(), true);
  Summary first = thumbnail::Run(job);
  ASSERT_EQ(first.written, 4u);
  const fs::path& o = out.path();
  // b's large thumbnail lost, d changed since (its photo newer than both
  // thumbnails), a and c untouched.
  fs::remove(o / "Grand" / "b.jpg");
  const auto later =
      fs::last_write_time(o / "sub" / "d.jpg") + std::chrono::seconds(5);
  WriteDetailedJpeg(in.path() / "sub" / "d.jpg", 100, 100, 9);
  fs::last_write_time(in.path() / "sub" / "d.jpg", later);
  const timespec a_small = MTime(o / "a.jpg");
  const timespec c_large = MTime(o / "sub" / "Grand" / "c.jpg");

  job.update = true;
  Results results;
  Summary second = thumbnail::Run(job, &results);
  EXPECT_EQ(second.pictures, 4u);
  EXPECT_EQ(second.up_to_date, 2u);
  EXPECT_EQ(second.written, 2u);
  EXPECT_EQ(second.failed, 0u);
  EXPECT_TRUE(SameTime(MTime(o / "a.jpg"), a_small));
  EXPECT_TRUE(SameTime(MTime(o / "sub" / "Grand" / "c.jpg"), c_large));
  EXPECT_EQ(testing::ReadJpegInfo(o / "sub" / "d.jpg").height, 40);
  EXPECT_TRUE(fs::exists(o / "Grand" / "b.jpg"));
  EXPECT_EQ(results.by_input.at((in.path() / "a.jpg").string()).status,
            Status::kUpToDate);
  EXPECT_EQ(results.by_input.at((in.path() / "b.jpg").string()).status,
            Status::kWritten);

  // Without update everything is made again.
  job.update = false;
  EXPECT_EQ(thumbnail::Run(job).written, 4u);
}

// An update run tells names made safe alike as a plain run does (the
// replaced one failed), and removes the temporary files that killed writers
// left of the outputs of its own share, whatever process made them, and no
// others.
TEST(UpdateTest, CollisionsAreToldAndLeftTemporariesOfTheShareRemoved) {
  TempFolder in, out;
  for (const char* name : {"a b.jpg", "a_b.jpg", "c.jpg"}) {
    WriteDetailedJpeg(in.path() / name, 120, 80, name[0]);
  }
  Job job = TreeJob(in.path(), out.path(), true);
  const Summary plain = thumbnail::Run(job);
  ASSERT_EQ(plain.failed, 1u);
  // Process 1 is alive: a left file is known by its name, not its process.
  const std::string tail = ".1.0123456789abcdef.tmp";
  const fs::path of_c[] = {out.path() / (".c.jpg" + tail),
                           out.path() / "Grand" / (".c.jpg" + tail)};
  const fs::path others[] = {out.path() / (".zzz.jpg" + tail),
                             out.path() / (".c.jpg.x.jpg" + tail),
                             out.path() / ".c.jpg.tmp"};
  for (const auto& paths :
       {std::span<const fs::path>(of_c), std::span<const fs::path>(others)}) {
    for (const fs::path& p : paths) std::ofstream(p) << "half";
  }
  job.update = true;
  const uint64_t share_of_c =
      Shard::Arc(ShardPoint(u"c.jpg"), 2);  // each share runs in turn
  for (uint64_t k : {1 - share_of_c, share_of_c}) {
    job.shard = {k, 2};
    thumbnail::Run(job);
    for (const fs::path& p : of_c) {
      EXPECT_EQ(fs::exists(p), k != share_of_c) << p << " after share " << k;
    }
  }
  job.shard = {};
  Results results;
  const Summary update = thumbnail::Run(job, &results);
  EXPECT_EQ(update.failed, plain.failed);
  EXPECT_EQ(update.up_to_date, 1u);
  ASSERT_EQ(update.failures.size(), plain.failures.size());
  for (size_t i = 0; i < plain.failures.size(); ++i) {
    EXPECT_EQ(update.failures[i].reason, plain.failures[i].reason);
  }
  EXPECT_EQ(results.by_input.at((in.path() / "a b.jpg").string()).status,
            Status::kFailed);
  for (const fs::path& p : others) EXPECT_TRUE(fs::exists(p)) << p;
}

// A picture's share must be the same on every machine and in every later
// version: points worked out apart from the code, by hand from the FNV-1a,
// Murmur3 and golden-ratio constants.
TEST(ShardTest, PointsAreFixed) {
  const struct {
    std::u16string path;
    uint64_t point;
  } cases[] = {
      {u"", 0xefd01f60ba992926ULL},
      {u"a.jpg", 0x57e45b66c4c401a7ULL},
      {u"p0011.jpg", 0x5447f869d1313cf7ULL},
      {u"2023/ete_ski/IMG_0001.JPG", 0x0905ed5fb70f69a5ULL},
      {u"x1y22.png", 0x9b061d7794955e42ULL},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ShardPoint(c.path), c.point) << platform::ToAnsi(c.path);
  }
  // The arcs cut the circle evenly, up to its last point.
  EXPECT_EQ(Shard::Arc(0, 4), 0u);
  EXPECT_EQ(Shard::Arc(0x3fffffffffffffffULL, 4), 0u);
  EXPECT_EQ(Shard::Arc(0x4000000000000000ULL, 4), 1u);
  EXPECT_EQ(Shard::Arc(~0ULL, 4), 3u);
  EXPECT_EQ(Shard::Arc(~0ULL, ~0ULL), ~0ULL - 1);
  EXPECT_EQ(Shard::Arc(0x8000000000000000ULL, 3), 1u);
}

// Numbered names, whatever their step, fall into shares within 10 % of the
// mean; a hash of each name alone would leave them uneven by chance.
TEST(ShardTest, NumberedNamesSplitEvenly) {
  const char* patterns[] = {"p%04d.jpg", "IMG_%04d.JPG", "2023/ete/DSC%05d.jpg",
                            "%d.png", "a%db.jpg"};
  for (const char* pattern : patterns) {
    for (int step : {1, 2, 3, 10, 11, 100, 101, 1000}) {
      for (uint64_t count : {2u, 3u, 4u, 8u}) {
        std::vector<int> sizes(count, 0);
        for (int i = 0; i < 400; ++i) {
          char name[64];
          std::snprintf(name, sizeof name, pattern, i * step);
          ++sizes[Shard::Arc(ShardPoint(platform::FromAnsi(name)), count)];
        }
        const double mean = 400.0 / static_cast<double>(count);
        for (int size : sizes) {
          EXPECT_LE(std::abs(size - mean), mean / 10)
              << pattern << " step " << step << " over " << count;
        }
      }
    }
  }
}

// Random trees with names that collide once made safe: N shards into one
// destination make exactly the files of one run, each picture in one shard,
// the colliding ones in the same.
TEST(ShardTest, ShardsTogetherMakeTheWholeRunIntoOneDestination) {
  std::mt19937 random(1912);
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    TempFolder in, whole, shared;
    for (int i = 0; i < 14; ++i) {
      const std::string folder =
          random() % 2 == 0 ? "" : (random() % 2 == 0 ? "x y/" : "x_y/");
      fs::create_directories(in.path() / folder);
      const std::string stem =
          (random() % 2 == 0 ? "p " : "p_") + std::to_string(random() % 5);
      WriteDetailedJpeg(in.path() / (folder + stem + ".jpg"),
                        40 + static_cast<int>(random() % 200),
                        30 + static_cast<int>(random() % 200),
                        static_cast<int>(random() % 50));
    }
    Summary all = thumbnail::Run(TreeJob(in.path(), whole.path(), true));
    const uint64_t count = 2 + random() % 3;
    size_t pictures = 0, written = 0, failed = 0;
    std::set<std::string> seen;
    for (uint64_t k = 0; k < count; ++k) {
      Job job = TreeJob(in.path(), shared.path(), true);
      job.shard = {k, count};
      Results results;
      Summary part = thumbnail::Run(job, &results);
      pictures += part.pictures;
      written += part.written;
      failed += part.failed;
      for (const auto& [input, r] : results.by_input) {
        EXPECT_TRUE(seen.insert(input).second) << input << " in two shards";
      }
    }
    EXPECT_EQ(pictures, all.pictures);
    EXPECT_EQ(written, all.written);
    EXPECT_EQ(failed, all.failed);  // the replaced ones too
    std::string why;
    EXPECT_TRUE(SameTree(whole.path(), shared.path(), &why)) << why;
  }
}

TEST(OnlyTest, OnlyThePicturesAskedForWithTheirNamesakes) {
  TempFolder in, out;
  fs::create_directories(in.path() / "sub");
  WriteDetailedJpeg(in.path() / "a b.jpg", 120, 80, 1);
  WriteDetailedJpeg(in.path() / "a_b.jpg", 120, 80, 2);
  WriteDetailedJpeg(in.path() / "c.jpg", 120, 80, 3);
  WriteDetailedJpeg(in.path() / "sub" / "d.jpg", 120, 80, 4);
  TempFolder whole;
  thumbnail::Run(TreeJob(in.path(), whole.path(), false));

  Job job = TreeJob(in.path(), out.path(), false);
  // "a b.jpg" by its full path, sub/d.jpg by its path below the origin, and
  // one that is not there.
  job.only = std::make_shared<std::unordered_set<std::u16string>>(
      std::unordered_set<std::u16string>{
          platform::FromAnsi((in.path() / "a b.jpg").string()), u"sub/d.jpg",
          u"nowhere.jpg"});
  Summary done = thumbnail::Run(job);
  // The whole group of "a_b.jpg" is made, so the last listed still wins.
  EXPECT_EQ(done.pictures, 3u);
  EXPECT_EQ(TreeIn(out.path()),
            (std::set<std::string>{"a_b.jpg", "sub/d.jpg"}));
  EXPECT_EQ(ReadBytes(out.path() / "a_b.jpg"),
            ReadBytes(whole.path() / "a_b.jpg"));
  ASSERT_FALSE(done.failures.empty());
  EXPECT_EQ(done.failures.back().path, u"nowhere.jpg");
  EXPECT_EQ(done.failures.back().reason, "not found in the origin");
}

TEST(WalkTest, FilesInWalkOrderWithTheirFolders) {
  TempFolder root;
  fs::create_directories(root.path() / "b" / "c");
  fs::create_directories(root.path() / "a");
  for (const char* name :
       {"z.jpg", "b/y.jpg", "b/c/x.jpg", "a/w.JPG", "a/v.png"})
    std::ofstream(root.path() / name) << name;
  Walk walk = WalkTree(root.text(), u"*.jpg", {}, {});
  std::vector<std::string> listed;
  for (size_t i = 0; i < walk.files.size(); ++i) {
    listed.push_back(platform::ToAnsi(walk.folders[walk.folder_of[i]].origin +
                                      walk.files[i].name));
  }
  EXPECT_EQ(listed, (std::vector<std::string>{"z.jpg", "a/w.JPG", "b/y.jpg",
                                              "b/c/x.jpg"}));
  EXPECT_TRUE(WalkTree(root.text() + u"missing/", u"", {}, {}).files.empty());
}

}  // namespace
}  // namespace vg::thumbnail
