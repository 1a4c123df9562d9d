// Feeds arbitrary bytes to the picture decoders as DecodePictureBytes does,
// picking the reader by the first bytes (decoder_fuzz_check.h says what is
// checked). Large claimed sizes are decoded like any other, within the
// decoders' own limits and their budget.
#include <cstddef>
#include <cstdint>

#include "decoder_fuzz_check.h"
#include "decoders/decode_picture.h"
#include "decoders/internal/decode_budget.h"
#include "decoders/internal/picture_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return vg::fuzz::FuzzDecoder(
      [](std::span<const uint8_t> bytes, const vg::decoders::DecodeHint& hint,
         vg::decoders::decoders_internal::DecodeBudget& budget) {
        return vg::decoders::decoders_internal::DecodeBytes(bytes, hint,
                                                            budget);
      },
      data, size);
}
