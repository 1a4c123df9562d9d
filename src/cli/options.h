// File: cli/options.h
//
// The arguments of the command line, read the way every GNU tool reads them
// (glibc getopt_long): "--origin=DIR" or "--origin DIR", "-j4" or "-j 4",
// short flags grouped ("-qj 2"), "--" ending the options, and a long option
// shortened to any prefix that names only one ("--ori"). Nothing is printed
// and nothing on disk is looked at: the caller decides what to do with the
// options or with the problem.
//
//   ParsedOptions parsed = ParseOptions(argc, argv);
//   if (auto* problem = std::get_if<UsageProblem>(&parsed)) { ... }
//   const Options& options = std::get<Options>(parsed);
//
// Not thread-safe: getopt_long keeps its position in globals (optind...),
// which every call starts afresh.
#ifndef VG_CLI_OPTIONS_H_
#define VG_CLI_OPTIONS_H_

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "thumbnail/desktop_cache.h"

namespace vg::cli {

// What the command line asks for.
enum class Request {
  kBatch,    // run the batch with the options below
  kHelp,     // print the usage (-h, --help)
  kVersion,  // print the version (--version)
};

// The options of one run, checked: with kBatch, origin and dest are given,
// and either width or both small and large hold a width of 1 to 65535
// pixels, as typed; or, with cache_sizes, origin alone.
struct Options {
  Request request = Request::kBatch;
  std::string origin;
  std::string dest;
  std::optional<std::string> width, small, large;
  int jobs = 0;  // 1 to 256; 0 when not given (one per core)
  bool quiet = false;
  bool recursive = false;  // -r, --recursive
  bool update = false;     // -u, --update
  // --shard K/N, or as the scheduler's environment gives it (ReadShard).
  uint64_t shard_index = 0;
  uint64_t shard_count = 1;
  std::optional<std::string> report;      // --report FILE
  std::optional<std::string> files_from;  // --files-from FILE ("-": stdin)
  bool null_separated = false;            // -0, --null
  double decode_timeout_seconds = 20;     // --decode-timeout SECONDS
  // --cache[=SIZES]: the desktop cache's sizes to fill (then dest and the
  // widths are not given).
  std::optional<std::vector<thumbnail::CacheSize>> cache_sizes;
};

// A command line that cannot run.
struct UsageProblem {
  std::string message;  // one line, without the program's name
  int exit_code = 2;
};

using ParsedOptions = std::variant<Options, UsageProblem>;

// Reads argv[1..argc-1]; argv itself is left in its order (getopt_long
// reorders a copy). Help and version are answered as soon as they are met,
// unless an option before them was wrong; a word that is no option is
// refused only once every option has been read, so "vignettes x --help"
// prints the help.
[[nodiscard]] ParsedOptions ParseOptions(int argc, char* const* argv);

// Reads the value of --shard: "K/N" (the K-th of N shards, 0 <= K < N);
// "auto", a Slurm array task (K = (SLURM_ARRAY_TASK_ID -
// SLURM_ARRAY_TASK_MIN) / SLURM_ARRAY_TASK_STEP, N =
// SLURM_ARRAY_TASK_COUNT); or "auto/N", K from JOB_COMPLETION_INDEX (a
// Kubernetes indexed Job), else from a Slurm array task. Returns an empty
// text when read, else the problem.
[[nodiscard]] std::string ReadShard(const std::string& text, uint64_t* index,
                                    uint64_t* count);

// Returns the text of --help, ending with a newline.
[[nodiscard]] const char* UsageText();

}  // namespace vg::cli

#endif  // VG_CLI_OPTIONS_H_
