// Feeds arbitrary bytes to the WMF reader alone, so that every mutation
// stays a WMF to it; metafile_fuzz_check.h says what is checked.
#include <cstddef>
#include <cstdint>

#include "decoders/internal/wmf_reader.h"
#include "metafile_fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return vg::fuzz::FuzzMetafile(vg::decoders::decoders_internal::DecodeWmf,
                                data, size);
}
