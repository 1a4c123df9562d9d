#include "app/batch_generator.h"

#include <exception>
#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "platform/checked.h"
#include "platform/code_page.h"
#include "platform/error.h"
#include "platform/folder_listing.h"
#include "platform/numeric_text.h"
#include "thumbnail/engine.h"
#include "thumbnail/make.h"
#include "thumbnail/picture_steps.h"
#include "thumbnail/plan.h"

namespace vg::app {
namespace {

// What one run keeps from picture to picture.
struct RunState {
  explicit RunState(const std::vector<platform::ListedFile>& files)
      : inputs(files) {}
  thumbnail::InputGuard inputs;
  int32_t h = 0;  // carried to the next picture when no height is computed
  // Which input each output path of this run holds.
  std::map<std::u16string, std::u16string> written;
};

// The window's side of one picture's steps: the picture and its thumbnail
// shown in the form's picture boxes, the text boxes read again at each
// step, a yield after each.
class WindowSteps final : public thumbnail::PictureSteps {
 public:
  WindowSteps(Form1& form, std::u16string listed_name, RunState& run)
      : form_(form),
        listed_name_(std::move(listed_name)),
        input_(form.Text1.text() + listed_name_),
        run_(run) {}

  const thumbnail::InputGuard& inputs() const override { return run_.inputs; }

  double LoadWidth() override {
    return platform::NumericValue(form_.Largeur.text());
  }

  void Loaded(const platform::PicturePtr& picture) override {
    form_.Picture2.set_picture(picture);
    form_.Changed(Control::kPicture2);
    form_.Yield();
  }

  // The height computed when the proportional option is chosen, else the
  // last one; why it makes no thumbnail, if it was computed and does not.
  thumbnail::Sized Height(size_t /*set*/,
                          const platform::Picture& /*picture*/) override {
    std::string bad_height;
    if (form_.Option1()) {
      try {
        double w = platform::NumericValue(form_.Largeur.text());
        int32_t h = thumbnail::ProportionalHeight(form_.Picture2.width(),
                                                  form_.Picture2.height(), w);
        bad_height = thumbnail::CheckHeight(w, h);
        // A height no box can take is not kept (the box would refuse it).
        if (h <= thumbnail::kMaxSidePx) run_.h = h;
      } catch (const std::exception&) {
        // h keeps the previous picture's value.
      }
    }
    try {
      form_.Picture1.set_height(static_cast<float>(run_.h));
      form_.Changed(Control::kPicture1);
    } catch (const std::exception&) {
    }
    form_.Yield();
    return {run_.h, std::move(bad_height)};
  }

  // Picture2's picture as it is now (a command clicked during a yield may
  // have put another one there), at the width typed now.
  thumbnail::Target ToDraw(size_t /*set*/,
                           const platform::PicturePtr& /*loaded*/) override {
    shown_ = form_.Picture2.picture();
    const double w = platform::NumericValue(form_.Largeur.text());
    return {shown_.get(), w,
            form_.Text2.text() + thumbnail::OutputName(listed_name_)};
  }

  void Drawn(size_t /*set*/, const thumbnail::Thumbnail& thumb) override {
    form_.Picture1.set_picture(thumb.picture);
    form_.Changed(Control::kPicture1);
  }

  void Written(size_t /*set*/, const std::u16string& output,
               const thumbnail::Thumbnail& /*thumb*/) override {
    auto [it, fresh] = run_.written.try_emplace(output, input_);
    if (!fresh) {
      form_.add_failure({it->second, thumbnail::ReplacedReason(input_)});
      it->second = input_;
    }
  }

  void Failed(size_t /*set*/, const std::u16string& path,
              std::string reason) override {
    form_.add_failure({path, std::move(reason)});
  }

  void Finished() override { form_.Yield(); }

  const std::u16string& input() const { return input_; }

 private:
  Form1& form_;
  const std::u16string listed_name_;
  const std::u16string input_;  // the folder read when the picture began
  RunState& run_;
  platform::PicturePtr shown_;
};

// The steps of one picture, from its load to its save, on the form's
// picture boxes.
void MakeOnePicture(Form1& form, const std::u16string& listed_name,
                    RunState& run) {
  WindowSteps steps(form, listed_name, run);
  thumbnail::MakePicture(steps.input(), 1, steps);
}

bool IsSkipped(const std::u16string& name) {
  return thumbnail::IsSkippedName(name);
}

}  // namespace

std::u16string CountCaption(int16_t count) {
  std::string digits = std::to_string(count);
  return u"photo : " + std::u16string(digits.begin(), digits.end());
}

void RunBatch(Form1& form) {
  // Before the loop a failure ends the run and goes to the caller.
  double w = platform::NumericValue(form.Largeur.text());
  form.Picture1.set_width(static_cast<float>(w));
  form.Changed(Control::kPicture1);
  // The listing is taken whole: files the run writes are never read back.
  std::vector<platform::ListedFile> files =
      platform::ListFolder(form.Text1.text());

  RunState run(files);
  int16_t count = 0;
  for (const platform::ListedFile& file : files) {
    if (form.stop_requested()) break;
    if (IsSkipped(file.name)) continue;
    try {
      count = platform::CheckedAdd16(count, 1);
    } catch (const platform::Error&) {
      // The count stays at its largest value.
    }
    form.set_caption(CountCaption(count));
    MakeOnePicture(form, file.name, run);
  }
}

void RunTwoSizes(Form1& form) {
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
      RunBatch(form);
    } catch (const platform::Error& e) {
      form.add_failure({form.Text1.text(), e.description()});
    }
  };
  step([&] { form.Largeur.set_text(form.petite.text()); });
  step(run);
  step([&] { form.Largeur.set_text(form.grande.text()); });
  step([&] {
    // Fails when it exists, or when the destination is missing: the run
    // goes on.
    thumbnail::MakeFolder(platform::ToAnsi(form.Text2.text() + u"Grand/"));
  });
  step([&] { saved_destination = form.Text2.text(); });
  step([&] { form.Text2.set_text(form.Text2.text() + u"Grand/"); });
  step(run);
  step([&] { form.set_caption(form.caption() + u" TERMINE !"); });
  step([&] { form.Text2.set_text(saved_destination); });
}

}  // namespace vg::app
