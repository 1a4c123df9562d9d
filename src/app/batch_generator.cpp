#include "app/batch_generator.h"

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <utility>

#include "app/decoders/load_picture.h"
#include "dib/a_dib_section.h"
#include "jpeg/librairie_graphique.h"
#include "platform/case_fold.h"
#include "platform/checked.h"
#include "platform/code_page.h"
#include "platform/error.h"
#include "platform/folder_listing.h"
#include "platform/numeric_text.h"
#include "text/replace_all.h"
#include "text/to_dos_name.h"

namespace vg::app {
namespace {

constexpr int32_t kQuality = 90;

// The files of the run's listing, known by identity, so that no output may
// replace one of them (a destination equal to the origin).
class InputSet {
 public:
  explicit InputSet(const std::vector<platform::ListedFile>& files) {
    for (const auto& f : files) ids_.insert({f.device, f.inode});
  }
  bool Contains(const std::u16string& path) const {
    struct stat st {};
    if (stat(platform::ToAnsi(path).c_str(), &st) != 0) return false;
    return ids_.count({static_cast<uint64_t>(st.st_dev),
                       static_cast<uint64_t>(st.st_ino)}) != 0;
  }

 private:
  std::set<std::pair<uint64_t, uint64_t>> ids_;
};

bool IsSkippedName(const std::u16string& name) {
  return name == u"." || name == u".." ||
         platform::FoldCase(name) == u"thumbs.db";
}

std::string DescribeFailure(const std::exception& e) {
  if (const auto* error = dynamic_cast<const platform::Error*>(&e)) {
    return error->description();
  }
  return e.what();
}

// The name a listed file is written under.
std::u16string OutputName(const std::u16string& listed_name) {
  try {
    return text::ReplaceAll(
        text::ReplaceAll(text::ToDosName(listed_name), u"'", u"-"), u"\"",
        u"-");
  } catch (const std::exception&) {
    return listed_name;
  }
}

// The steps of one picture, from its load to its save, on `form`'s picture
// boxes. `h` is carried from one picture to the next; `dib` holds the capture
// of the last picture until this one replaces it.
// `loaded`, when given, is the picture already loaded from the file, which
// replaces the load step.
void MakeOnePicture(Form1& form, const std::u16string& listed_name,
                    const InputSet& inputs, int32_t& h,
                    std::unique_ptr<dib::aDIBSection>& dib,
                    const platform::PicturePtr* loaded = nullptr) {
  std::u16string name = listed_name;
  std::u16string input_path = form.Text1.text() + name;
  try {
    if (loaded != nullptr) {
      form.Picture2.set_picture(*loaded);
    } else {
      decoders::DecodeHint hint;
      double w = platform::NumericValue(form.Largeur.text());
      if (w >= 1 && w <= kMaxBoxSidePx) {
        hint.target_width_px = static_cast<int32_t>(w);
      }
      form.Picture2.set_picture(decoders::LoadPicture(input_path, hint));
    }
    form.Changed(Control::kPicture2);
  } catch (const std::exception& e) {
    // Counted and skipped: nothing is written for a file that does not load.
    form.add_failure({input_path, DescribeFailure(e)});
    form.Yield();
    return;
  }
  form.Yield();

  if (form.Option1()) {
    try {
      double w = platform::NumericValue(form.Largeur.text());
      double ratio = platform::CheckedDivide(form.Picture2.width(), w);
      h = platform::RoundToInt32(
          platform::CheckedDivide(form.Picture2.height(), ratio));
    } catch (const std::exception&) {
      // h keeps the previous picture's value.
    }
  }
  try {
    form.Picture1.set_height(static_cast<float>(h));
    form.Changed(Control::kPicture1);
  } catch (const std::exception&) {
  }
  form.Yield();

  try {
    double w = platform::NumericValue(form.Largeur.text());
    if (!form.Picture2.picture()) {
      throw platform::Error::Standard(platform::kErrObjectNotSet,
                                      "PaintPicture");
    }
    form.Picture1.PaintPicture(*form.Picture2.picture(), 0, 0,
                               w * kTwipsPerPixel,
                               platform::CheckedMul32(h, 15));
  } catch (const std::exception&) {
  }
  try {
    form.Picture1.set_picture(form.Picture1.kept_image());
    form.Changed(Control::kPicture1);
  } catch (const std::exception&) {
  }
  dib = std::make_unique<dib::aDIBSection>();  // releases the last capture
  try {
    if (!form.Picture1.picture()) {
      throw platform::Error::Standard(platform::kErrObjectNotSet,
                                      "CreateFromPicture");
    }
    int32_t handle = form.Picture1.picture()->Handle();
    dib->CreateFromPicture(handle);
  } catch (const std::exception&) {
  }
  // A failing name step leaves the listed name.
  name = OutputName(name);
  std::u16string output_path = form.Text2.text() + name;
  try {
    if (dib->hDib() == 0) {
      form.add_failure(
          {input_path, h <= 0 ? "zero height: no height has been computed"
                              : "the scaled picture could not be captured"});
    } else if (inputs.Contains(output_path)) {
      // A destination equal to the origin would otherwise replace the photo.
      form.add_failure(
          {output_path, "not written: it would replace an original picture"});
    } else if (!jpeg::SaveDibAsJpeg(*dib, output_path, kQuality)) {
      form.add_failure({output_path, "could not be written"});
    }
  } catch (const std::exception& e) {
    form.add_failure({output_path, DescribeFailure(e)});
  }
  form.Yield();
}

void RunSequential(Form1& form, const std::vector<platform::ListedFile>& files,
                   const InputSet& inputs, const BatchOptions& options) {
  int16_t count = 0;
  int32_t h = 0;
  std::unique_ptr<dib::aDIBSection> dib;
  int done = 0;
  const int total = static_cast<int>(files.size());
  for (const platform::ListedFile& file : files) {
    if (form.stop_requested()) break;
    ++done;
    if (IsSkippedName(file.name)) continue;
    try {
      count = platform::CheckedAdd16(count, 1);
    } catch (const platform::Error&) {
      // The count stays at its largest value.
    }
    form.set_caption(CountCaption(count));
    MakeOnePicture(form, file.name, inputs, h, dib);
    if (options.progress) options.progress(done, total);
  }
  dib.reset();
}

// Each worker runs the same steps on a form of its own that holds the same
// texts. Files that would be written under the same name go to one worker in
// listing order, so the last one wins exactly as when they go one by one;
// the largest groups go first so that the last to finish is a small one.
struct WorkOrder {
  // Indexes into the listing, by output name, in listing order.
  std::vector<std::vector<size_t>> groups;
  // Group indexes, the group of the most bytes first.
  std::vector<size_t> order;
  size_t pictures = 0;
};

WorkOrder PlanWork(const std::vector<platform::ListedFile>& files) {
  WorkOrder plan;
  std::vector<std::vector<size_t>>& groups = plan.groups;
  std::vector<uint64_t> group_bytes;
  {
    std::map<std::u16string, size_t> group_of_name;
    for (size_t i = 0; i < files.size(); ++i) {
      if (IsSkippedName(files[i].name)) continue;
      auto [it, fresh] =
          group_of_name.try_emplace(OutputName(files[i].name), groups.size());
      if (fresh) {
        groups.emplace_back();
        group_bytes.push_back(0);
      }
      groups[it->second].push_back(i);
      group_bytes[it->second] += files[i].size_bytes;
    }
  }
  plan.order.resize(groups.size());
  for (size_t g = 0; g < plan.order.size(); ++g) plan.order[g] = g;
  std::stable_sort(
      plan.order.begin(), plan.order.end(),
      [&](size_t a, size_t b) { return group_bytes[a] > group_bytes[b]; });
  for (const auto& g : groups) plan.pictures += g.size();
  return plan;
}

// Runs `work` on `jobs` threads (at most one per group) while this thread
// reports progress; `done` counts finished pictures under `mutex`.
void RunWorkers(int jobs, size_t groups, size_t pictures, int skipped,
                int total, const BatchOptions& options, std::mutex& mutex,
                const size_t& done, const std::function<void()>& work) {
  jobs = static_cast<int>(std::min<size_t>(static_cast<size_t>(jobs), groups));
  std::vector<std::thread> workers;
  for (int i = 0; i < jobs; ++i) workers.emplace_back(work);
  if (options.progress) {
    for (;;) {
      size_t now;
      {
        std::lock_guard lock(mutex);
        now = done;
      }
      options.progress(skipped + static_cast<int>(now), total);
      if (now >= pictures) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  }
  for (auto& t : workers) t.join();
}

void RunParallel(Form1& form, const std::vector<platform::ListedFile>& files,
                 const InputSet& inputs, const BatchOptions& options) {
  const WorkOrder plan = PlanWork(files);
  const auto& groups = plan.groups;
  const auto& order = plan.order;
  const size_t pictures = plan.pictures;

  std::atomic<size_t> next{0};
  std::mutex mutex;
  std::vector<std::pair<size_t, FailedFile>> failures;
  size_t done = 0;
  const int total = static_cast<int>(files.size());
  const int skipped = total - static_cast<int>(pictures);

  auto work = [&] {
    Form1 own;
    own.Text1.set_text(form.Text1.text());
    own.Text2.set_text(form.Text2.text());
    own.Largeur.set_text(form.Largeur.text());
    own.set_Option1(form.Option1());
    own.Picture1.set_width(form.Picture1.width());
    int32_t h = 0;
    std::unique_ptr<dib::aDIBSection> dib;
    for (size_t k = next++; k < order.size(); k = next++) {
      for (size_t index : groups[order[k]]) {
        own.clear_failures();
        MakeOnePicture(own, files[index].name, inputs, h, dib);
        std::lock_guard lock(mutex);
        for (const FailedFile& f : own.failures()) {
          failures.push_back({index, f});
        }
        ++done;
      }
    }
  };
  RunWorkers(options.jobs, groups.size(), pictures, skipped, total, options,
             mutex, done, work);

  std::stable_sort(
      failures.begin(), failures.end(),
      [](const auto& a, const auto& b) { return a.first < b.first; });
  for (auto& f : failures) form.add_failure(std::move(f.second));
  if (pictures > 0) {
    form.set_caption(
        CountCaption(static_cast<int16_t>(std::min<size_t>(pictures, 32767))));
  }
}

// The width in `text` when it is a whole number of pixels a box can take.
std::optional<int32_t> WholeWidth(const std::u16string& text) {
  double w = platform::NumericValue(text);
  if (!(w >= 1 && w <= kMaxBoxSidePx) || w != std::floor(w)) return {};
  return static_cast<int32_t>(w);
}

// The two-size command with one load per picture. Returns false, having
// changed nothing, when it does not apply; the caller then runs the two
// batches.
bool RunTwoSizesOneLoad(Form1& form, const BatchOptions& options) {
  std::optional<int32_t> small = WholeWidth(form.petite.text());
  std::optional<int32_t> large = WholeWidth(form.grande.text());
  if (!small || !large || !form.Option1() || form.Option2()) return false;
  const std::u16string destination = form.Text2.text();
  const std::u16string large_destination = destination + u"Grand/";
  std::vector<platform::ListedFile> files;
  try {
    files = platform::ListFolder(form.Text1.text());
  } catch (const std::exception&) {
    return false;  // the two batches name the failure
  }
  for (const auto& f : files) {
    // A picture written as "Grand" would stand where the folder goes.
    if (!IsSkippedName(f.name) && OutputName(f.name) == u"Grand") return false;
  }
  const InputSet inputs(files);

  // What the window's fields hold after the command.
  form.Largeur.set_text(form.grande.text());
  form.Picture1.set_width(static_cast<float>(*large));
  form.Changed(Control::kPicture1);
  mkdir(platform::ToAnsi(large_destination).c_str(), 0777);  // may exist

  const WorkOrder plan = PlanWork(files);
  std::atomic<size_t> next{0};
  std::mutex mutex;
  std::vector<std::pair<size_t, FailedFile>> small_failures, large_failures;
  size_t done = 0;
  const int total = static_cast<int>(files.size());
  const int skipped = total - static_cast<int>(plan.pictures);
  const decoders::DecodeHint hint{std::max(*small, *large), 0};

  auto work = [&] {
    // One form per size, as each of the two batches would see it.
    Form1 forms[2];
    const std::u16string widths[2] = {form.petite.text(), form.grande.text()};
    const std::u16string* targets[2] = {&destination, &large_destination};
    const int32_t pixels[2] = {*small, *large};
    for (int k = 0; k < 2; ++k) {
      forms[k].Text1.set_text(form.Text1.text());
      forms[k].Text2.set_text(*targets[k]);
      forms[k].Largeur.set_text(widths[k]);
      forms[k].set_Option1(true);
      forms[k].Picture1.set_width(static_cast<float>(pixels[k]));
    }
    int32_t h[2] = {0, 0};
    std::unique_ptr<dib::aDIBSection> dib[2];
    for (size_t g = next++; g < plan.order.size(); g = next++) {
      for (size_t index : plan.groups[plan.order[g]]) {
        const std::u16string& name = files[index].name;
        std::u16string input_path = form.Text1.text() + name;
        platform::PicturePtr picture;
        std::string failure;
        try {
          picture = decoders::LoadPicture(input_path, hint);
        } catch (const std::exception& e) {
          failure = DescribeFailure(e);
        }
        std::vector<FailedFile> found[2];
        for (int k = 0; k < 2; ++k) {
          if (!picture) {
            found[k].push_back({input_path, failure});
            continue;
          }
          forms[k].clear_failures();
          MakeOnePicture(forms[k], name, inputs, h[k], dib[k], &picture);
          found[k] = forms[k].failures();
        }
        std::lock_guard lock(mutex);
        for (FailedFile& f : found[0]) small_failures.push_back({index, f});
        for (FailedFile& f : found[1]) large_failures.push_back({index, f});
        ++done;
      }
    }
  };
  RunWorkers(std::max(1, options.jobs), plan.groups.size(), plan.pictures,
             skipped, total, options, mutex, done, work);

  for (auto* list : {&small_failures, &large_failures}) {
    std::stable_sort(
        list->begin(), list->end(),
        [](const auto& a, const auto& b) { return a.first < b.first; });
    for (auto& f : *list) form.add_failure(std::move(f.second));
  }
  if (plan.pictures > 0) {
    form.set_caption(CountCaption(
        static_cast<int16_t>(std::min<size_t>(plan.pictures, 32767))));
  }
  form.set_caption(form.caption() + u" TERMINE !");
  return true;
}

}  // namespace

std::u16string CountCaption(int16_t count) {
  std::string digits = std::to_string(count);
  return u"photo : " + std::u16string(digits.begin(), digits.end());
}

void RunBatch(Form1& form, const BatchOptions& options) {
  // Before the loop a failure ends the run and goes to the caller.
  double w = platform::NumericValue(form.Largeur.text());
  form.Picture1.set_width(static_cast<float>(w));
  form.Changed(Control::kPicture1);
  std::vector<platform::ListedFile> files =
      platform::ListFolder(form.Text1.text());
  InputSet inputs(files);

  // Yields go to the window only when the pictures go one at a time on its
  // own boxes; h carried from picture to picture (the "hauteur" choice)
  // needs that order too.
  if (options.jobs <= 1 || form.Option2()) {
    RunSequential(form, files, inputs, options);
  } else {
    RunParallel(form, files, inputs, options);
  }
}

void RunTwoSizes(Form1& form, const BatchOptions& options) {
  if (options.one_load_for_both_sizes && RunTwoSizesOneLoad(form, options)) {
    return;
  }
  auto step = [](auto&& f) {
    try {
      f();
    } catch (const std::exception&) {
      // Every step runs, whatever failed before it.
    }
  };
  std::u16string saved_destination;
  // A run that fails before its loop is skipped like any other step, but
  // named among the failures, so that the command does not look successful.
  auto run = [&] {
    try {
      RunBatch(form, options);
    } catch (const platform::Error& e) {
      form.add_failure({form.Text1.text(), e.description()});
    }
  };
  step([&] { form.Largeur.set_text(form.petite.text()); });
  step(run);
  step([&] { form.Largeur.set_text(form.grande.text()); });
  step([&] {
    std::string folder = platform::ToAnsi(form.Text2.text() + u"Grand/");
    mkdir(folder.c_str(), 0777);  // fails when it exists: the run goes on
  });
  step([&] { saved_destination = form.Text2.text(); });
  step([&] { form.Text2.set_text(form.Text2.text() + u"Grand/"); });
  step(run);
  step([&] { form.set_caption(form.caption() + u" TERMINE !"); });
  step([&] { form.Text2.set_text(saved_destination); });
}

}  // namespace vg::app
