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
//      every set or in none.
//   2. The plan (thumbnail/plan.h) names each output and groups the
//      pictures written under one name, so that the last one listed wins.
//   3. Workers take the groups, the largest first. Each picture is read
//      once, at the scale its widest thumbnail needs, and every set's
//      thumbnail is made from that one decode (thumbnail/make.h).
//   4. Each thumbnail is written through a temporary file and a rename:
//      whole or not at all, never over one of the run's inputs.
// The files written do not depend on `jobs`.
//
// Nothing here knows the window: it drives these same steps one picture at
// a time to keep its own caption, picture boxes and yields.
#ifndef VG_THUMBNAIL_ENGINE_H_
#define VG_THUMBNAIL_ENGINE_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/picture.h"

namespace vg::thumbnail {

// One set of thumbnails: `width` pixels wide, written at `destination`
// followed by each output name (a folder with its trailing "/", or any
// prefix: "/out/thumb-" writes "/out/thumb-a.jpg").
struct OutputSet {
  std::u16string destination;
  double width = 0;
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
};

// A file that got no thumbnail (or lost it), and why.
struct Failure {
  size_t index = 0;     // the input's place in the listing
  size_t set = kNoSet;  // the set it concerns; kNoSet: every set
  std::u16string path;  // the input, or the output that failed
  std::string reason;   // English

  static constexpr size_t kNoSet = static_cast<size_t>(-1);
};

struct Summary {
  size_t listed = 0;    // names listed, skipped ones included
  size_t pictures = 0;  // names made or tried (not skipped)
  size_t written = 0;   // pictures whose every thumbnail was written
  size_t failed = 0;    // pictures with at least one failure
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
};

// Runs `job`. A listing that cannot be read raises platform::Error 75 before
// any picture is touched; after that nothing raises: every file that fails
// is in the summary (and told to `events`, which may be null).
Summary Run(const Job& job, Events* events = nullptr);

// The reason given to a picture whose thumbnail a later one replaced.
std::string ReplacedReason(const std::u16string& later_input);

}  // namespace vg::thumbnail

#endif  // VG_THUMBNAIL_ENGINE_H_
