#include "cli/command_line.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "platform/code_page.h"
#include "platform/error.h"
#include "platform/folder_listing.h"
#include "platform/numeric_text.h"
#include "thumbnail/engine.h"
#include "thumbnail/plan.h"

#ifndef VG_VERSION
#define VG_VERSION "0.0.0"
#endif

namespace vg::cli {
namespace {

constexpr int kExitOk = 0;
constexpr int kExitSomeFailed = 1;
constexpr int kExitUsage = 2;

constexpr const char* kUsage =
    "Usage: vignettes --origin DIR --dest DIR --width W [-j N]\n"
    "       vignettes --origin DIR --dest DIR --small S --large L [-j N]\n"
    "       vignettes [FOLDER]   (opens the window, on FOLDER if given)\n"
    "\n"
    "Writes every picture of DIR (JPEG, PNG, GIF, BMP, ICO) as a quality-90\n"
    "JPEG scaled to the given width, its height in proportion, under a file\n"
    "name made safe for any file system.\n"
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
    "Every file that could not be read or written is named on stderr with\n"
    "its reason; a summary line ends the run (\"40 pictures: 38 written,\n"
    "2 failed, 0.6 s\").\n"
    "\n"
    "Exit status: 0 every picture written, 1 some file could not be read or\n"
    "written, 2 usage error.\n";

struct Options {
  std::string origin;
  std::string dest;
  std::optional<std::string> width, small, large;
  int jobs = 0;
  bool quiet = false;
};

int UsageError(const std::string& message) {
  std::fprintf(stderr, "vignettes: %s\nTry 'vignettes --help'.\n",
               message.c_str());
  return kExitUsage;
}

// Returns the folder with one trailing "/", unless it is a pattern that
// already names files inside one.
std::string AsFolder(std::string path) {
  struct stat st {};
  if (!path.empty() && path.back() != '/' && stat(path.c_str(), &st) == 0 &&
      S_ISDIR(st.st_mode)) {
    path += '/';
  }
  return path;
}

bool IsPositiveWidth(const std::string& text) {
  double w = 0;
  try {
    w = platform::NumericValue(platform::FromAnsi(text));
  } catch (const platform::Error&) {
    return false;
  }
  return w >= 1 && w <= 65535;
}

bool MakeFolders(const std::string& path) {
  std::string partial;
  for (size_t i = 0; i <= path.size(); ++i) {
    if (i == path.size() || path[i] == '/') {
      if (!partial.empty() && mkdir(partial.c_str(), 0777) != 0 &&
          errno != EEXIST) {
        return false;
      }
    }
    if (i < path.size()) partial += path[i];
  }
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Where the pictures are: the listing pattern and the folder its names are
// read from.
struct Origin {
  std::string listing;  // "DIR/" or "DIR/*.jpg"
  std::string folder;   // "DIR/" (empty: the current folder)
};

bool IsFolder(const std::string& path) {
  struct stat st {};
  return stat(path.empty() ? "." : path.c_str(), &st) == 0 &&
         S_ISDIR(st.st_mode);
}

// A folder, with or without its trailing "/", or a folder followed by a
// pattern of names ("DIR/*.jpg"). Returns nothing when the folder does not
// exist, whatever the spelling: a mistyped origin must not look like an
// empty one.
std::optional<Origin> ResolveOrigin(const std::string& text) {
  const size_t slash = text.find_last_of('/');
  const std::string last =
      slash == std::string::npos ? text : text.substr(slash + 1);
  if (last.find_first_of("*?") != std::string::npos) {
    std::string folder =
        slash == std::string::npos ? "" : text.substr(0, slash + 1);
    if (!IsFolder(folder)) return std::nullopt;
    return Origin{text, folder};
  }
  if (!IsFolder(text)) return std::nullopt;
  std::string folder = text;
  if (folder.back() != '/') folder += '/';
  return Origin{folder, folder};
}

double Width(const std::string& text) {
  return platform::NumericValue(platform::FromAnsi(text));
}

// What the command line tells: a progress bar on a terminal, and nothing
// else while the run goes (failures come at the end, in listing order).
class Reporter : public thumbnail::Events {
 public:
  explicit Reporter(bool progress) : progress_(progress) {}
  void Progress(size_t done, size_t pictures) override {
    if (!progress_) return;
    constexpr size_t kBar = 30;
    size_t filled = pictures > 0 ? done * kBar / pictures : kBar;
    std::string bar(filled, '#');
    bar.resize(kBar, ' ');
    std::fprintf(stderr, "\r[%s] %zu/%zu", bar.c_str(), done, pictures);
    std::fflush(stderr);
    drawn_ = true;
  }
  void EndProgress() {
    if (drawn_) std::fputc('\n', stderr);
    drawn_ = false;
  }

 private:
  bool progress_;
  bool drawn_ = false;
};

// What a whole command did, over one run or two.
struct Outcome {
  size_t pictures = 0;
  size_t written = 0;
  size_t failed = 0;
  std::vector<thumbnail::Failure> failures;
};

Outcome FromSummary(thumbnail::Summary summary) {
  return {summary.pictures, summary.written, summary.failed,
          std::move(summary.failures)};
}

// Runs the job: one listing and one decode of each picture for every set,
// except when a picture of the first set would be written as "Grand", where
// the second set's folder goes. Then the sets run one after the other, with
// the folder made between them, as the window's two-size command does, so
// that the same files are written and the same failures named.
Outcome RunJob(const thumbnail::Job& job, thumbnail::Events& events) {
  bool one_listing = job.sets.size() < 2;
  if (!one_listing) {
    one_listing = true;
    for (const platform::ListedFile& f : platform::ListFolder(job.listing)) {
      if (!thumbnail::IsSkippedName(f.name) &&
          job.sets[0].destination + thumbnail::OutputName(f.name) + u"/" ==
              job.sets[1].destination) {
        one_listing = false;
      }
    }
  }
  if (one_listing) {
    for (size_t s = 1; s < job.sets.size(); ++s) {
      // May exist already; a failure shows on each of its files.
      mkdir(platform::ToAnsi(job.sets[s].destination).c_str(), 0777);
    }
    return FromSummary(thumbnail::Run(job, &events));
  }
  Outcome total;
  std::set<std::u16string> failed_inputs;
  for (size_t s = 0; s < job.sets.size(); ++s) {
    if (s > 0) mkdir(platform::ToAnsi(job.sets[s].destination).c_str(), 0777);
    thumbnail::Job one = job;
    one.sets = {job.sets[s]};
    thumbnail::Summary summary = thumbnail::Run(one, &events);
    total.pictures = std::max(total.pictures, summary.pictures);
    for (thumbnail::Failure& f : summary.failures) {
      f.set = f.set == thumbnail::Failure::kNoSet ? f.set : s;
      total.failures.push_back(std::move(f));
    }
  }
  // A picture is failed when any of its thumbnails is: count them by input.
  size_t failed = 0;
  {
    std::set<size_t> seen;
    for (const thumbnail::Failure& f : total.failures) {
      if (seen.insert(f.index).second) ++failed;
    }
  }
  total.failed = std::min(failed, total.pictures);
  total.written = total.pictures - total.failed;
  return total;
}

std::string SummaryLine(const Outcome& outcome, double seconds) {
  char line[160];
  std::snprintf(line, sizeof line,
                "%zu picture%s: %zu written, %zu failed, %.1f s",
                outcome.pictures, outcome.pictures == 1 ? "" : "s",
                outcome.written, outcome.failed, seconds);
  return line;
}

}  // namespace

bool WantsCommandLine(int argc, char** argv) {
  // Existing folders only are what a file manager's "Open with" passes: the
  // window opens on the first. Anything else (an option, even one that a
  // folder of the current directory happens to be called, a file, a missing
  // folder) is for the command line, which explains what it cannot use.
  for (int i = 1; i < argc; ++i) {
    if (argv[i] == nullptr || argv[i][0] == '\0' || argv[i][0] == '-') {
      return true;
    }
    struct stat st {};
    if (stat(argv[i], &st) != 0 || !S_ISDIR(st.st_mode)) return true;
  }
  return false;
}

int RunCommandLine(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    auto value = [&](std::string_view name) -> std::optional<std::string> {
      if (i + 1 >= argc) return std::nullopt;
      (void)name;
      return std::string(argv[++i]);
    };
    if (arg == "-h" || arg == "--help") {
      std::fputs(kUsage, stdout);
      return kExitOk;
    }
    if (arg == "--version") {
      std::printf("vignettes %s\n", VG_VERSION);
      return kExitOk;
    }
    if (arg == "-q" || arg == "--quiet") {
      options.quiet = true;
      continue;
    }
    std::optional<std::string> v;
    if (arg == "--origin" || arg == "--dest" || arg == "--width" ||
        arg == "--small" || arg == "--large" || arg == "-j" ||
        arg == "--jobs") {
      v = value(arg);
      if (!v) return UsageError(std::string(arg) + " needs a value");
    } else {
      return UsageError("unknown argument '" + std::string(arg) + "'");
    }
    if (arg == "--origin") options.origin = *v;
    if (arg == "--dest") options.dest = *v;
    if (arg == "--width") options.width = *v;
    if (arg == "--small") options.small = *v;
    if (arg == "--large") options.large = *v;
    if (arg == "-j" || arg == "--jobs") {
      char* end = nullptr;
      long n = std::strtol(v->c_str(), &end, 10);
      if (end == v->c_str() || *end != '\0' || n < 1 || n > 256) {
        return UsageError("--jobs takes a number from 1 to 256");
      }
      options.jobs = static_cast<int>(n);
    }
  }
  if (options.origin.empty() || options.dest.empty()) {
    return UsageError("--origin and --dest are both needed");
  }
  bool two_sizes = options.small || options.large;
  if (two_sizes == options.width.has_value() ||
      (two_sizes && !(options.small && options.large))) {
    return UsageError("give either --width, or both --small and --large");
  }
  for (const auto* w : {&options.width, &options.small, &options.large}) {
    if (*w && !IsPositiveWidth(**w)) {
      return UsageError("'" + **w + "' is not a width in pixels (1 to 65535)");
    }
  }
  const std::optional<Origin> origin = ResolveOrigin(options.origin);
  if (!origin) {
    std::fprintf(stderr, "vignettes: %s: no such folder\n",
                 options.origin.c_str());
    return kExitSomeFailed;
  }
  std::string dest = options.dest;
  if (!MakeFolders(dest)) {
    std::fprintf(stderr, "vignettes: cannot make the folder '%s': %s\n",
                 dest.c_str(), std::strerror(errno));
    return kExitSomeFailed;
  }
  dest = AsFolder(dest);

  thumbnail::Job job;
  job.listing = platform::FromAnsi(origin->listing);
  job.load_prefix = platform::FromAnsi(origin->folder);
  job.jobs =
      options.jobs > 0
          ? options.jobs
          : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  const std::u16string destination = platform::FromAnsi(dest);
  if (two_sizes) {
    job.sets = {{destination, Width(*options.small)},
                {destination + u"Grand/", Width(*options.large)}};
  } else {
    job.sets = {{destination, Width(*options.width)}};
  }
  Reporter reporter(!options.quiet && isatty(STDERR_FILENO));
  const auto started = std::chrono::steady_clock::now();
  std::optional<Outcome> outcome;
  try {
    outcome = RunJob(job, reporter);
  } catch (const platform::Error& e) {
    reporter.EndProgress();
    std::fprintf(stderr, "vignettes: %s: %s\n", origin->listing.c_str(),
                 e.description().c_str());
    return kExitSomeFailed;
  }
  reporter.EndProgress();
  for (const thumbnail::Failure& f : outcome->failures) {
    std::fprintf(stderr, "vignettes: %s: %s\n",
                 platform::ToAnsi(f.path).c_str(), f.reason.c_str());
  }
  if (!options.quiet) {
    const double seconds = std::chrono::duration<double>(
                               std::chrono::steady_clock::now() - started)
                               .count();
    std::printf("%s\n", SummaryLine(*outcome, seconds).c_str());
  }
  return outcome->failures.empty() ? kExitOk : kExitSomeFailed;
}

}  // namespace vg::cli
