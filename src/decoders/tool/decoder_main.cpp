// vignettes-decoder: the decoder process the programs start, one per job
// (decoders/decoder_service.h). Not meant to be run by hand.
#include <cstdio>

#include "decoders/decoder_service.h"

int main(int argc, char** argv) {
  const auto options = vg::decoders::ParseDecoderArguments(argc, argv);
  if (!options) {
    std::fputs(
        "vignettes-decoder: started by vignettes, with --socket FD "
        "--memory-limit BYTES\n",
        stderr);
    return 2;
  }
  vg::decoders::ServeDecoder(*options);
}
