#include "thumbnail/picture_steps.h"

#include <exception>
#include <utility>

namespace vg::thumbnail {
namespace {

// One set's steps after its height.
void MakeSet(size_t set, const std::u16string& input,
             const platform::PicturePtr& loaded, int32_t height,
             PictureSteps& steps) {
  Target target;
  Thumbnail thumb;
  try {
    target = steps.ToDraw(set, loaded);
    if (target.picture == nullptr) {
      steps.Failed(set, input, NothingCaptured(height));
      return;
    }
    thumb = Render(*target.picture, GeometryFor(target.width, height));
  } catch (const std::exception& e) {
    steps.Failed(set, input, DescribeFailure(e));
    return;
  }
  steps.Drawn(set, thumb);
  if (thumb.dib.hDib() == 0) {
    steps.Failed(set, input, NothingCaptured(height));
  } else if (std::string why = Write(thumb.dib, target.output, steps.inputs());
             !why.empty()) {
    steps.Failed(set, target.output, std::move(why));
  } else {
    steps.Written(set, target.output, thumb);
  }
}

}  // namespace

void MakePicture(const std::u16string& input, size_t sets,
                 PictureSteps& steps) {
  platform::PicturePtr picture;
  try {
    picture = LoadPicture(input, steps.LoadWidth());
  } catch (const std::exception& e) {
    // Nothing is written for a file that does not load.
    steps.Failed(kEverySet, input, DescribeFailure(e));
    steps.Finished();
    return;
  }
  steps.Loaded(picture);
  for (size_t set = 0; set < sets; ++set) {
    Sized size = steps.Height(set, *picture);
    if (!size.why_not.empty()) {
      steps.Failed(set, input, std::move(size.why_not));
      continue;
    }
    MakeSet(set, input, picture, size.height, steps);
  }
  steps.Finished();
}

Sized ProportionalSize(const platform::Picture& picture, double width) {
  Sized size;
  try {
    size.height = ProportionalHeight(picture.Width(), picture.Height(), width);
  } catch (const std::exception& e) {
    size.why_not = DescribeFailure(e);
    return size;
  }
  size.why_not = CheckHeight(width, size.height);
  return size;
}

}  // namespace vg::thumbnail
