// Feeds arbitrary bytes straight to the camera RAW reader, past the
// recognition of formats by their first bytes, so that every input reaches
// libraw (decoder_fuzz_check.h says what is checked). An input libraw does
// not take for a RAW counts as an invalid picture. Seeds: fuzz/corpus/
// decoders_raw/.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>

#include "decoder_fuzz_check.h"
#include "decoders/internal/decode_budget.h"
#include "decoders/internal/picture_error.h"
#include "decoders/internal/raw_decoder.h"
#include "platform/error.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return vg::fuzz::FuzzDecoder(
      [](std::span<const uint8_t> bytes, const vg::decoders::DecodeHint& hint,
         vg::decoders::decoders_internal::DecodeBudget& budget) {
        namespace internal = vg::decoders::decoders_internal;
        std::optional<vg::decoders::DecodedImage> image =
            internal::DecodeRaw(bytes, hint, budget);
        if (!image) {
          internal::RaisePictureError(vg::platform::kErrInvalidPicture);
        }
        return std::move(*image);
      },
      data, size);
}
