// For the fronts: a picture is decoded in a decoder process or not at all.
// Nothing here reaches a decoder, so the program links none of them.
#include <cstdint>

#include "decoders/decode_picture.h"
#include "decoders/internal/picture_error.h"
#include "decoders/internal/picture_file.h"

namespace vg::decoders::decoders_internal {

DecodedImage DecodeWithoutProcesses(int /*fd*/, int64_t /*length*/,
                                    const DecodeHint& /*hint*/) {
  RaiseInvalidPicture(
      "not decoded: this program decodes pictures only in decoder "
      "processes, and none was started");
}

}  // namespace vg::decoders::decoders_internal
