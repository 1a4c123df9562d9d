// File: cli/command_line.h
//
// The headless front end: the batch of the window, run from a shell with no
// display. It fills a window model that it never shows and runs the same
// generators over it.
//
//   vignettes --origin ~/photos --dest ~/thumbs --width 150
//   vignettes --origin ~/photos --dest ~/thumbs --small 100 --large 450
//
// Exit codes: 0 when every listed picture was written, 1 when some file could
// not be read or written, 2 for a usage error.
#ifndef VG_CLI_COMMAND_LINE_H_
#define VG_CLI_COMMAND_LINE_H_

namespace vg::cli {

// Returns true when the arguments ask for the command line rather than the
// window: any arguments except none at all and a single existing folder
// (followed through links, not starting with "-"), which the window opens
// in its origin box.
bool WantsCommandLine(int argc, char** argv);

// Runs the command line; returns the process exit code.
int RunCommandLine(int argc, char** argv);

}  // namespace vg::cli

#endif  // VG_CLI_COMMAND_LINE_H_
