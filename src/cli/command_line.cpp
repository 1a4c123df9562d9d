#include "cli/command_line.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <unordered_set>
#include <utility>
#include <variant>
#include <vector>

#include "cli/options.h"
#include "cli/progress.h"
#include "cli/report.h"
#include "decoders/decoder_processes.h"
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

int UsageError(const UsageProblem& problem) {
  std::fprintf(stderr, "vignettes: %s\nTry 'vignettes --help'.\n",
               problem.message.c_str());
  return problem.exit_code;
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
// else while the run goes (failures come at the end, in listing order);
// the report file's lines as the pictures end.
class Reporter : public thumbnail::Events {
 public:
  explicit Reporter(bool progress, std::FILE* report = nullptr)
      : progress_(progress), report_(report) {}
  void Progress(size_t done, size_t pictures) override {
    if (!progress_) return;
    const auto now = std::chrono::steady_clock::now();
    if (!pacer_.Due(now, done >= pictures)) return;
    const std::string text = ProgressText(
        done, pictures, std::chrono::duration<double>(now - started_).count());
    // "\033[K" clears what a longer line left on the right.
    std::fprintf(stderr, "\r%s\033[K", text.c_str());
    std::fflush(stderr);
    drawn_ = true;
  }
  void EndProgress() {
    if (drawn_) std::fputc('\n', stderr);
    drawn_ = false;
  }
  void Finished(const thumbnail::PictureResult& result) override {
    Write(result);
  }

 private:
  void Write(const thumbnail::PictureResult& result) {
    if (report_ == nullptr) return;
    const std::string line = ReportLine(result);
    // A whole line at a time: a run killed meanwhile leaves whole lines.
    std::fwrite(line.data(), 1, line.size(), report_);
    std::fflush(report_);
  }

  bool progress_;
  std::FILE* report_;
  ProgressPacer pacer_;
  std::chrono::steady_clock::time_point started_ =
      std::chrono::steady_clock::now();
  bool drawn_ = false;
};

std::string SummaryLine(const thumbnail::Summary& outcome, double seconds,
                        bool update) {
  char up_to_date[48] = "";
  if (update) {
    std::snprintf(up_to_date, sizeof up_to_date, " %zu up to date,",
                  outcome.up_to_date);
  }
  char line[200];
  std::snprintf(line, sizeof line,
                "%zu picture%s: %zu written,%s %zu failed, %.1f s",
                outcome.pictures, outcome.pictures == 1 ? "" : "s",
                outcome.written, up_to_date, outcome.failed, seconds);
  return line;
}

// Reads the paths of --files-from: one a line, or ended by NUL.
bool ReadFilesFrom(const std::string& source, bool null_separated,
                   std::unordered_set<std::u16string>* paths) {
  std::FILE* in = source == "-" ? stdin : std::fopen(source.c_str(), "rb");
  if (in == nullptr) return false;
  const char end = null_separated ? '\0' : '\n';
  std::string path;
  bool ok = true;
  for (int c = std::getc(in);; c = std::getc(in)) {
    if (c == EOF || c == end) {
      if (!path.empty()) paths->insert(platform::FromAnsi(path));
      path.clear();
      if (c == EOF) break;
    } else {
      path += static_cast<char>(c);
    }
  }
  if (std::ferror(in) != 0) ok = false;
  const int saved = errno;
  if (in != stdin) std::fclose(in);
  errno = saved;
  return ok;
}

struct FileCloser {
  void operator()(std::FILE* f) const {
    if (f != nullptr) std::fclose(f);
  }
};

}  // namespace

bool WantsCommandLine(int argc, char** argv) {
  // Existing folders and files only are what a file manager's "Open with"
  // passes (files when a picture was opened with the program): the window
  // opens on the first folder, or the first file's folder. Anything else (an
  // option, even one that a folder of the current directory happens to be
  // called, a missing path, a device) is for the command line, which
  // explains what it cannot use.
  for (int i = 1; i < argc; ++i) {
    if (argv[i] == nullptr || argv[i][0] == '\0' || argv[i][0] == '-') {
      return true;
    }
    struct stat st {};
    if (stat(argv[i], &st) != 0 ||
        (!S_ISDIR(st.st_mode) && !S_ISREG(st.st_mode))) {
      return true;
    }
  }
  return false;
}

int RunCommandLine(int argc, char** argv) {
  ParsedOptions parsed = ParseOptions(argc, argv);
  if (const auto* problem = std::get_if<UsageProblem>(&parsed)) {
    return UsageError(*problem);
  }
  const Options& options = std::get<Options>(parsed);
  if (options.request == Request::kHelp) {
    std::fputs(UsageText(), stdout);
    return kExitOk;
  }
  decoders::DecoderProcessOptions decoding;
  decoding.timeout_seconds = options.decode_timeout_seconds;
  decoders::DecoderProcesses decoder_processes(decoding);
  if (options.request == Request::kVersion) {
    std::printf("vignettes %s\n", VG_VERSION);
    try {
      std::fputs(decoders::DescribeConfinement(decoder_processes.Confinement())
                     .c_str(),
                 stdout);
    } catch (const platform::Error& e) {
      std::printf("decoders: %s\n", e.description().c_str());
      return kExitSomeFailed;
    }
    return kExitOk;
  }
  const decoders::UseDecoderProcesses decoding_in_processes(decoder_processes);
  bool two_sizes = options.small || options.large;
  const std::optional<Origin> origin = ResolveOrigin(options.origin);
  if (!origin) {
    std::fprintf(stderr, "vignettes: %s: no such folder\n",
                 options.origin.c_str());
    return kExitSomeFailed;
  }
  // Files named on the command line are opened before anything is made: a
  // wrong one is a usage error that touches nothing.
  std::shared_ptr<std::unordered_set<std::u16string>> only;
  if (options.files_from) {
    only = std::make_shared<std::unordered_set<std::u16string>>();
    if (!ReadFilesFrom(*options.files_from, options.null_separated,
                       only.get())) {
      return UsageError(UsageProblem{"cannot read --files-from '" +
                                         *options.files_from +
                                         "': " + std::strerror(errno),
                                     2});
    }
  }
  std::unique_ptr<std::FILE, FileCloser> report;
  if (options.report) {
    report.reset(std::fopen(options.report->c_str(), "w"));
    if (!report) {
      return UsageError(UsageProblem{"cannot write --report '" +
                                         *options.report +
                                         "': " + std::strerror(errno),
                                     2});
    }
  }
  thumbnail::Job job;
  if (options.cache_sizes) {
    const std::string root = thumbnail::CacheRoot();
    if (root.empty()) {
      return UsageError(UsageProblem{
          "--cache: no cache folder (neither XDG_CACHE_HOME nor HOME is set)",
          2});
    }
    job.cache_root = platform::FromAnsi(root);
    for (const thumbnail::CacheSize& size : *options.cache_sizes) {
      job.sets.emplace_back(platform::FromAnsi(root + size.folder + "/"),
                            size.pixels);
    }
  }
  std::string dest = options.cache_sizes ? "" : options.dest;
  if (!options.cache_sizes && !thumbnail::MakeFolders(dest)) {
    std::fprintf(stderr, "vignettes: cannot make the folder '%s': %s\n",
                 dest.c_str(), std::strerror(errno));
    return kExitSomeFailed;
  }
  if (!options.cache_sizes) dest = AsFolder(dest);

  job.listing = platform::FromAnsi(origin->listing);
  job.load_prefix = platform::FromAnsi(origin->folder);
  job.jobs =
      options.jobs > 0
          ? options.jobs
          : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  const std::u16string destination = platform::FromAnsi(dest);
  if (options.cache_sizes) {
    // The sets are the cache's sizes, above.
  } else if (two_sizes && options.recursive) {
    job.sets = {{destination, Width(*options.small)},
                {destination, Width(*options.large), u"Grand/"}};
  } else if (two_sizes) {
    job.sets = {{destination, Width(*options.small)},
                {destination + u"Grand/", Width(*options.large)}};
  } else {
    job.sets = {{destination, Width(*options.width)}};
  }
  job.recursive = options.recursive;
  job.update = options.update;
  job.shard = {options.shard_index, options.shard_count};
  job.only = std::move(only);
  job.nested_sets = two_sizes;
  if (struct stat st{}; report && fstat(fileno(report.get()), &st) == 0) {
    // The report may lie in the origin: it is the run's, not a picture.
    job.own_files.emplace_back(static_cast<uint64_t>(st.st_dev),
                               static_cast<uint64_t>(st.st_ino));
  }
  Reporter reporter(!options.quiet && isatty(STDERR_FILENO), report.get());
  const auto started = std::chrono::steady_clock::now();
  std::optional<thumbnail::Summary> outcome;
  try {
    outcome = thumbnail::Run(job, &reporter);
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
    std::printf("%s\n", SummaryLine(*outcome, seconds, options.update).c_str());
  }
  return outcome->failures.empty() ? kExitOk : kExitSomeFailed;
}

}  // namespace vg::cli
