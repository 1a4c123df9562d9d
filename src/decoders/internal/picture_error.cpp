#include "decoders/internal/picture_error.h"

#include <string>
#include <utility>

#include "decoders/decode_picture.h"
#include "platform/error.h"

namespace vg::decoders::decoders_internal {

void RaisePictureError(int32_t number) {
  throw platform::Error::Standard(number, platform::ProgramName());
}

void RaiseInvalidPicture(std::string_view reason) {
  // On one line, whatever the library's message ends with: a report gives
  // each failure one line.
  std::string line(reason);
  for (char& c : line) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
  }
  while (!line.empty() && line.back() == ' ') line.pop_back();
  std::string description =
      platform::StandardDescription(platform::kErrInvalidPicture);
  description += " (";
  description += line;
  description += ")";
  throw platform::Error(platform::kErrInvalidPicture, platform::ProgramName(),
                        std::move(description));
}

bool IsUnexplained(const platform::Error& error) {
  return error.number() == platform::kErrInvalidPicture &&
         error.description() ==
             platform::StandardDescription(platform::kErrInvalidPicture);
}

void RaisePictureTooLarge(int64_t width, int64_t height,
                          std::string_view reason) {
  std::string description = "Picture too large: " + std::to_string(width) +
                            " \u00D7 " + std::to_string(height);
  if (!reason.empty()) {
    description += " (";
    description += reason;
    description += ")";
  }
  throw platform::Error(platform::kErrOutOfMemory, platform::ProgramName(),
                        description);
}

void CheckPictureSides(int64_t width, int64_t height) {
  if (width <= 0 || height <= 0) {
    RaiseInvalidPicture("a size of " + std::to_string(width) + " \u00D7 " +
                        std::to_string(height));
  }
  if (width > kMaxPictureSidePx || height > kMaxPictureSidePx) {
    RaisePictureTooLarge(
        width, height,
        "over " + std::to_string(kMaxPictureSidePx) + " pixels a side");
  }
}

void CheckDecodedPixels(int64_t width, int64_t height, int64_t pixel_width,
                        int64_t pixel_height) {
  if (pixel_width * pixel_height > kMaxPicturePixels) {
    RaisePictureTooLarge(
        width, height,
        "decoded at " + std::to_string(pixel_width) + " \u00D7 " +
            std::to_string(pixel_height) + ", over the " +
            std::to_string(kMaxPicturePixels / 1000000) + "-megapixel limit");
  }
}

void CheckPictureSize(int64_t width, int64_t height) {
  CheckPictureSides(width, height);
  CheckDecodedPixels(width, height, width, height);
}

}  // namespace vg::decoders::decoders_internal
