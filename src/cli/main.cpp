// The command line alone, for builds without the window.
#include "cli/command_line.h"

int main(int argc, char** argv) { return vg::cli::RunCommandLine(argc, argv); }
