#include "cli/command_line.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "app/batch_generator.h"
#include "app/form1.h"
#include "platform/code_page.h"
#include "platform/error.h"
#include "platform/numeric_text.h"

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
    "  -q, --quiet    no progress bar\n"
    "  -h, --help     this text\n"
    "  --version      the version\n"
    "\n"
    "Exit status: 0 every picture written, 1 some file could not be read or\n"
    "written (each is named on stderr with its reason), 2 usage error.\n";

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

void DrawProgress(int done, int total) {
  constexpr int kBar = 30;
  int filled = total > 0 ? done * kBar / total : kBar;
  std::string bar(static_cast<size_t>(filled), '#');
  bar.resize(kBar, ' ');
  std::fprintf(stderr, "\r[%s] %d/%d", bar.c_str(), done, total);
  std::fflush(stderr);
}

}  // namespace

bool WantsCommandLine(int argc, char** argv) {
  if (argc <= 1) return false;
  if (argc > 2 || argv[1] == nullptr || argv[1][0] == '\0' ||
      argv[1][0] == '-') {
    return true;
  }
  // One existing folder is what a file manager's "Open with" passes: the
  // window opens on it. Anything else (an option, even one that a folder of
  // the current directory happens to be called, a file, a missing folder)
  // is for the command line, which explains what it cannot use.
  struct stat st {};
  return stat(argv[1], &st) != 0 || !S_ISDIR(st.st_mode);
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
  std::string origin = AsFolder(options.origin);
  {
    // A missing origin would list nothing and look like a finished job.
    std::string folder = origin.substr(0, origin.find_last_of('/') + 1);
    struct stat st {};
    if (stat(folder.empty() ? "." : folder.c_str(), &st) != 0 ||
        !S_ISDIR(st.st_mode)) {
      std::fprintf(stderr, "vignettes: %s: no such folder\n",
                   folder.empty() ? "." : folder.c_str());
      return kExitSomeFailed;
    }
  }
  std::string dest = options.dest;
  if (!MakeFolders(dest)) {
    std::fprintf(stderr, "vignettes: cannot make the folder '%s': %s\n",
                 dest.c_str(), std::strerror(errno));
    return kExitSomeFailed;
  }
  dest = AsFolder(dest);

  app::Form1 form;
  form.Text1.set_text(platform::FromAnsi(origin));
  form.Text2.set_text(platform::FromAnsi(dest));
  app::BatchOptions batch;
  batch.jobs =
      options.jobs > 0
          ? options.jobs
          : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  bool progress = !options.quiet && isatty(STDERR_FILENO);
  if (progress) batch.progress = DrawProgress;

  if (two_sizes) {
    form.petite.set_text(platform::FromAnsi(*options.small));
    form.grande.set_text(platform::FromAnsi(*options.large));
    // One load of each picture makes both of its thumbnails.
    batch.one_load_for_both_sizes = true;
    app::RunTwoSizes(form, batch);
  } else {
    form.Largeur.set_text(platform::FromAnsi(*options.width));
    try {
      app::RunBatch(form, batch);
    } catch (const platform::Error& e) {
      if (progress) std::fputc('\n', stderr);
      std::fprintf(stderr, "vignettes: %s: %s\n", origin.c_str(),
                   e.description().c_str());
      return kExitSomeFailed;
    }
  }
  if (progress) std::fputc('\n', stderr);
  for (const app::FailedFile& f : form.failures()) {
    std::fprintf(stderr, "vignettes: %s: %s\n",
                 platform::ToAnsi(f.path).c_str(), f.reason.c_str());
  }
  std::fprintf(stderr, "%s\n", platform::ToAnsi(form.caption()).c_str());
  return form.failures().empty() ? kExitOk : kExitSomeFailed;
}

}  // namespace vg::cli
