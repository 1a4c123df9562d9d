// Points the programs' decoder processes, started from a test, at the
// decoder program of this build (the tests do not lie beside it).
#include <cstdlib>

namespace {

const bool decoder_program_set = [] {
  return setenv("VIGNETTES_DECODER", VG_DECODER_EXE, 0) == 0;
}();

}  // namespace
