#include "cli/options.h"

#include <getopt.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "decoders/picture_formats.h"
#include "platform/code_page.h"
#include "platform/error.h"
#include "platform/numeric_text.h"
#include "thumbnail/desktop_cache.h"

namespace vg::cli {
namespace {

constexpr const char* kUsageHead =
    "Usage: vignettes --origin DIR --dest DIR --width W [OPTION]...\n"
    "       vignettes --origin DIR --dest DIR --small S --large L [OPTION]...\n"
    "       vignettes --origin DIR --cache[=SIZES] [OPTION]...\n"
    "       vignettes [FOLDER]   (opens the window, on FOLDER if given)\n"
    "\n";

// The paragraph between them, around the list of formats read, is filled to
// kUsageColumns.
constexpr const char* kFormatsBefore = "Writes every picture of DIR (";
constexpr const char* kFormatsAfter =
    ") as a quality-90 JPEG scaled to the given width, its height in "
    "proportion, under a file name made safe for any file system. The format "
    "is told by a file's content, not its name.";
constexpr size_t kUsageColumns = 72;

constexpr const char* kUsageTail =
    "\n"
    "  --origin DIR   folder of pictures to read (a pattern such as\n"
    "                 DIR/*.jpg limits it to the matching names)\n"
    "  --dest DIR     folder to write into; made when missing\n"
    "  --width W      one set, W pixels wide\n"
    "  --small S      two sets: S pixels wide into DIR,\n"
    "  --large L      and L pixels wide into DIR/Grand/\n"
    "  --cache[=SIZES]  fill the desktop's thumbnail cache instead\n"
    "                 ($XDG_CACHE_HOME/thumbnails/, else "
    "~/.cache/thumbnails/)\n"
    "                 as file managers read it: a PNG a picture and a size,\n"
    "                 all from one decode. SIZES: a comma list of normal\n"
    "                 (128), large (256), x-large (512), xx-large (1024);\n"
    "                 default normal,large. A picture that cannot be read\n"
    "                 gets a failure entry; with -u valid entries stay\n"
    "  -j, --jobs N   pictures made at once (default: the number of cores);\n"
    "                 the files written are the same for every N\n"
    "  -q, --quiet    no progress bar and no summary: failures only\n"
    "  -r, --recursive  also every folder below DIR, each into its mirror\n"
    "                 below the destination (names made safe, Grand/ in\n"
    "                 each); links followed once, the destination skipped\n"
    "  -u, --update   leave a picture whose every thumbnail is there and\n"
    "                 not older than it (counted \"up to date\")\n"
    "  --shard K/N    make only the K-th of N shares (0 <= K < N) of the\n"
    "                 pictures; N runs together make them all, into one\n"
    "                 destination if need be\n"
    "  --shard auto   K and N of a Slurm array task (SLURM_ARRAY_TASK_*)\n"
    "  --shard auto/N K of a Kubernetes indexed Job (JOB_COMPLETION_INDEX)\n"
    "  --report FILE  one JSON line a picture: input, outputs, status\n"
    "                 (written, failed, up-to-date), reason, ms\n"
    "  --files-from FILE  only the pictures named in FILE, one path a line\n"
    "                 (\"-\": standard input)\n"
    "  -0, --null     --files-from names are ended by NUL, not newline\n"
    "  --decode-timeout SECONDS  a picture whose decoder takes longer fails\n"
    "                 (default: 20)\n"
    "  -h, --help     this text\n"
    "  --version      the version\n"
    "\n"
    "A value follows its option as the next word or after '=', a short\n"
    "option's value may be glued to it (-j4), short options may be grouped\n"
    "(-qj 2), and a long option may be shortened while it stays unique:\n"
    "\n"
    "  vignettes --origin=photos --dest=thumbs --width=150 -qj2\n"
    "\n"
    "A tree of albums, again after adding photos, as the 2nd of 4 shares,\n"
    "then only the pictures that failed:\n"
    "\n"
    "  vignettes -ru --origin ~/Photos --dest ~/web --small 100 --large 450\n"
    "  vignettes -r --origin ~/Photos --dest ~/web --width 150 --shard 1/4\n"
    "  vignettes -r --origin in --dest out --width 150 --report run.jsonl\n"
    "  vignettes --cache -ru --origin ~/Pictures   (before opening them)\n"
    "  jq -j 'select(.status==\"failed\") | .input + \"\\u0000\"' run.jsonl |\n"
    "    vignettes -r --origin in --dest out --width 150 -0 --files-from -\n"
    "\n"
    "Pictures are decoded in separate, confined decoder processes: one\n"
    "that crashes, hangs or runs out of memory fails its own picture only\n"
    "(\"decoder crashed (signal 11)\"); --version tells the confinement.\n"
    "\n"
    "Every file that could not be read or written is named on stderr with\n"
    "its reason; a summary line ends the run (\"40 pictures: 38 written,\n"
    "2 failed, 0.6 s\"; with --update, \"... 30 written, 8 up to date, "
    "...\").\n"
    "\n"
    "Exit status: 0 every picture written (or up to date), 1 some file could\n"
    "not be read or written, 2 usage error (nothing is touched).\n";

// getopt_long's codes for the options without a short form; above every
// character, so none can be mistaken for one.
enum LongOnly : int {
  kOrigin = 256,
  kDest,
  kWidth,
  kSmall,
  kLarge,
  kVersionCode,
  kShard,
  kReport,
  kFilesFrom,
  kDecodeTimeout,
  kCache,
};

// The leading ':' makes a missing value come back as ':' rather than '?'.
constexpr const char* kShortOptions = ":hqj:ru0";

constexpr option kLongOptions[] = {
    {"origin", required_argument, nullptr, kOrigin},
    {"dest", required_argument, nullptr, kDest},
    {"width", required_argument, nullptr, kWidth},
    {"small", required_argument, nullptr, kSmall},
    {"large", required_argument, nullptr, kLarge},
    {"jobs", required_argument, nullptr, 'j'},
    {"quiet", no_argument, nullptr, 'q'},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, kVersionCode},
    {"recursive", no_argument, nullptr, 'r'},
    {"update", no_argument, nullptr, 'u'},
    {"shard", required_argument, nullptr, kShard},
    {"report", required_argument, nullptr, kReport},
    {"files-from", required_argument, nullptr, kFilesFrom},
    {"null", no_argument, nullptr, '0'},
    {"decode-timeout", required_argument, nullptr, kDecodeTimeout},
    {"cache", optional_argument, nullptr, kCache},
    // "--d" and "--de" meant --dest before --decode-timeout came, and
    // still do.
    {"d", required_argument, nullptr, kDest},
    {"de", required_argument, nullptr, kDest},
    {nullptr, 0, nullptr, 0},
};

const option* LongOptionFor(int code) {
  for (const option& o : kLongOptions) {
    if (o.name != nullptr && o.val == code) return &o;
  }
  return nullptr;
}

// Returns the option of `code` as the user wrote it: "-j" when the word
// was a short option or a group of them, "--jobs" (the full name, even when
// a prefix was typed) when it was a long one.
std::string OptionName(int code, const char* word) {
  const option* long_option = LongOptionFor(code);
  bool typed_long = word != nullptr && std::strncmp(word, "--", 2) == 0;
  if (long_option != nullptr && (typed_long || code >= kOrigin)) {
    return std::string("--") + long_option->name;
  }
  return std::string("-") + static_cast<char>(code);
}

bool IsWidth(const std::string& text) {
  double w = 0;
  try {
    w = platform::NumericValue(platform::FromAnsi(text));
  } catch (const platform::Error&) {
    return false;
  }
  return w >= 1 && w <= 65535;
}

// Reads a decimal count without sign or blank.
bool ReadCount(const std::string& text, uint64_t* value) {
  if (text.empty() || text.size() > 18 ||
      text.find_first_not_of("0123456789") != std::string::npos) {
    return false;
  }
  *value = std::strtoull(text.c_str(), nullptr, 10);
  return true;
}

// Reads an environment variable holding a count; false when unset.
bool EnvironmentCount(const char* name, uint64_t* value, std::string* problem) {
  const char* text = std::getenv(name);
  if (text == nullptr) return false;
  if (!ReadCount(text, value)) {
    *problem = std::string(name) + "='" + text + "' is not a count";
  }
  return true;
}

// K of a Slurm array task, whose ids may start anywhere and step by more
// than one (--array=1-8, --array=0-30:10). A list of ids (--array=1,3,7) is
// refused by every task alike, before anything is made: Slurm tells a list
// as the step 1 between its least and greatest id, so only the count shows
// that ids are missing, and a share nobody makes would be lost silently.
bool SlurmIndex(uint64_t* index, uint64_t* count, std::string* problem) {
  uint64_t id = 0, min = 0, max = 0, step = 1;
  if (!EnvironmentCount("SLURM_ARRAY_TASK_ID", &id, problem)) return false;
  if (!problem->empty()) return true;
  for (const auto& [name, value] : {std::pair{"SLURM_ARRAY_TASK_COUNT", count},
                                    std::pair{"SLURM_ARRAY_TASK_MIN", &min},
                                    std::pair{"SLURM_ARRAY_TASK_MAX", &max}}) {
    if (!EnvironmentCount(name, value, problem)) {
      *problem = std::string("SLURM_ARRAY_TASK_ID is set but not ") + name +
                 ": give --shard K/N";
      return true;
    }
    if (!problem->empty()) return true;
  }
  if (EnvironmentCount("SLURM_ARRAY_TASK_STEP", &step, problem) &&
      !problem->empty()) {
    return true;
  }
  uint64_t last = 0;
  const bool one_range = *count > 0 && step > 0 &&
                         !__builtin_mul_overflow(*count - 1, step, &last) &&
                         !__builtin_add_overflow(last, min, &last) &&
                         last == max;
  if (!one_range) {
    *problem = "the Slurm array task ids are not one range (" +
               std::to_string(*count) + " tasks from " + std::to_string(min) +
               " to " + std::to_string(max) + " by " + std::to_string(step) +
               "): submit the array as a range, --array=A-B or --array=A-B:S, "
               "or give each task --shard K/N yourself";
    return true;
  }
  if (id < min || id > max || (id - min) % step != 0) {
    *problem = "SLURM_ARRAY_TASK_ID=" + std::to_string(id) +
               " is not in the array's range (" + std::to_string(min) + "-" +
               std::to_string(max) + ":" + std::to_string(step) +
               "): give --shard K/N";
    return true;
  }
  *index = (id - min) / step;
  return true;
}

UsageProblem Problem(std::string message) {
  return UsageProblem{std::move(message), 2};
}

// Checks what no single option can: the set of options given together.
ParsedOptions CheckTogether(Options options) {
  if (options.cache_sizes) {
    if (options.origin.empty()) return Problem("--cache needs --origin");
    if (!options.dest.empty() || options.width || options.small ||
        options.large) {
      return Problem(
          "--cache writes into the desktop's thumbnail cache: give no "
          "--dest, --width, --small or --large");
    }
    return options;
  }
  if (options.origin.empty() || options.dest.empty()) {
    return Problem("--origin and --dest are both needed");
  }
  bool two_sizes = options.small || options.large;
  if (two_sizes == options.width.has_value() ||
      (two_sizes && !(options.small && options.large))) {
    return Problem("give either --width, or both --small and --large");
  }
  for (const auto* w : {&options.width, &options.small, &options.large}) {
    if (*w && !IsWidth(**w)) {
      return Problem("'" + **w + "' is not a width in pixels (1 to 65535)");
    }
  }
  return options;
}

// Returns `text` broken into lines of at most `columns` characters at its
// spaces (a longer word alone on its line), each ended by a newline.
std::string FillParagraph(std::string_view text, size_t columns) {
  std::string out;
  size_t line_start = 0;
  while (!text.empty()) {
    const size_t space = text.find(' ');
    const std::string_view word = text.substr(0, space);
    if (out.size() > line_start &&
        out.size() - line_start + 1 + word.size() > columns) {
      out += '\n';
      line_start = out.size();
    } else if (out.size() > line_start) {
      out += ' ';
    }
    out += word;
    text.remove_prefix(space == std::string_view::npos ? text.size()
                                                       : space + 1);
  }
  return out + '\n';
}

}  // namespace

ParsedOptions ParseOptions(int argc, char* const* argv) {
  // getopt_long moves the words that are not options to the end of the
  // array it is given: give it a copy so that the caller's argv stays put.
  std::vector<char*> words(argv, argv + argc);
  words.push_back(nullptr);
  // 0 rather than 1: glibc then also forgets a group that an earlier call
  // left half read. opterr = 0: every message is ours.
  optind = 0;
  opterr = 0;

  Options options;
  for (;;) {
    int code =
        getopt_long(argc, words.data(), kShortOptions, kLongOptions, nullptr);
    if (code == -1) break;
    // The word just read when it ends (a long option, or a group that
    // ran out of words); only those messages use it.
    const char* word = optind > 0 && optind <= argc ? words[optind - 1] : "";
    switch (code) {
      case kOrigin:
        options.origin = optarg;
        break;
      case kDest:
        options.dest = optarg;
        break;
      case kWidth:
        options.width = optarg;
        break;
      case kSmall:
        options.small = optarg;
        break;
      case kLarge:
        options.large = optarg;
        break;
      case 'j': {
        char* end = nullptr;
        errno = 0;
        long n = std::strtol(optarg, &end, 10);
        if (end == optarg || *end != '\0' || errno != 0 || n < 1 || n > 256) {
          return Problem("--jobs takes a number from 1 to 256");
        }
        options.jobs = static_cast<int>(n);
        break;
      }
      case 'q':
        options.quiet = true;
        break;
      case 'r':
        options.recursive = true;
        break;
      case 'u':
        options.update = true;
        break;
      case '0':
        options.null_separated = true;
        break;
      case kShard:
        if (std::string why =
                ReadShard(optarg, &options.shard_index, &options.shard_count);
            !why.empty()) {
          return Problem("--shard " + std::string(optarg) + ": " + why);
        }
        break;
      case kReport:
        options.report = optarg;
        break;
      case kFilesFrom:
        options.files_from = optarg;
        break;
      case kDecodeTimeout: {
        char* end = nullptr;
        errno = 0;
        const double seconds = std::strtod(optarg, &end);
        if (end == optarg || *end != '\0' || errno != 0 || !(seconds > 0) ||
            seconds > 86400) {
          return Problem(
              "--decode-timeout takes a number of seconds, over 0 and at "
              "most 86400");
        }
        options.decode_timeout_seconds = seconds;
        break;
      }
      case kCache: {
        std::vector<thumbnail::CacheSize> sizes;
        if (std::string why = thumbnail::ParseCacheSizes(
                optarg != nullptr ? optarg : "normal,large", &sizes);
            !why.empty()) {
          return Problem("--cache: " + why);
        }
        options.cache_sizes = std::move(sizes);
        break;
      }
      case 'h':
        options.request = Request::kHelp;
        return options;
      case kVersionCode:
        options.request = Request::kVersion;
        return options;
      case ':':
        return Problem(OptionName(optopt, word) + " needs a value");
      default:  // '?'
        if (optopt != 0 && LongOptionFor(optopt) != nullptr &&
            std::strncmp(word, "--", 2) == 0) {
          // A value glued to a long option that takes none ("--quiet=1").
          return Problem(OptionName(optopt, word) + " takes no value");
        }
        if (optopt != 0) {
          return Problem("unknown argument '-" +
                         std::string(1, static_cast<char>(optopt)) + "'");
        }
        // An unknown long option, or a prefix shared by several.
        return Problem("unknown argument '" + std::string(word) + "'");
    }
  }
  // Nothing but options is taken: a word left over (moved here by
  // getopt_long, or after "--") is a mistake, not a folder to open.
  if (optind < argc) {
    return Problem("unknown argument '" + std::string(words[optind]) + "'");
  }
  return CheckTogether(std::move(options));
}

std::string ReadShard(const std::string& text, uint64_t* index,
                      uint64_t* count) {
  const size_t slash = text.find('/');
  const std::string first = text.substr(0, slash);
  const std::string second =
      slash == std::string::npos ? "" : text.substr(slash + 1);
  std::string problem;
  if (first == "auto") {
    if (slash == std::string::npos) {
      if (!SlurmIndex(index, count, &problem)) {
        return "no Slurm array task here (SLURM_ARRAY_TASK_ID, "
               "SLURM_ARRAY_TASK_COUNT); give auto/N with "
               "JOB_COMPLETION_INDEX, or K/N";
      }
      return problem;
    }
    if (!ReadCount(second, count) || *count == 0) {
      return "N must be a count of 1 or more";
    }
    const uint64_t n = *count;
    if (!EnvironmentCount("JOB_COMPLETION_INDEX", index, &problem)) {
      uint64_t slurm_count = 0;
      if (!SlurmIndex(index, &slurm_count, &problem)) {
        return "neither JOB_COMPLETION_INDEX nor a Slurm array task is set; "
               "give K/N";
      }
    }
    if (!problem.empty()) return problem;
    if (*index >= n) {
      return "the index " + std::to_string(*index) + " is not below " +
             std::to_string(n);
    }
    return {};
  }
  if (slash == std::string::npos || !ReadCount(first, index) ||
      !ReadCount(second, count)) {
    return "give K/N (0 <= K < N), auto or auto/N";
  }
  if (*count == 0) return "N must be 1 or more";
  if (*index >= *count) return "K must be below N (0 to N-1)";
  return {};
}

const char* UsageText() {
  static const std::string text =
      kUsageHead +
      FillParagraph(
          kFormatsBefore + decoders::PictureFormatList() + kFormatsAfter,
          kUsageColumns) +
      kUsageTail;
  return text.c_str();
}

}  // namespace vg::cli
