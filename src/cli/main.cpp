// The command line alone, for builds without the window.
#include "cli/command_line.h"
#include "decoders/decode_picture.h"

int main(int argc, char** argv) {
  vg::decoders::TuneAllocatorForBatches();
  return vg::cli::RunCommandLine(argc, argv);
}
