#include "thumbnail/engine.h"

#include <algorithm>
#include <exception>
#include <mutex>
#include <thread>
#include <utility>

#include "platform/code_page.h"
#include "platform/folder_listing.h"
#include "thumbnail/make.h"
#include "thumbnail/plan.h"

namespace vg::thumbnail {
namespace {

constexpr size_t kNone = static_cast<size_t>(-1);

// The state of one run, shared by its workers.
class Runner {
 public:
  Runner(const Job& job, Events* events)
      : job_(job),
        events_(events),
        files_(platform::ListFolder(job.listing)),
        plan_(MakePlan(files_)),
        inputs_(files_),
        failed_(files_.size(), false) {
    for (const OutputSet& set : job_.sets)
      widest_ = std::max(widest_, set.width);
  }

  Summary Go() {
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
    summary.listed = files_.size();
    summary.pictures = plan_.pictures;
    summary.cancelled = Cancelled();
    for (const auto& group : plan_.groups) {
      for (size_t index : group) {
        if (!made_.empty() && !made_[index]) continue;
        ++(failed_[index] ? summary.failed : summary.written);
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
  bool Cancelled() const {
    return job_.cancel != nullptr && job_.cancel->load();
  }

  void Work() {
    for (size_t k = next_++; k < plan_.order.size(); k = next_++) {
      // The picture of this group that each set's output now holds.
      std::vector<size_t> holder(job_.sets.size(), kNone);
      for (size_t index : plan_.groups[plan_.order[k]]) {
        if (Cancelled()) {
          Skip(index);
          continue;
        }
        MakeOne(index, holder);
      }
    }
  }

  void MakeOne(size_t index, std::vector<size_t>& holder) {
    const std::u16string& name = files_[index].name;
    const std::u16string input = job_.load_prefix + name;
    platform::PicturePtr picture;
    try {
      picture = LoadPicture(input, widest_);
    } catch (const std::exception& e) {
      Fail({index, Failure::kNoSet, input, DescribeFailure(e)});
      Finish();
      return;
    }
    if (events_ != nullptr) {
      std::lock_guard lock(mutex_);
      events_->Loaded(index, input, *picture);
    }
    const std::u16string output_name = OutputName(name);
    for (size_t s = 0; s < job_.sets.size(); ++s) {
      const OutputSet& set = job_.sets[s];
      int32_t height = 0;
      try {
        height =
            ProportionalHeight(picture->Width(), picture->Height(), set.width);
      } catch (const std::exception& e) {
        Fail({index, s, input, DescribeFailure(e)});
        continue;
      }
      if (std::string why = CheckHeight(set.width, height); !why.empty()) {
        Fail({index, s, input, std::move(why)});
        continue;
      }
      const std::u16string output = set.destination + output_name;
      Thumbnail thumb;
      try {
        thumb = Render(*picture, GeometryFor(set.width, height));
      } catch (const std::exception& e) {
        Fail({index, s, input, DescribeFailure(e)});
        continue;
      }
      if (thumb.dib.hDib() == 0) {
        Fail({index, s, input, NothingCaptured(height)});
        continue;
      }
      if (std::string why = Write(thumb.dib, output, inputs_); !why.empty()) {
        Fail({index, s, output, std::move(why)});
        continue;
      }
      std::lock_guard lock(mutex_);
      if (events_ != nullptr) {
        events_->Written(index, s, output, thumb.dib.Width(),
                         thumb.dib.Height());
      }
      if (holder[s] != kNone) {
        // Two names that transliterate alike: the later one replaced the
        // earlier one's thumbnail, which is then as good as not written.
        const size_t earlier = holder[s];
        FailLocked({earlier, s, job_.load_prefix + files_[earlier].name,
                    ReplacedReason(input)});
      }
      holder[s] = index;
    }
    Finish();
  }

  void Fail(Failure failure) {
    std::lock_guard lock(mutex_);
    FailLocked(std::move(failure));
  }

  void FailLocked(Failure failure) {
    failed_[failure.index] = true;
    if (events_ != nullptr) events_->Failed(failure);
    failures_.push_back(std::move(failure));
  }

  void Finish() {
    std::lock_guard lock(mutex_);
    ++done_;
    if (events_ != nullptr) events_->Progress(done_, plan_.pictures);
  }

  // A picture a cancelled run did not make: neither written nor failed.
  void Skip(size_t index) {
    std::lock_guard lock(mutex_);
    if (made_.empty()) made_.assign(files_.size(), true);
    made_[index] = false;
  }

  const Job& job_;
  Events* events_;
  const std::vector<platform::ListedFile> files_;
  const Plan plan_;
  const InputGuard inputs_;
  double widest_ = 0;
  std::atomic<size_t> next_{0};
  std::mutex mutex_;
  size_t done_ = 0;
  std::vector<bool> failed_;
  std::vector<bool> made_;  // empty: every planned picture was made
  std::vector<Failure> failures_;
};

}  // namespace

Summary Run(const Job& job, Events* events) {
  Runner runner(job, events);
  return runner.Go();
}

std::string ReplacedReason(const std::u16string& later_input) {
  return "written under the same name as " + platform::ToAnsi(later_input) +
         "; its thumbnail was replaced";
}

}  // namespace vg::thumbnail
