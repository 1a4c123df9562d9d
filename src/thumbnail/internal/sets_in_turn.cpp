#include "thumbnail/internal/sets_in_turn.h"

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/code_page.h"
#include "platform/folder_listing.h"
#include "thumbnail/plan.h"

namespace vg::thumbnail::thumbnail_internal {
namespace {

// One picture told by each run: the outputs and reasons joined, the worst
// status kept (failed, then not made).
void Merge(PictureResult& into, const PictureResult& more) {
  into.outputs.insert(into.outputs.end(), more.outputs.begin(),
                      more.outputs.end());
  if (!more.reason.empty()) {
    into.reason += into.reason.empty() ? "" : "; ";
    into.reason += more.reason;
  }
  into.milliseconds += more.milliseconds;
  if (into.status == Status::kFailed || more.status == Status::kFailed) {
    into.status = Status::kFailed;
  } else if (into.status != more.status) {
    into.status =
        into.status == Status::kNotMade || more.status == Status::kNotMade
            ? Status::kNotMade
            : Status::kWritten;
  }
}

// Passes the runs' events on as those of one run: sets renumbered, one
// progress from the first run's start to the last one's end, and each
// picture finished once, when every run is over.
class InTurn : public Events {
 public:
  InTurn(Events* outer, size_t sets) : outer_(outer), sets_(sets) {}

  void StartSet(size_t set) {
    base_ += told_;
    told_ = 0;
    set_ = set;
  }

  void Loaded(size_t index, const std::u16string& path,
              const platform::Picture& picture) override {
    outer_->Loaded(index, path, picture);
  }
  void Written(size_t index, size_t /*set*/, const std::u16string& path,
               int32_t width, int32_t height) override {
    outer_->Written(index, set_, path, width, height);
  }
  void Failed(const Failure& failure) override {
    if (failure.index == Failure::kNoIndex && set_ > 0) return;
    Failure renumbered = failure;
    if (renumbered.set != Failure::kNoSet) renumbered.set = set_;
    outer_->Failed(renumbered);
  }
  void Progress(size_t done, size_t pictures) override {
    told_ = pictures;
    outer_->Progress(base_ + done, base_ + pictures * (sets_ - set_));
  }
  void Finished(const PictureResult& result) override {
    if (result.index == Failure::kNoIndex) {
      // Not a picture (a path asked for that is not there): every run
      // tells it; it is told once.
      if (set_ == 0) apart_.push_back(result);
      return;
    }
    auto [it, fresh] = merged_.try_emplace(result.index, result);
    if (!fresh) Merge(it->second, result);
  }

  // Tells every picture's merged result; returns how many every run found
  // up to date.
  size_t End() {
    size_t up_to_date = 0;
    for (const PictureResult& r : apart_) outer_->Finished(r);
    for (const auto& [index, r] : merged_) {
      outer_->Finished(r);
      if (r.status == Status::kUpToDate) ++up_to_date;
    }
    return up_to_date;
  }

 private:
  Events* outer_;
  const size_t sets_;
  size_t set_ = 0;
  size_t base_ = 0;  // the pictures of the runs before this one
  size_t told_ = 0;  // this run's pictures, as its progress says
  std::map<size_t, PictureResult> merged_;
  std::vector<PictureResult> apart_;
};

}  // namespace

bool AnOutputStandsWhereASetGoes(const Job& job) {
  for (const platform::ListedFile& f : platform::ListFolder(job.listing)) {
    if (IsSkippedName(f.name)) continue;
    const std::u16string written = job.sets[0].destination + OutputName(f.name);
    for (size_t s = 1; s < job.sets.size(); ++s) {
      if (written + u"/" == job.sets[s].destination) return true;
    }
  }
  return false;
}

Summary RunSetsInTurn(const Job& job, Events* events) {
  Events none;
  InTurn in_turn(events != nullptr ? events : &none, job.sets.size());
  Summary total;
  for (size_t s = 0; s < job.sets.size(); ++s) {
    // The folder cannot be made where a picture was just written: each of
    // the set's thumbnails then fails, as it does in the window.
    if (s > 0) MakeFolders(platform::ToAnsi(job.sets[s].destination));
    Job one = job;
    one.sets = {job.sets[s]};
    one.nested_sets = false;
    in_turn.StartSet(s);
    Summary summary = Run(one, &in_turn);
    total.listed = std::max(total.listed, summary.listed);
    total.pictures = std::max(total.pictures, summary.pictures);
    total.cancelled = total.cancelled || summary.cancelled;
    for (Failure& f : summary.failures) {
      if (f.index == Failure::kNoIndex && s > 0) continue;
      if (f.set != Failure::kNoSet) f.set = s;
      total.failures.push_back(std::move(f));
    }
  }
  std::stable_sort(total.failures.begin(), total.failures.end(),
                   [](const Failure& a, const Failure& b) {
                     return a.index != b.index ? a.index < b.index
                                               : a.set < b.set;
                   });
  // A picture is failed when any of its thumbnails is: counted by input.
  std::set<size_t> failed;
  for (const Failure& f : total.failures) {
    if (f.index != Failure::kNoIndex) failed.insert(f.index);
  }
  total.failed = std::min(failed.size(), total.pictures);
  total.up_to_date = std::min(in_turn.End(), total.pictures - total.failed);
  total.written = total.pictures - total.failed - total.up_to_date;
  return total;
}

}  // namespace vg::thumbnail::thumbnail_internal
