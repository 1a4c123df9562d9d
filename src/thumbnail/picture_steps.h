// File: thumbnail/picture_steps.h
//
// The steps of one picture, from its load to its thumbnails written, with
// what a front does between them. The engine runs them for every picture of
// a run, telling its events; the window runs them for each picture of its
// batch, showing the picture and the thumbnail in its boxes, reading its
// text boxes again and yielding between the steps.
//
//   class Steps : public PictureSteps { ... };  // LoadWidth, Height, ...
//   Steps steps;
//   MakePicture(u"/in/a.jpg", /*sets=*/2, steps);
//
// For each set, in turn: its height (or why it has none), the drawing of
// the picture at that size, its capture, and the JPEG written whole or not
// at all (thumbnail/make.h). A step that fails ends that set; a picture
// that cannot be read ends them all. Nothing raises.
#ifndef VG_THUMBNAIL_PICTURE_STEPS_H_
#define VG_THUMBNAIL_PICTURE_STEPS_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/picture.h"
#include "thumbnail/make.h"
#include "thumbnail/plan.h"

namespace vg::thumbnail {

// The set a failure to read the picture concerns: every one.
inline constexpr size_t kEverySet = static_cast<size_t>(-1);

// The height of one thumbnail, or why it has none.
struct Sized {
  int32_t height = 0;
  std::string why_not;  // empty when the height makes a thumbnail
};

// What one set draws, and where it is written.
struct Target {
  const platform::Picture* picture = nullptr;  // null: nothing to draw
  double width = 0;
  std::u16string output;
};

// What a front does at each step. Every hook runs on the thread that runs
// MakePicture; a hook that raises ends the steps by raising.
class PictureSteps {
 public:
  virtual ~PictureSteps() = default;

  // The runs' inputs: never replaced by a thumbnail.
  virtual const InputGuard& inputs() const = 0;
  // The width the picture is read for: that of its widest thumbnail. What
  // it raises is the picture's failure.
  virtual double LoadWidth() = 0;
  // The picture has been read.
  virtual void Loaded(const platform::PicturePtr& /*picture*/) {}
  // The height of set `set`'s thumbnail of `picture`, or why it has none.
  virtual Sized Height(size_t set, const platform::Picture& picture) = 0;
  // What set `set` draws (`loaded`, or what the front shows instead) at
  // which width, and where. What it raises is that set's failure.
  virtual Target ToDraw(size_t set, const platform::PicturePtr& loaded) = 0;
  // Set `set`'s drawing is done (empty when its area is); it is written
  // next.
  virtual void Drawn(size_t /*set*/, const Thumbnail& /*thumb*/) {}
  // Set `set`'s thumbnail has been written at `output`.
  virtual void Written(size_t set, const std::u16string& output,
                       const Thumbnail& thumb) = 0;
  // `path` (the input, or the output that could not be written) got no
  // thumbnail of set `set` (kEverySet: of any), for `reason`.
  virtual void Failed(size_t set, const std::u16string& path,
                      std::string reason) = 0;
  // The picture's steps are over, whatever came of them.
  virtual void Finished() {}
};

// Makes the `sets` thumbnails of the picture at `input`, telling `steps`.
void MakePicture(const std::u16string& input, size_t sets, PictureSteps& steps);

// The height of a thumbnail `width` wide of `picture`, in proportion, or
// why it has none: the rule of every set made by the engine.
Sized ProportionalSize(const platform::Picture& picture, double width);

}  // namespace vg::thumbnail

#endif  // VG_THUMBNAIL_PICTURE_STEPS_H_
