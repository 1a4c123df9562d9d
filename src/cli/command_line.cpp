#include "cli/command_line.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <variant>

#include "app/batch_generator.h"
#include "app/form1.h"
#include "cli/options.h"
#include "platform/code_page.h"
#include "platform/error.h"

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
  ParsedOptions parsed = ParseOptions(argc, argv);
  if (const auto* problem = std::get_if<UsageProblem>(&parsed)) {
    return UsageError(*problem);
  }
  const Options& options = std::get<Options>(parsed);
  if (options.request == Request::kHelp) {
    std::fputs(UsageText(), stdout);
    return kExitOk;
  }
  if (options.request == Request::kVersion) {
    std::printf("vignettes %s\n", VG_VERSION);
    return kExitOk;
  }
  bool two_sizes = options.small || options.large;
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
