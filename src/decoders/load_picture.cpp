#include "decoders/load_picture.h"

#include <utility>

#include "decoders/internal/picture_error.h"
#include "platform/error.h"
#include "platform/gdi.h"

namespace vg::decoders {

platform::PicturePtr LoadPicture(std::u16string_view path,
                                 const DecodeHint& hint) {
  DecodedImage image = DecodePictureFile(path, hint);
  // The bitmap adopts the decoded buffer; our sizes are within its limits,
  // so a refusal can only mean that memory ran out.
  platform::HBITMAP bitmap = platform::CreateBitmapFromPixels(
      image.pixel_width, image.pixel_height, std::move(image.bgrx),
      image.stride_bytes);
  if (bitmap == 0) {
    decoders_internal::RaisePictureError(platform::kErrOutOfMemory);
  }
  platform::PicturePtr picture = platform::MakePicture(
      bitmap, image.width, image.height,
      {image.area.x, image.area.y, image.area.width, image.area.height});
  if (!picture) decoders_internal::RaisePictureError(platform::kErrOutOfMemory);
  return picture;
}

}  // namespace vg::decoders
