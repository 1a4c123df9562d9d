#include "cli/options.h"

#include <getopt.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "platform/code_page.h"
#include "platform/error.h"
#include "platform/numeric_text.h"

namespace vg::cli {
namespace {

constexpr const char* kUsage =
    "Usage: vignettes --origin DIR --dest DIR --width W [-j N]\n"
    "       vignettes --origin DIR --dest DIR --small S --large L [-j N]\n"
    "       vignettes [FOLDER]   (opens the window, on FOLDER if given)\n"
    "\n"
    "Writes every picture of DIR (JPEG, PNG, GIF, BMP, ICO, CUR, and the\n"
    "WMF and EMF metafiles) as a quality-90 JPEG scaled to the given width,\n"
    "its height in proportion, under a file name made safe for any file\n"
    "system.\n"
    "\n"
    "  --origin DIR   folder of pictures to read (a pattern such as\n"
    "                 DIR/*.jpg limits it to the matching names)\n"
    "  --dest DIR     folder to write into; made when missing\n"
    "  --width W      one set, W pixels wide\n"
    "  --small S      two sets: S pixels wide into DIR,\n"
    "  --large L      and L pixels wide into DIR/Grand/\n"
    "  -j, --jobs N   pictures made at once (default: the number of cores);\n"
    "                 the files written are the same for every N\n"
    "  -q, --quiet    no progress bar and no summary: failures only\n"
    "  -h, --help     this text\n"
    "  --version      the version\n"
    "\n"
    "A value follows its option as the next word or after '=', a short\n"
    "option's value may be glued to it (-j4), short options may be grouped\n"
    "(-qj 2), and a long option may be shortened while it stays unique:\n"
    "\n"
    "  vignettes --origin=photos --dest=thumbs --width=150 -qj2\n"
    "\n"
    "Every file that could not be read or written is named on stderr with\n"
    "its reason; a summary line ends the run (\"40 pictures: 38 written,\n"
    "2 failed, 0.6 s\").\n"
    "\n"
    "Exit status: 0 every picture written, 1 some file could not be read or\n"
    "written, 2 usage error.\n";

// getopt_long's codes for the options without a short form; above every
// character, so none can be mistaken for one.
enum LongOnly : int {
  kOrigin = 256,
  kDest,
  kWidth,
  kSmall,
  kLarge,
  kVersionCode,
};

// The leading ':' makes a missing value come back as ':' rather than '?'.
constexpr const char* kShortOptions = ":hqj:";

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

UsageProblem Problem(std::string message) {
  return UsageProblem{std::move(message), 2};
}

// Checks what no single option can: the set of options given together.
ParsedOptions CheckTogether(Options options) {
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

const char* UsageText() { return kUsage; }

}  // namespace vg::cli
