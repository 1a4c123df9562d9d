#include "thumbnail/engine.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <exception>
#include <mutex>
#include <thread>
#include <utility>

#include "decoders/decode_picture.h"
#include "platform/code_page.h"
#include "platform/error.h"
#include "platform/folder_listing.h"
#include "thumbnail/desktop_cache.h"
#include "thumbnail/internal/left_temporaries.h"
#include "thumbnail/internal/sets_in_turn.h"
#include "thumbnail/make.h"
#include "thumbnail/picture_steps.h"
#include "thumbnail/png_thumbnail.h"
#include "thumbnail/walk.h"

namespace vg::thumbnail {
namespace {

constexpr size_t kNone = static_cast<size_t>(-1);

// The run's listing: one folder, or a walked tree.
Walk ListJob(const Job& job) {
  if (!job.recursive) {
    Walk walk;
    walk.folders.push_back({});
    walk.files = platform::ListFolder(job.listing);
    return walk;  // folder_of left empty: every file is in folder 0
  }
  std::u16string folder, name_pattern;
  platform::SplitPattern(job.listing, &folder, &name_pattern);
  std::vector<std::u16string> destinations, set_folders;
  for (const OutputSet& set : job.sets) {
    destinations.push_back(set.destination);
    set_folders.push_back(set.sub_folder);
  }
  return WalkTree(job.load_prefix, name_pattern, destinations, set_folders);
}

// Returns `walk` without the files the run writes itself: they exist before
// the listing is taken (the report is opened first) but are not pictures.
Walk LeaveOutOwnFiles(const Job& job, Walk walk) {
  if (job.own_files.empty()) return walk;
  size_t kept = 0;
  for (size_t i = 0; i < walk.files.size(); ++i) {
    const std::pair<uint64_t, uint64_t> id{walk.files[i].device,
                                           walk.files[i].inode};
    if (std::find(job.own_files.begin(), job.own_files.end(), id) !=
        job.own_files.end()) {
      continue;
    }
    if (kept != i) {  // a string moved onto itself may be emptied
      walk.files[kept] = std::move(walk.files[i]);
      if (!walk.folder_of.empty()) walk.folder_of[kept] = walk.folder_of[i];
    }
    ++kept;
  }
  walk.files.resize(kept);
  if (!walk.folder_of.empty()) walk.folder_of.resize(kept);
  return walk;
}

bool Older(const timespec& a, const timespec& b) {
  return a.tv_sec != b.tv_sec ? a.tv_sec < b.tv_sec : a.tv_nsec < b.tv_nsec;
}

// The folder a picture's URI is made from: `load_prefix` made absolute.
std::u16string AbsolutePrefix(const Job& job) {
  if (job.cache_root.empty()) return {};
  std::string prefix = AbsolutePath(platform::ToAnsi(job.load_prefix));
  if (prefix.back() != '/') prefix += '/';
  return platform::FromAnsi(prefix);
}

// The state of one run, shared by its workers.
class Runner {
 public:
  // Each step below reads what the one before it made: they are written out
  // in the body, in that order, rather than left to member initialisers.
  Runner(const Job& job, Events* events)
      : job_(job), events_(events), cache_(!job.cache_root.empty()) {
    absolute_prefix_ = AbsolutePrefix(job);
    walk_ = LeaveOutOwnFiles(job, ListJob(job));
    const std::vector<bool> wanted = Wanted();
    std::function<bool(size_t)> wanted_filter;
    if (job.only) {
      wanted_filter = [&wanted](size_t i) {
        return static_cast<bool>(wanted[i]);
      };
    }
    plan_ = MakePlan(walk_.files,
                     PlanFilter{[this](size_t i) { return RelativeOutput(i); },
                                job.shard, std::move(wanted_filter)});
    inputs_ = InputGuard(walk_.files, job.own_files);
    status_.assign(walk_.files.size(), kPending);
    folder_made_.assign(job.recursive ? walk_.folders.size() : 0, false);
    for (const OutputSet& set : job_.sets)
      widest_ = std::max(widest_, set.width);
  }

  Summary Go() {
    if (cache_) {
      // Private to their owner, as a thumbnail cache's folders must be.
      for (const OutputSet& set : job_.sets) {
        MakeFolders(platform::ToAnsi(set.destination), 0700);
      }
    } else if (job_.nested_sets && !job_.recursive) {
      for (size_t s = 1; s < job_.sets.size(); ++s) {
        // A failure shows on each file written there.
        MakeFolders(platform::ToAnsi(job_.sets[s].destination));
      }
    }
    for (const WalkProblem& p : walk_.problems) FailApart(p.path, p.reason);
    if (job_.only && job_.shard.index == 0) {
      // Asked for and not there; told by one shard only.
      std::vector<std::u16string> missing;
      for (const std::u16string& path : *job_.only) {
        if (found_.count(path) == 0) missing.push_back(path);
      }
      std::sort(missing.begin(), missing.end());
      for (const std::u16string& path : missing) {
        FailApart(path, "not found in the origin");
      }
    }
    found_.clear();

    const size_t groups = plan_.order.size();
    const size_t jobs =
        std::min(static_cast<size_t>(std::max(1, job_.jobs)), groups);
    if (jobs <= 1) {
      Work();
    } else {
      std::vector<std::thread> workers;
      workers.reserve(jobs);
      for (size_t i = 0; i < jobs; ++i)
        workers.emplace_back([this] { Work(); });
      for (std::thread& t : workers) t.join();
    }
    Summary summary;
    summary.listed = walk_.files.size();
    summary.pictures = plan_.pictures;
    summary.cancelled = Cancelled();
    for (const auto& group : plan_.groups) {
      for (size_t index : group) {
        switch (status_[index]) {
          case kWrittenState:
            ++summary.written;
            break;
          case kFailedState:
            ++summary.failed;
            break;
          case kUpToDateState:
            ++summary.up_to_date;
            break;
          default:
            break;
        }
      }
    }
    std::stable_sort(failures_.begin(), failures_.end(),
                     [](const Failure& a, const Failure& b) {
                       return a.index != b.index ? a.index < b.index
                                                 : a.set < b.set;
                     });
    summary.failures = std::move(failures_);
    return summary;
  }

 private:
  enum State : uint8_t {
    kPending,
    kWrittenState,
    kFailedState,
    kUpToDateState,
    kNotMadeState
  };

  bool Cancelled() const {
    return job_.cancel != nullptr && job_.cancel->load();
  }

  const WalkedFolder& FolderOf(size_t index) const {
    return walk_.folders[walk_.folder_of.empty() ? 0 : walk_.folder_of[index]];
  }

  std::u16string InputPath(size_t index) const {
    return job_.load_prefix + FolderOf(index).origin + walk_.files[index].name;
  }

  // The URI the desktop knows the picture by.
  std::string Uri(size_t index) const {
    return FileUri(platform::ToAnsi(absolute_prefix_ + FolderOf(index).origin +
                                    walk_.files[index].name));
  }

  std::u16string RelativeOutput(size_t index) const {
    if (cache_) return platform::FromAnsi(Uri(index));
    return FolderOf(index).mirror + OutputName(walk_.files[index].name);
  }

  std::u16string OutputPath(size_t index, size_t set) const {
    if (cache_) {
      return job_.sets[set].destination +
             platform::FromAnsi(CacheEntryName(Uri(index)));
    }
    return job_.sets[set].destination + FolderOf(index).mirror +
           job_.sets[set].sub_folder + OutputName(walk_.files[index].name);
  }

  // Marks the files asked for (Job::only), and notes which paths were found.
  std::vector<bool> Wanted() {
    std::vector<bool> wanted;
    if (!job_.only) return wanted;
    wanted.resize(walk_.files.size(), false);
    for (size_t i = 0; i < walk_.files.size(); ++i) {
      for (std::u16string path :
           {InputPath(i), FolderOf(i).origin + walk_.files[i].name}) {
        if (job_.only->count(path) != 0) {
          wanted[i] = true;
          found_.insert(std::move(path));
        }
      }
    }
    return wanted;
  }

  void Work() {
    for (size_t k = next_++; k < plan_.order.size(); k = next_++) {
      const std::vector<size_t>& group = plan_.groups[plan_.order[k]];
      std::vector<PictureResult> results(group.size());
      for (size_t j = 0; j < group.size(); ++j) {
        results[j].index = group[j];
        results[j].input = InputPath(group[j]);
        for (size_t s = 0; s < job_.sets.size(); ++s) {
          results[j].outputs.push_back(OutputPath(group[j], s));
        }
      }
      for (const std::u16string& output : results.back().outputs) {
        left_temporaries_.RemoveFor(platform::ToAnsi(output));
      }
      // Names made safe alike are made again by an update too: which of
      // them holds the thumbnail, and which are named as replaced, is only
      // known by reading them, as a plain run does.
      if (job_.update && group.size() == 1 && UpToDate(results)) {
        for (PictureResult& r : results) {
          r.status = Status::kUpToDate;
          status_[r.index] = kUpToDateState;
          Finish();
        }
      } else {
        // The member of this group whose thumbnail each set's output holds.
        std::vector<size_t> holder(job_.sets.size(), kNone);
        for (size_t j = 0; j < group.size(); ++j) {
          if (Cancelled()) {
            results[j].status = Status::kNotMade;
            status_[group[j]] = kNotMadeState;
            continue;
          }
          MakeOne(j, results, holder);
        }
      }
      if (events_ != nullptr) {
        std::lock_guard lock(mutex_);
        for (const PictureResult& r : results) events_->Finished(r);
      }
    }
  }

  // True when every output of the group exists, not older than any of its
  // pictures.
  bool UpToDate(const std::vector<PictureResult>& results) const {
    if (cache_) {
      // One picture a URI: the group is that picture alone.
      const PictureResult& r = results.back();
      struct stat st {};
      if (stat(platform::ToAnsi(r.input).c_str(), &st) != 0) return false;
      const std::string uri = Uri(r.index);
      for (const std::u16string& output : r.outputs) {
        if (!EntryIsValid(platform::ToAnsi(output), uri, st.st_mtim.tv_sec)) {
          return false;
        }
      }
      return true;
    }
    timespec newest{0, 0};
    for (const PictureResult& r : results) {
      struct stat st {};
      if (stat(platform::ToAnsi(r.input).c_str(), &st) != 0) return false;
      if (Older(newest, st.st_mtim)) newest = st.st_mtim;
    }
    for (const std::u16string& output : results.back().outputs) {
      struct stat st {};
      if (stat(platform::ToAnsi(output).c_str(), &st) != 0 ||
          !S_ISREG(st.st_mode) || Older(st.st_mtim, newest)) {
        return false;
      }
    }
    return true;
  }

  // Makes the folders a recursive run writes this picture's thumbnails in.
  void MakeFoldersFor(size_t index) {
    if (!job_.recursive || cache_) return;
    const size_t folder = walk_.folder_of[index];
    std::lock_guard lock(folders_mutex_);
    if (folder_made_[folder]) return;
    folder_made_[folder] = true;
    for (const OutputSet& set : job_.sets) {
      // A failure shows on each file written there.
      MakeFolders(platform::ToAnsi(
          set.destination + walk_.folders[folder].mirror + set.sub_folder));
    }
  }

  void MakeOne(size_t j, std::vector<PictureResult>& results,
               std::vector<size_t>& holder) {
    const auto started = std::chrono::steady_clock::now();
    PictureResult& result = results[j];
    MakeSteps(j, results, holder);
    if (status_[result.index] == kPending) {
      status_[result.index] = kWrittenState;
    }
    result.milliseconds = std::chrono::duration<double, std::milli>(
                              std::chrono::steady_clock::now() - started)
                              .count();
    Finish();
  }

  // The engine's side of one picture's steps: its events, its folders, and
  // the earlier picture whose thumbnail a later one replaced.
  class Steps final : public PictureSteps {
   public:
    Steps(Runner& run, size_t j, std::vector<PictureResult>& results,
          std::vector<size_t>& holder)
        : run_(run), j_(j), results_(results), holder_(holder) {}

    const InputGuard& inputs() const override { return run_.inputs_; }
    double LoadWidth() override { return run_.widest_; }
    void Loaded(const platform::PicturePtr& picture) override {
      if (run_.events_ != nullptr) {
        std::lock_guard lock(run_.mutex_);
        run_.events_->Loaded(result().index, result().input, *picture);
      }
      run_.MakeFoldersFor(result().index);
    }
    Sized Height(size_t set, const platform::Picture& picture) override {
      return ProportionalSize(picture, run_.job_.sets[set].width);
    }
    Target ToDraw(size_t set, const platform::PicturePtr& loaded) override {
      return {loaded.get(), run_.job_.sets[set].width, result().outputs[set]};
    }
    void Written(size_t set, const std::u16string& output,
                 const Thumbnail& thumb) override {
      std::lock_guard lock(run_.mutex_);
      if (run_.events_ != nullptr) {
        run_.events_->Written(result().index, set, output, thumb.dib.Width(),
                              thumb.dib.Height());
      }
      if (holder_[set] != kNone) {
        // Two names that transliterate alike: the later one replaced the
        // earlier one's thumbnail, which is then as good as not written.
        PictureResult& earlier = results_[holder_[set]];
        run_.FailLocked(
            {earlier.index, set, earlier.input, ReplacedReason(result().input)},
            earlier);
      }
      holder_[set] = j_;
    }
    void Failed(size_t set, const std::u16string& path,
                std::string reason) override {
      static_assert(kEverySet == Failure::kNoSet);
      run_.Fail({result().index, set, path, std::move(reason)}, result());
    }

   private:
    PictureResult& result() { return results_[j_]; }

    Runner& run_;
    const size_t j_;
    std::vector<PictureResult>& results_;
    std::vector<size_t>& holder_;
  };

  void MakeSteps(size_t j, std::vector<PictureResult>& results,
                 std::vector<size_t>& holder) {
    if (cache_) {
      MakeCacheEntries(results[j]);
      return;
    }
    Steps steps(*this, j, results, holder);
    MakePicture(results[j].input, job_.sets.size(), steps);
  }

  // The desktop cache's steps: the picture decoded once for the largest
  // size, each entry fitted in its box and written as PNG; a picture that
  // cannot be read gets failure entries instead.
  void MakeCacheEntries(PictureResult& result) {
    const size_t index = result.index;
    const std::string path = platform::ToAnsi(result.input);
    CacheSource source;
    // Looked at before it is read: should the picture change meanwhile, the
    // entry carries the older time and is made again next time.
    const bool known = ReadCacheSource(path, Uri(index), &source);
    // An update makes only the entries that are not valid, from a decode
    // for the largest of them.
    std::vector<bool> needed(job_.sets.size(), true);
    double widest = 0;
    for (size_t s = 0; s < job_.sets.size(); ++s) {
      needed[s] = !(job_.update && known &&
                    EntryIsValid(platform::ToAnsi(result.outputs[s]),
                                 source.uri, source.mtime_seconds));
      if (needed[s]) widest = std::max(widest, job_.sets[s].width);
    }
    decoders::DecodedImage image;
    try {
      decoders::DecodeHint hint = BoxHint(static_cast<int32_t>(widest));
      hint.keep_alpha = true;
      image = decoders::DecodePictureFile(result.input, hint);
    } catch (const std::exception& e) {
      Fail({index, Failure::kNoSet, result.input, DescribeFailure(e)}, result);
      const auto* error = dynamic_cast<const platform::Error*>(&e);
      if (known) {
        WriteFailureEntries(
            source, error != nullptr &&
                        error->number() == platform::kErrInvalidPicture);
      }
      return;
    }
    if (!known) {
      Fail({index, Failure::kNoSet, result.input, "could not be looked at"},
           result);
      return;
    }
    const PngText text = EntryText(source, image.width, image.height);
    for (size_t s = 0; s < job_.sets.size(); ++s) {
      if (!needed[s]) continue;
      const std::u16string& output = result.outputs[s];
      BoxThumbnail thumb;
      try {
        thumb = ScaleIntoBox(image, static_cast<int32_t>(job_.sets[s].width),
                             image.has_alpha);
      } catch (const std::exception& e) {
        Fail({index, s, result.input, DescribeFailure(e)}, result);
        continue;
      }
      if (std::string why =
              WritePng(thumb, platform::ToAnsi(output), text, 0600, false);
          !why.empty()) {
        Fail({index, s, output, std::move(why)}, result);
        continue;
      }
      if (events_ != nullptr) {
        std::lock_guard lock(mutex_);
        events_->Written(index, s, output, thumb.width, thumb.height);
      }
    }
  }

  // Tells the desktop not to try the picture again until it changes: our
  // own failure entry, and the one GNOME's factory looks for when the file
  // is of a picture type we read and is no valid picture (any other type,
  // a video or an SVG, is left for the desktop's other thumbnailers).
  void WriteFailureEntries(const CacheSource& source, bool invalid) const {
    const std::string root = platform::ToAnsi(job_.cache_root);
    std::vector<std::string> folders = {root + kOwnFailFolder};
    if (invalid && IsPictureTypeWeRead(source.mime_type)) {
      folders.push_back(root + kDesktopFailFolder);
    }
    BoxThumbnail blank;
    blank.width = blank.height = 1;
    blank.has_alpha = true;
    blank.pixels.assign(4, 0);
    PngText text = EntryText(source, 0, 0);
    for (const std::string& folder : folders) {
      MakeFolders(folder, 0700);
      // A failure entry that cannot be written costs another try later.
      (void)WritePng(blank, folder + CacheEntryName(source.uri), text, 0600,
                     false);
    }
  }

  void Fail(Failure failure, PictureResult& result) {
    std::lock_guard lock(mutex_);
    FailLocked(std::move(failure), result);
  }

  void FailLocked(Failure failure, PictureResult& result) {
    status_[failure.index] = kFailedState;
    result.status = Status::kFailed;
    // One reason for every set (a picture replaced in both) is told once.
    if (result.reason.find(failure.reason) == std::string::npos) {
      if (!result.reason.empty()) result.reason += "; ";
      result.reason += failure.reason;
    }
    if (events_ != nullptr) events_->Failed(failure);
    failures_.push_back(std::move(failure));
  }

  // A failure that is no picture of the listing: a folder, a missing path.
  void FailApart(const std::u16string& path, const std::string& reason) {
    Failure failure{Failure::kNoIndex, Failure::kNoSet, path, reason};
    if (events_ != nullptr) {
      events_->Failed(failure);
      PictureResult result;
      result.index = Failure::kNoIndex;
      result.input = path;
      result.status = Status::kFailed;
      result.reason = reason;
      events_->Finished(result);
    }
    failures_.push_back(std::move(failure));
  }

  void Finish() {
    std::lock_guard lock(mutex_);
    ++done_;
    if (events_ != nullptr) events_->Progress(done_, plan_.pictures);
  }

  const Job& job_;
  Events* events_;
  const bool cache_;                // Job::cache_root given
  std::u16string absolute_prefix_;  // for the URIs of a cache run
  Walk walk_;
  std::unordered_set<std::u16string> found_;  // Job::only paths listed
  Plan plan_;
  InputGuard inputs_{{}};
  double widest_ = 0;
  std::atomic<size_t> next_{0};
  std::mutex mutex_;
  size_t done_ = 0;
  // One byte a file; each is written by the worker of its group only.
  std::vector<uint8_t> status_;
  std::vector<Failure> failures_;
  std::mutex folders_mutex_;
  std::vector<bool> folder_made_;
  thumbnail_internal::LeftTemporaries left_temporaries_;
};

}  // namespace

Summary Run(const Job& job, Events* events) {
  if (job.nested_sets && job.sets.size() > 1 && !job.recursive &&
      job.cache_root.empty() &&
      thumbnail_internal::AnOutputStandsWhereASetGoes(job)) {
    return thumbnail_internal::RunSetsInTurn(job, events);
  }
  Runner runner(job, events);
  return runner.Go();
}

bool MakeFolder(const std::string& path, mode_t mode) {
  if (mkdir(path.c_str(), mode) == 0) return true;
  const int why = errno;
  struct stat st {};
  if (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return true;
  // What the caller tells: why the folder could not be made, not that it is
  // missing.
  errno = why;
  return false;
}

bool MakeFolders(const std::string& path, mode_t mode) {
  int why = 0;  // the first failure that is not "a file is in the way"
  for (size_t i = 1; i <= path.size(); ++i) {
    if ((i == path.size() || path[i] == '/') &&
        !MakeFolder(path.substr(0, i), mode) && errno != EEXIST && why == 0) {
      why = errno;
    }
  }
  struct stat st {};
  if (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return true;
  if (why != 0) errno = why;
  return false;
}

const char* ToString(Status status) {
  switch (status) {
    case Status::kWritten:
      return "written";
    case Status::kFailed:
      return "failed";
    case Status::kUpToDate:
      return "up-to-date";
    case Status::kNotMade:
      return "not-made";
  }
  return "unknown";
}

std::string ReplacedReason(const std::u16string& later_input) {
  return "written under the same name as " + platform::ToAnsi(later_input) +
         "; its thumbnail was replaced";
}

}  // namespace vg::thumbnail
