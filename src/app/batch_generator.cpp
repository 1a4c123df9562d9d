#include "app/batch_generator.h"

#include <sys/stat.h>

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
#include "thumbnail/plan.h"

namespace vg::app {
namespace {

// What one run keeps from picture to picture.
struct RunState {
  explicit RunState(const std::vector<platform::ListedFile>& files)
      : inputs(files) {}
  thumbnail::InputGuard inputs;
  int32_t h = 0;  // carried to the next picture when no height is computed
  // The capture of the last picture, released when the next one replaces it.
  std::unique_ptr<thumbnail::Thumbnail> last;
  // Which input each output path of this run holds.
  std::map<std::u16string, std::u16string> written;
};

// The steps of one picture, from its load to its save, on the form's
// picture boxes.
void MakeOnePicture(Form1& form, const std::u16string& listed_name,
                    RunState& run) {
  const std::u16string input_path = form.Text1.text() + listed_name;
  try {
    form.Picture2.set_picture(thumbnail::LoadPicture(
        input_path, platform::NumericValue(form.Largeur.text())));
    form.Changed(Control::kPicture2);
  } catch (const std::exception& e) {
    // Counted and skipped: nothing is written for a file that does not load.
    form.add_failure({input_path, thumbnail::DescribeFailure(e)});
    form.Yield();
    return;
  }
  form.Yield();

  // Why the height computed for this picture makes no thumbnail, if it
  // does not: nothing is drawn or written for it then.
  std::string bad_height;
  if (form.Option1()) {
    try {
      double w = platform::NumericValue(form.Largeur.text());
      int32_t h = thumbnail::ProportionalHeight(form.Picture2.width(),
                                                form.Picture2.height(), w);
      bad_height = thumbnail::CheckHeight(w, h);
      // A height no box can take is not kept (the box would refuse it).
      if (h <= thumbnail::kMaxSidePx) run.h = h;
    } catch (const std::exception&) {
      // h keeps the previous picture's value.
    }
  }
  try {
    form.Picture1.set_height(static_cast<float>(run.h));
    form.Changed(Control::kPicture1);
  } catch (const std::exception&) {
  }
  form.Yield();
  if (!bad_height.empty()) {
    form.add_failure({input_path, std::move(bad_height)});
    form.Yield();
    return;
  }

  // Picture2's picture as it is now: a command clicked during a yield may
  // have put another one there.
  const platform::PicturePtr picture = form.Picture2.picture();
  run.last.reset();  // releases the last capture
  try {
    if (!picture) {
      throw platform::Error::Standard(platform::kErrObjectNotSet, "Render");
    }
    double w = platform::NumericValue(form.Largeur.text());
    auto thumb = std::make_unique<thumbnail::Thumbnail>(
        thumbnail::Render(*picture, thumbnail::GeometryFor(w, run.h)));
    form.Picture1.set_picture(thumb->picture);
    form.Changed(Control::kPicture1);
    run.last = std::move(thumb);
  } catch (const std::exception&) {
  }
  // A failing name step leaves the listed name.
  const std::u16string output_path =
      form.Text2.text() + thumbnail::OutputName(listed_name);
  if (!run.last || run.last->dib.hDib() == 0) {
    form.add_failure({input_path, thumbnail::NothingCaptured(run.h)});
  } else if (std::string why =
                 thumbnail::Write(run.last->dib, output_path, run.inputs);
             !why.empty()) {
    form.add_failure({output_path, std::move(why)});
  } else {
    auto [it, fresh] = run.written.try_emplace(output_path, input_path);
    if (!fresh) {
      form.add_failure({it->second, thumbnail::ReplacedReason(input_path)});
      it->second = input_path;
    }
  }
  form.Yield();
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
