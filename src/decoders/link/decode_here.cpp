// Decoding in this process, for the programs that may: the tests, the
// benchmarks and the decoder program.
#include <cstdint>
#include <span>

#include "decoders/decode_picture.h"
#include "decoders/internal/decode_budget.h"
#include "decoders/internal/picture_file.h"

namespace vg::decoders {

namespace decoders_internal {

DecodedImage DecodeWithoutProcesses(int fd, int64_t length,
                                    const DecodeHint& hint) {
  return DecodeOpenPictureFile(fd, length, hint, SharedDecodeBudget());
}

}  // namespace decoders_internal

DecodedImage DecodePictureBytes(std::span<const uint8_t> bytes,
                                const DecodeHint& hint) {
  return decoders_internal::DecodeBytes(
      bytes, hint, decoders_internal::SharedDecodeBudget());
}

}  // namespace vg::decoders
