// File: thumbnail/engine.h
//
// The thumbnail engine: every picture of a folder, written as quality-90
// JPEG thumbnails at one or more widths, the height of each in proportion,
// under a file name made safe for any file system.
//
//   thumbnail::Job job;
//   job.listing = u"/photos/in/";            // a folder, or "/in/*.jpg"
//   job.load_prefix = u"/photos/in/";        // what listed names follow
//   job.sets = {{u"/photos/out/", 100}, {u"/photos/out/Grand/", 450}};
//   job.jobs = 4;                            // pictures made at once
//   thumbnail::Summary done = thumbnail::Run(job, &events);
//   // done.failures: every file not made, with its reason
//
// How a run goes:
//   1. The listing is taken once, whole, before the first picture: files
//      the run writes are never read back, and a file added meanwhile is in
//      every set or in none. A recursive run lists the whole tree then
//      (thumbnail/walk.h).
//   2. The plan (thumbnail/plan.h) names each output and groups the
//      pictures written under one name, so that the last one listed wins;
//      it keeps only the run's shard, and the pictures asked for.
//   3. Workers take the groups, the largest first. Each picture is read
//      once, at the scale its widest thumbnail needs, and every set's
//      thumbnail is made from that one decode (thumbnail/make.h).
//   4. Each thumbnail is written through a temporary file and a rename:
//      whole or not at all, never over one of the run's inputs. So a run
//      killed at any moment leaves whole files, and a run with `update`
//      set finishes its work without making them again.
// The files written do not depend on `jobs`. A run may fill the desktop's
// thumbnail cache instead (Job::cache_root): the same steps, with PNG
// entries named after each picture's URI.
//
// Nothing here knows the window: it drives these same steps one picture at
// a time to keep its own caption, picture boxes and yields.
#ifndef VG_THUMBNAIL_ENGINE_H_
#define VG_THUMBNAIL_ENGINE_H_

#include <sys/types.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "platform/picture.h"
#include "thumbnail/plan.h"

namespace vg::thumbnail {

// One set of thumbnails: `width` pixels wide, written at `destination`
// followed by each output name (a folder with its trailing "/", or any
// prefix: "/out/thumb-" writes "/out/thumb-a.jpg").
// In a recursive run each folder of the origin has its mirror below
// `destination`, and the set goes into `sub_folder` of each mirror
// ("Grand/"; empty for the mirror itself).
struct OutputSet {
  OutputSet() = default;
  OutputSet(std::u16string destination_in, double width_in,
            std::u16string sub_folder_in = {})
      : destination(std::move(destination_in)),
        width(width_in),
        sub_folder(std::move(sub_folder_in)) {}

  std::u16string destination;
  double width = 0;
  std::u16string sub_folder;
};

struct Job {
  // The listing pattern: a folder with its trailing "/", optionally followed
  // by a "*"/"?" pattern of names (platform/folder_listing.h).
  std::u16string listing;
  // What each listed name is appended to when it is read.
  std::u16string load_prefix;
  // The sets, each made from the same decode of every picture.
  std::vector<OutputSet> sets;
  // Pictures made at once (1 or more).
  int jobs = 1;
  // When set and true, the run stops after the pictures being made.
  const std::atomic<bool>* cancel = nullptr;
  // Walks the listing's folder and every folder below it; each folder's
  // pictures go to its mirror (see OutputSet), made when needed.
  bool recursive = false;
  // Leaves alone a picture whose every thumbnail exists and is not older
  // than it (nor than any picture written under the same name).
  bool update = false;
  // Makes only this share of the pictures (thumbnail/plan.h).
  Shard shard;
  // When not empty, the run fills the desktop's thumbnail cache whose root
  // this is (with its trailing "/"; thumbnail/desktop_cache.h) instead of
  // writing JPEG files: each set's destination is one of the root's size
  // folders and its width that size's box. Every picture gets a PNG entry
  // in each, named after its file URI; one that fails gets a failure entry
  // (kOwnFailFolder; kDesktopFailFolder too when it is no picture we read).
  // Folders made here are 0700, entries 0600. With `update`, a picture
  // whose every entry is valid (same URI and time) is left alone.
  std::u16string cache_root;
  // When set, makes only the pictures at these paths (load_prefix followed
  // by the path below the origin, or that path alone), with the others
  // written under the same name; a path the listing lacks is a failure.
  std::shared_ptr<const std::unordered_set<std::u16string>> only;
  // Files the run writes besides its thumbnails (the command line's
  // report), by device and inode: never listed as inputs, even where they
  // lie in the origin, and never replaced by a thumbnail.
  std::vector<std::pair<uint64_t, uint64_t>> own_files;
  // The two sizes of the command line and the window: each set after the
  // first is a folder inside the first set's folder ("Grand/"), made by the
  // run when missing. When a picture of the first set would be written
  // where such a folder goes (a picture named "Grand"), the sets are made
  // one after the other, each folder made just before its turn, as the
  // window makes them: the same files are written and the same failures
  // named. The summary and the events tell each picture once all the same.
  // Not for a recursive run or a cache run, which are one walk.
  bool nested_sets = false;
};

// A file that got no thumbnail (or lost it), and why.
struct Failure {
  size_t index = 0;     // the input's place in the listing; kNoIndex: none
  size_t set = kNoSet;  // the set it concerns; kNoSet: every set
  std::u16string path;  // the input, or the output that failed
  std::string reason;   // English

  static constexpr size_t kNoSet = static_cast<size_t>(-1);
  // A folder that could not be walked, or a path asked for that the
  // listing lacks: no picture of the listing.
  static constexpr size_t kNoIndex = static_cast<size_t>(-1);
};

// What became of one picture.
enum class Status {
  kWritten,   // every thumbnail written
  kFailed,    // at least one thumbnail not made, or replaced
  kUpToDate,  // every thumbnail there already (Job::update)
  kNotMade,   // the run was cancelled first
};

// Returns "written", "failed", "up-to-date" or "not-made".
const char* ToString(Status status);

// One picture of the run, told once it is final.
struct PictureResult {
  size_t index = 0;  // as Failure::index
  std::u16string input;
  std::vector<std::u16string> outputs;  // one per set
  Status status = Status::kWritten;
  std::string reason;       // the failures, "; " between them
  double milliseconds = 0;  // reading, making and writing it
};

struct Summary {
  size_t listed = 0;      // names listed, skipped ones included
  size_t pictures = 0;    // names made or tried (not skipped)
  size_t written = 0;     // pictures whose every thumbnail was written
  size_t failed = 0;      // pictures with at least one failure
  size_t up_to_date = 0;  // pictures left alone (Job::update)
  bool cancelled = false;
  // Every failure, by listing order, then set.
  std::vector<Failure> failures;
};

// Told what happens, one call at a time (the engine holds a lock around
// each call, so an implementation needs none), from the workers' threads.
class Events {
 public:
  virtual ~Events() = default;
  // A picture was read; `picture` is only valid during the call.
  virtual void Loaded(size_t /*index*/, const std::u16string& /*path*/,
                      const platform::Picture& /*picture*/) {}
  // A thumbnail was written.
  virtual void Written(size_t /*index*/, size_t /*set*/,
                       const std::u16string& /*path*/, int32_t /*width*/,
                       int32_t /*height*/) {}
  virtual void Failed(const Failure& /*failure*/) {}
  // `done` of `pictures` pictures are finished.
  virtual void Progress(size_t /*done*/, size_t /*pictures*/) {}
  // A picture's result is final (after the others written under its name).
  virtual void Finished(const PictureResult& /*result*/) {}
};

// Runs `job`. A listing that cannot be read raises platform::Error 75 before
// any picture is touched; after that nothing raises: every file that fails
// is in the summary (and told to `events`, which may be null).
Summary Run(const Job& job, Events* events = nullptr);

// Makes the folder `path` (an ANSI path) in its parent, with `mode` (less
// the umask); returns whether it is a folder then (when not, errno says
// why). Every folder the runs and the window make is made here.
bool MakeFolder(const std::string& path, mode_t mode = 0777);

// Makes `path` and the folders above it that are missing, as MakeFolder.
bool MakeFolders(const std::string& path, mode_t mode = 0777);

// The reason given to a picture whose thumbnail a later one replaced.
std::string ReplacedReason(const std::u16string& later_input);

}  // namespace vg::thumbnail

#endif  // VG_THUMBNAIL_ENGINE_H_
