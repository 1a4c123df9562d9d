// Feeds arbitrary bytes straight to the TIFF reader (libtiff alone, never
// libraw), past the recognition of formats by their first bytes, so that every
// input reaches it (decoder_fuzz_check.h says what is checked). Seeds:
// fuzz/corpus/ decoders_tiff/.
#include <cstddef>
#include <cstdint>

#include "decoder_fuzz_check.h"
#include "decoders/internal/tiff_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return vg::fuzz::FuzzDecoder(vg::decoders::decoders_internal::DecodeTiff,
                               data, size);
}
