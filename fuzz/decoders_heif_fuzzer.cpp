// Feeds arbitrary bytes straight to the HEIF/AVIF reader, past the
// recognition of formats by their first bytes, so that every input reaches
// it (decoder_fuzz_check.h says what is checked). Seeds: fuzz/corpus/
// decoders_heif/.
#include <cstddef>
#include <cstdint>

#include "decoder_fuzz_check.h"
#include "decoders/internal/heif_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return vg::fuzz::FuzzDecoder(vg::decoders::decoders_internal::DecodeHeif,
                               data, size);
}
