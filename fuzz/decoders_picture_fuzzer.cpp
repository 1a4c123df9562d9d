// Feeds arbitrary bytes to the picture decoders through DecodePictureBytes,
// which picks the reader by the first bytes (decoder_fuzz_check.h says what
// is checked). Large claimed sizes are decoded like any other, within the
// decoders' own limits and their shared budget.
#include <cstddef>
#include <cstdint>

#include "decoder_fuzz_check.h"
#include "decoders/decode_picture.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return vg::fuzz::FuzzDecoder(
      [](std::span<const uint8_t> bytes, const vg::decoders::DecodeHint& hint) {
        return vg::decoders::DecodePictureBytes(bytes, hint);
      },
      data, size);
}
