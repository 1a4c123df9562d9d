// File: cli/command_line.h
//
// The headless front end: the window's batch, run from a shell with no
// display, straight over the thumbnail engine (thumbnail/engine.h). Asked
// the same job as the window, it writes the same files.
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
// window: any arguments except none at all and existing folders or files
// only (followed through links, not starting with "-"); the window opens the
// first of them in its origin box (a file, its folder).
bool WantsCommandLine(int argc, char** argv);

// Runs the command line; returns the process exit code.
int RunCommandLine(int argc, char** argv);

}  // namespace vg::cli

#endif  // VG_CLI_COMMAND_LINE_H_
