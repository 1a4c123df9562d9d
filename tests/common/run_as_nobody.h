// File: common/run_as_nobody.h
//
// Runs part of a test as user and group nobody (65534), in a forked child.
// Root reads and writes past every permission bit, so a test of what the
// bits refuse needs a user they bind; CI runs as root. The child reaches
// only what the test made for it: its own temporary folder under /tmp,
// opened to others with OpenToOthers, and, for a program run by exec, a
// copy placed there (CopyProgramInto). The checkout itself may lie in a
// folder that nobody cannot enter.
//
//   OpenToOthers(root_);
//   const ChildOutcome child = RunAsNobody([&] { return ListedNames(); });
//   EXPECT_EQ(child.exit_code, 0);
//   EXPECT_EQ(child.out, "a.jpg b.jpg");
//
// The body runs in the child: gtest checks made there never reach the
// parent. It returns a text for the parent to compare instead.
#ifndef VG_TESTS_COMMON_RUN_AS_NOBODY_H_
#define VG_TESTS_COMMON_RUN_AS_NOBODY_H_

#include <grp.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <exception>
#include <filesystem>
#include <functional>
#include <string>

namespace vg::test_support {

inline constexpr uid_t kNobody = 65534;

// Leaves every group and becomes user and group nobody; false when the
// process may not (it is not root). For a child between fork and exec.
inline bool DropToNobody() {
  return setgroups(0, nullptr) == 0 && setgid(kNobody) == 0 &&
         setuid(kNobody) == 0;
}

struct ChildOutcome {
  int exit_code = -1;  // 126: could not become nobody; 125: body threw;
                       // -1: killed by a signal
  std::string out;     // what the body returned
};

// Forks, becomes nobody in the child, runs `body` there and hands back its
// text and exit status. The child leaves through _exit: no destructor or
// exit handler of the parent's objects runs twice.
inline ChildOutcome RunAsNobody(const std::function<std::string()>& body) {
  int fds[2];
  if (pipe(fds) != 0) return {};
  const pid_t child = fork();
  if (child == 0) {
    close(fds[0]);
    if (!DropToNobody()) _exit(126);
    int code = 0;
    std::string out;
    try {
      out = body();
    } catch (const std::exception& e) {
      out = e.what();
      code = 125;
    } catch (...) {
      code = 125;
    }
    for (size_t done = 0; done < out.size();) {
      const ssize_t n = write(fds[1], out.data() + done, out.size() - done);
      if (n <= 0) _exit(124);
      done += static_cast<size_t>(n);
    }
    _exit(code);
  }
  close(fds[1]);
  ChildOutcome outcome;
  if (child < 0) {
    close(fds[0]);
    return outcome;
  }
  char buffer[4096];
  for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;) {
    outcome.out.append(buffer, static_cast<size_t>(n));
  }
  close(fds[0]);
  int status = 0;
  if (waitpid(child, &status, 0) == child && WIFEXITED(status)) {
    outcome.exit_code = WEXITSTATUS(status);
  }
  return outcome;
}

// Lets others enter and read `path` and, for a folder, everything under it
// (folders r-x, files r--); what others may write is left as it was.
inline void OpenToOthers(const std::filesystem::path& path) {
  namespace fs = std::filesystem;
  const auto open_one = [](const fs::path& p) {
    const bool folder = fs::is_directory(fs::symlink_status(p));
    if (fs::is_symlink(fs::symlink_status(p))) return;
    fs::permissions(p,
                    folder ? fs::perms::others_read | fs::perms::others_exec
                           : fs::perms::others_read,
                    fs::perm_options::add);
  };
  open_one(path);
  if (!fs::is_directory(fs::symlink_status(path))) return;
  for (const auto& entry : fs::recursive_directory_iterator(path)) {
    open_one(entry.path());
  }
}

// Copies the program at `program` into `folder` (made when missing), mode
// 755, and returns the copy's path: a program of the build tree that nobody
// could not reach otherwise. Our programs link system libraries only (no
// run path into the build tree), so the copy alone runs.
inline std::filesystem::path CopyProgramInto(
    const std::filesystem::path& program, const std::filesystem::path& folder) {
  namespace fs = std::filesystem;
  fs::create_directories(folder);
  fs::path copy = folder / program.filename();
  fs::copy_file(program, copy, fs::copy_options::overwrite_existing);
  fs::permissions(copy, fs::perms::owner_all | fs::perms::group_read |
                            fs::perms::group_exec | fs::perms::others_read |
                            fs::perms::others_exec);
  // Its decoder program beside it, where it looks first once
  // VIGNETTES_DECODER is unset (UseCopiedDecoder).
  if (const char* decoder = std::getenv("VIGNETTES_DECODER")) {
    const fs::path decoder_copy = folder / "vignettes-decoder";
    fs::copy_file(decoder, decoder_copy, fs::copy_options::overwrite_existing);
    fs::permissions(decoder_copy, fs::perms::owner_all | fs::perms::group_read |
                                      fs::perms::group_exec |
                                      fs::perms::others_read |
                                      fs::perms::others_exec);
  }
  fs::permissions(folder, fs::perms::others_read | fs::perms::others_exec,
                  fs::perm_options::add);
  return copy;
}

// Makes a copied program start the decoder program copied beside it. For a
// child between fork and exec.
inline void UseCopiedDecoder() { unsetenv("VIGNETTES_DECODER"); }

}  // namespace vg::test_support

#endif  // VG_TESTS_COMMON_RUN_AS_NOBODY_H_
