// Feeds arbitrary bytes to the EMF reader alone, so that every mutation
// stays a EMF to it; metafile_fuzz_check.h says what is checked.
#include <cstddef>
#include <cstdint>

#include "decoders/internal/emf_player.h"
#include "metafile_fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return vg::fuzz::FuzzMetafile(vg::decoders::decoders_internal::DecodeEmf,
                                data, size);
}
