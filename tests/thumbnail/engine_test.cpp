#include "thumbnail/engine.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "common/test_files.h"
#include "platform/code_page.h"
#include "platform/error.h"
#include "thumbnail/plan.h"

namespace vg::thumbnail {
namespace {

namespace fs = std::filesystem;
using testing::FilesIn;
using testing::ReadJpegInfo;
using testing::SameFiles;
using testing::TempFolder;
using testing::WriteJpeg;

Job MakeJob(const TempFolder& in, std::vector<OutputSet> sets, int jobs = 1) {
  Job job;
  job.listing = in.text();
  job.load_prefix = in.text();
  job.sets = std::move(sets);
  job.jobs = jobs;
  return job;
}

// Records every event, in the order the engine tells them.
struct Recorder : Events {
  void Loaded(size_t index, const std::u16string&,
              const platform::Picture& picture) override {
    loaded.push_back(index);
    sizes.emplace_back(picture.Width(), picture.Height());
    if (on_loaded) on_loaded();
  }
  void Written(size_t index, size_t set, const std::u16string& path,
               int32_t width, int32_t height) override {
    written.push_back({index, set, platform::ToAnsi(path), width, height});
  }
  void Failed(const Failure& failure) override { failed.push_back(failure); }
  void Finished(const PictureResult& result) override {
    finished.push_back(result);
  }
  void Progress(size_t done, size_t pictures) override {
    EXPECT_EQ(done, last_done + 1);
    last_done = done;
    total = pictures;
  }
  struct Out {
    size_t index, set;
    std::string path;
    int32_t width, height;
  };
  std::vector<size_t> loaded;
  std::vector<std::pair<int32_t, int32_t>> sizes;
  std::vector<Out> written;
  std::vector<Failure> failed;
  std::vector<PictureResult> finished;
  size_t last_done = 0, total = 0;
  std::function<void()> on_loaded;
};

TEST(EngineTest, EveryPictureIsReadOnceForEverySetAndToldAsItGoes) {
  TempFolder in, out;
  WriteJpeg(in.path() / "a.jpg", 900, 600);
  WriteJpeg(in.path() / "b.jpg", 600, 900);
  { std::ofstream(in.path() / "c.txt") << "not a picture"; }
  { std::ofstream(in.path() / "thumbs.db") << "skipped"; }
  fs::create_directory(out.path() / "Grand");
  Recorder events;
  Summary done = thumbnail::Run(
      MakeJob(in, {{out.text(), 100}, {out.text() + u"Grand/", 450}}, 2),
      &events);

  EXPECT_EQ(done.listed, 4u);
  EXPECT_EQ(done.pictures, 3u);
  EXPECT_EQ(done.written, 2u);
  EXPECT_EQ(done.failed, 1u);
  EXPECT_FALSE(done.cancelled);
  ASSERT_EQ(done.failures.size(), 1u);
  EXPECT_EQ(done.failures[0].set, Failure::kNoSet);  // a load: every set
  EXPECT_EQ(done.failures[0].path, in.text() + u"c.txt");
  EXPECT_EQ(done.failures[0].reason,
            "Invalid picture (not a format read here; the file starts with "
            "\"not a pi\")");
  EXPECT_EQ(events.failed.size(), 1u);
  // Two reads, four thumbnails, three pictures finished.
  EXPECT_EQ(events.loaded.size(), 2u);
  EXPECT_EQ(events.written.size(), 4u);
  EXPECT_EQ(events.last_done, 3u);
  EXPECT_EQ(events.total, 3u);
  for (const auto& w : events.written) {
    EXPECT_EQ(w.width, w.set == 0 ? 100 : 450);
    EXPECT_EQ(ReadJpegInfo(w.path).height, w.height);
  }
  EXPECT_EQ(ReadJpegInfo(out.path() / "b.jpg").height, 150);
  EXPECT_EQ(ReadJpegInfo(out.path() / "Grand" / "a.jpg").height, 300);
}

// The listing is taken once, before the first picture: a file added during
// the run is in no set (and in every set of the next run).
TEST(EngineTest, OneListingForEverySet) {
  TempFolder in, out;
  WriteJpeg(in.path() / "a.jpg", 300, 200);
  WriteJpeg(in.path() / "b.jpg", 300, 200);
  fs::create_directory(out.path() / "Grand");
  Recorder events;
  events.on_loaded = [&] {
    if (!fs::exists(in.path() / "added.jpg")) {
      WriteJpeg(in.path() / "added.jpg", 300, 200);
    }
  };
  thumbnail::Run(
      MakeJob(in, {{out.text(), 100}, {out.text() + u"Grand/", 150}}), &events);
  EXPECT_EQ(FilesIn(out.path()), (std::set<std::string>{"a.jpg", "b.jpg"}));
  EXPECT_EQ(FilesIn(out.path() / "Grand"), FilesIn(out.path()));
}

// Two sizes, the large one in a folder the run makes. A picture written as
// "Grand" stands where that folder goes: the sets are then made in turn and
// told as one run, its set numbers and one progress from 0 to the end.
TEST(EngineTest, NestedSetsTakeTurnsWhenAPictureStandsWhereTheirFolderGoes) {
  for (const bool grand : {false, true}) {
    SCOPED_TRACE(grand);
    TempFolder in, out;
    WriteJpeg(in.path() / "a.jpg", 300, 200);
    WriteJpeg(in.path() / (grand ? "Grand" : "b.jpg"), 300, 200);
    Job job =
        MakeJob(in, {{out.text(), 100}, {out.text() + u"Grand/", 150}}, 2);
    job.nested_sets = true;
    Recorder events;
    const Summary done = thumbnail::Run(job, &events);

    EXPECT_EQ(done.pictures, 2u);
    // The large folder cannot be made where "Grand" was written.
    EXPECT_EQ(done.written, grand ? 0u : 2u);
    EXPECT_EQ(done.failed, grand ? 2u : 0u);
    EXPECT_EQ(done.failures.size(), grand ? 2u : 0u);
    for (const Failure& f : done.failures) EXPECT_EQ(f.set, 1u);
    std::vector<size_t> per_set(2);
    for (const auto& w : events.written) ++per_set.at(w.set);
    EXPECT_EQ(per_set, (std::vector<size_t>{2, grand ? 0u : 2u}));
    EXPECT_EQ(events.last_done, events.total);
    EXPECT_EQ(events.total, grand ? 4u : 2u);
    ASSERT_EQ(events.finished.size(), 2u);
    EXPECT_NE(events.finished[0].index, events.finished[1].index);
    for (const PictureResult& r : events.finished) {
      EXPECT_EQ(r.outputs.size(), 2u);
      EXPECT_EQ(r.status, grand ? Status::kFailed : Status::kWritten);
    }
  }
}

TEST(EngineTest, ACancelledRunStopsAfterThePictureItIsMaking) {
  TempFolder in, out;
  for (const char* name : {"a.jpg", "b.jpg", "c.jpg", "d.jpg"}) {
    WriteJpeg(in.path() / name, 300, 200);
  }
  std::atomic<bool> cancel{false};
  Recorder events;
  events.on_loaded = [&] { cancel = true; };
  Job job = MakeJob(in, {{out.text(), 100}});
  job.cancel = &cancel;
  Summary done = thumbnail::Run(job, &events);
  EXPECT_TRUE(done.cancelled);
  EXPECT_EQ(done.written, 1u);  // the one being made when it was asked
  EXPECT_EQ(done.failed, 0u);
  EXPECT_EQ(FilesIn(out.path()).size(), 1u);
}

TEST(EngineTest, AFileWhereTheFolderShouldBeListsNothing) {
  TempFolder in, out;
  // A file where the folder should be cannot be listed as one.
  std::ofstream(in.path() / "file") << "x";
  Job job = MakeJob(in, {{out.text(), 100}});
  job.listing = in.text() + u"file/";
  job.load_prefix = job.listing;
  // Nothing is listed there, and nothing is made: a missing folder is not an
  // error for the engine (the fronts decide what it means).
  Summary done = thumbnail::Run(job);
  EXPECT_EQ(done.listed, 0u);
  EXPECT_TRUE(FilesIn(out.path()).empty());
}

TEST(PlanTest, GroupsByOutputNameInListingOrderLargestFirst) {
  std::vector<platform::ListedFile> files = {
      {u"a b.jpg", 1, 1, 10}, {u"Thumbs.db", 1, 2, 99999},
      {u"a_b.jpg", 1, 3, 30}, {u"big.jpg", 1, 4, 35},
      {u"..", 1, 5, 0},       {u"c.jpg", 1, 6, 1}};
  Plan plan = MakePlan(files);
  EXPECT_EQ(plan.pictures, 4u);
  ASSERT_EQ(plan.groups.size(), 3u);
  // "a b.jpg" and "a_b.jpg" are one name, 40 bytes in all: first.
  EXPECT_EQ(plan.groups[plan.order[0]], (std::vector<size_t>{0, 2}));
  EXPECT_EQ(plan.groups[plan.order[1]], (std::vector<size_t>{3}));
  EXPECT_EQ(plan.groups[plan.order[2]], (std::vector<size_t>{5}));
}

// Random folders: pictures of random sizes and shapes (some too tall or too
// flat for the width), names that collide, files that are no pictures. One
// worker and three write the same files and name the same failures.
TEST(EngineTest, TheFilesDoNotDependOnTheNumberOfJobs) {
  std::mt19937 random(20261208);
  for (int round = 0; round < 4; ++round) {
    SCOPED_TRACE(round);
    TempFolder in;
    const int count = 6 + static_cast<int>(random() % 8);
    for (int i = 0; i < count; ++i) {
      const int kind = static_cast<int>(random() % 6);
      const std::string stem =
          (random() % 3 == 0 ? "x " : "x_") + std::to_string(random() % 4);
      const fs::path path = in.path() / (stem + ".jpg");
      if (kind == 0) {
        std::ofstream(path) << "not a picture " << i;
      } else if (kind == 1) {
        WriteJpeg(path, 1, 700 + static_cast<int>(random() % 3000));  // tall
      } else if (kind == 2) {
        WriteJpeg(path, 3000 + static_cast<int>(random() % 2000), 8);  // flat
      } else {
        testing::WriteDetailedJpeg(path, 40 + static_cast<int>(random() % 900),
                                   30 + static_cast<int>(random() % 700),
                                   static_cast<int>(random() % 100));
      }
    }
    const double width = 20 + static_cast<double>(random() % 200);
    std::vector<Summary> runs;
    std::vector<std::unique_ptr<TempFolder>> outs;
    for (int jobs : {1, 3}) {
      outs.push_back(std::make_unique<TempFolder>());
      runs.push_back(
          thumbnail::Run(MakeJob(in, {{outs.back()->text(), width}}, jobs)));
    }
    std::string why;
    EXPECT_TRUE(SameFiles(outs[0]->path(), outs[1]->path(), &why)) << why;
    ASSERT_EQ(runs[0].failures.size(), runs[1].failures.size());
    for (size_t i = 0; i < runs[0].failures.size(); ++i) {
      EXPECT_EQ(runs[0].failures[i].path, runs[1].failures[i].path);
      EXPECT_EQ(runs[0].failures[i].reason, runs[1].failures[i].reason);
    }
    EXPECT_EQ(runs[0].written, runs[1].written);
    EXPECT_EQ(runs[0].written + runs[0].failed, runs[0].pictures);
  }
}

// Every folder is made here: one level in an existing folder, or every
// missing level; a file in the way or a missing parent is told by errno.
TEST(MakeFolderTest, MakesWhatItIsAskedOrSaysWhyNot) {
  TempFolder root;
  const std::string base = root.path().string();
  std::ofstream(root.path() / "file") << "x";
  struct Case {
    const char* path;
    bool every_level;
    bool made;
    int error;  // errno when not made
  };
  const Case cases[] = {
      {"/one", false, true, 0},
      {"/one", false, true, 0},  // it exists
      {"/two/three", false, false, ENOENT},
      {"/file", false, false, EEXIST},
      {"/file/below", true, false, ENOTDIR},
      {"/two/three", true, true, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.path) + (c.every_level ? " (every level)" : ""));
    errno = 0;
    const std::string path = base + c.path;
    const bool made =
        c.every_level ? MakeFolders(path, 0700) : MakeFolder(path, 0700);
    const int error = errno;
    EXPECT_EQ(made, c.made);
    EXPECT_EQ(fs::is_directory(path), c.made);
    if (!c.made) {
      EXPECT_EQ(error, c.error);
    }
  }
  // Both levels made by MakeFolders have the mode asked for.
  for (const char* folder : {"/two", "/two/three"}) {
    EXPECT_EQ(fs::status(base + folder).permissions() & fs::perms::all,
              fs::perms::owner_all)
        << folder;
  }
}

}  // namespace
}  // namespace vg::thumbnail
