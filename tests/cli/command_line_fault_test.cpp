// The program run from a shell when things go wrong around it: a folder of
// 40 000 files, names that are not UTF-8, a destination that cannot be made,
// is read-only or fills up, and a run killed in the middle. Each ends with a
// clear message and exit status, or the documented result, and no file of
// the origin or earlier thumbnail lost.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/run_as_nobody.h"
#include "common/test_files.h"

namespace vg::cli {
namespace {

namespace fs = std::filesystem;

#ifdef VG_VIGNETTES_EXE
constexpr const char* kProgram = VG_VIGNETTES_EXE;
#else
constexpr const char* kProgram = nullptr;
#endif

std::string ReadAll(const fs::path& path) { return testing::ReadBytes(path); }

// Writes a w x h JPEG full of detail (so that its thumbnails are not tiny).
void WriteJpeg(const fs::path& path, int w, int h, int seed = 1) {
  testing::WriteDetailedJpeg(path, w, h, seed);
}

// The width of a JPEG file when it is complete (decodes whole, ends with its
// end-of-image marker); -1 otherwise.
int WholeJpegWidth(const fs::path& path) {
  std::string bytes = ReadAll(path);
  if (bytes.size() < 4 || bytes.compare(bytes.size() - 2, 2, "\xff\xd9") != 0) {
    return -1;
  }
  tjhandle handle = tjInitDecompress();
  int w = 0, h = 0, sub = 0, space = 0;
  int rc = tjDecompressHeader3(
      handle, reinterpret_cast<const unsigned char*>(bytes.data()),
      bytes.size(), &w, &h, &sub, &space);
  std::vector<uint8_t> rgb(rc == 0 ? static_cast<size_t>(w) * h * 3 : 0);
  if (rc == 0) {
    rc = tjDecompress2(handle,
                       reinterpret_cast<const unsigned char*>(bytes.data()),
                       bytes.size(), rgb.data(), w, 0, h, TJPF_RGB, 0);
  }
  tjDestroy(handle);
  return rc == 0 ? w : -1;
}

std::set<std::string> FilesIn(const fs::path& folder) {
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(folder)) {
    names.insert(e.path().filename().string());
  }
  return names;
}

struct Outcome {
  int exit_code = -1;  // -1 when killed
  std::string err;     // everything written on stderr
  std::string out;     // everything written on stdout
  // The last line written on stdout: the summary.
  std::string LastLine() const {
    std::string text = out;
    while (!text.empty() && text.back() == '\n') text.pop_back();
    size_t nl = text.rfind('\n');
    return nl == std::string::npos ? text : text.substr(nl + 1);
  }
};

class CommandLineFaultTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (kProgram == nullptr) GTEST_SKIP() << "the program is not built";
    root_ = temp_.path();
    fs::create_directory(root_ / "in");
  }
  void TearDown() override {
    // Some tests leave the output folder closed; open it for the removal.
    if (root_.empty()) return;
    std::error_code ignored;
    fs::permissions(root_ / "out", fs::perms::owner_all, ignored);
  }

  // Starts the program with `args`; stderr goes to a file of the root.
  // `file_size_limit` > 0 caps the size of every file it writes; `as_nobody`
  // runs it as user and group nobody (the caller must be root, and must have
  // made the root reachable for nobody): a copy of the program in the root,
  // since the build tree may lie where nobody cannot enter.
  pid_t Start(const std::vector<std::string>& args, rlim_t file_size_limit = 0,
              bool as_nobody = false) {
    const std::string err_path = (root_ / "stderr").string();
    const std::string out_path = (root_ / "stdout").string();
    const std::string program =
        as_nobody
            ? test_support::CopyProgramInto(kProgram, root_ / "bin").string()
            : kProgram;
    pid_t child = fork();
    if (child == 0) {
      int fd = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      if (fd < 0 || dup2(fd, STDERR_FILENO) < 0) _exit(126);
      int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      if (out < 0 || dup2(out, STDOUT_FILENO) < 0) _exit(126);
      if (as_nobody) test_support::UseCopiedDecoder();
      if (as_nobody && !test_support::DropToNobody()) _exit(126);
      if (file_size_limit > 0) {
        signal(SIGXFSZ, SIG_IGN);  // stays ignored across exec
        rlimit limit{file_size_limit, file_size_limit};
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(126);
      }
      std::vector<char*> argv;
      argv.push_back(const_cast<char*>(program.c_str()));
      for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      execv(program.c_str(), argv.data());
      _exit(127);
    }
    return child;
  }

  Outcome Wait(pid_t child) {
    Outcome outcome;
    int status = 0;
    if (waitpid(child, &status, 0) == child && WIFEXITED(status)) {
      outcome.exit_code = WEXITSTATUS(status);
    }
    outcome.err = ReadAll(root_ / "stderr");
    outcome.out = ReadAll(root_ / "stdout");
    return outcome;
  }

  Outcome Run(const std::vector<std::string>& args, rlim_t file_size_limit = 0,
              bool as_nobody = false) {
    return Wait(Start(args, file_size_limit, as_nobody));
  }

  std::string In() const { return (root_ / "in").string(); }
  std::string Out() const { return (root_ / "out").string(); }

  vg::testing::TempFolder temp_;
  fs::path root_;
};

// Returns the processes that `pid` started and that still run.
std::vector<pid_t> ChildrenOf(pid_t pid) {
  std::vector<pid_t> children;
  std::error_code ignored;
  const fs::path tasks = "/proc/" + std::to_string(pid) + "/task";
  for (const auto& task : fs::directory_iterator(tasks, ignored)) {
    std::ifstream listed(task.path() / "children");
    for (pid_t child = 0; listed >> child;) children.push_back(child);
  }
  return children;
}

TEST_F(CommandLineFaultTest, AKilledOrStoppedDecoderCostsItsPictureOnly) {
  for (int i = 0; i < 6; ++i) {
    WriteJpeg(root_ / "in" / ("p" + std::to_string(i) + ".jpg"), 1600, 1200,
              static_cast<uint8_t>(40 * i));
  }
  struct Case {
    int signal;
    const char* decoder;  // null: the program's own
    const char* timeout;
    const char* jobs;
    const char* reason;
  };
  const Case cases[] = {
      // The fault decoder hangs in the largest file, which is taken first:
      // once the photos are made, the one decoder still at work is in it.
      {SIGSEGV, VG_FAULT_DECODER_EXE, "600", "2",
       "stuck.jpg: decoder crashed (signal 11)"},
      // Stopped at any moment with pictures left, it costs the next one.
      {SIGSTOP, nullptr, "3", "1", ": decoder took longer than 3 s"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reason);
    fs::remove_all(root_ / "out");
    fs::create_directory(root_ / "out");
    fs::remove(root_ / "in" / "stuck.jpg");
    const char* previous = std::getenv("VIGNETTES_DECODER");
    const std::string restore = previous != nullptr ? previous : "";
    if (c.decoder != nullptr) {
      std::ofstream(root_ / "in" / "stuck.jpg") << "VGFAULT hang\n"
                                                << std::string(4 << 20, ' ');
      setenv("VIGNETTES_DECODER", c.decoder, 1);
    }
    const pid_t program =
        Start({"--origin", In(), "--dest", Out(), "--width", "120", "-j",
               c.jobs, "--decode-timeout", c.timeout});
    setenv("VIGNETTES_DECODER", restore.c_str(), 1);
    const size_t wanted = c.decoder != nullptr ? 6 : 1;
    const auto limit =
        std::chrono::steady_clock::now() + std::chrono::minutes(4);
    while (FilesIn(root_ / "out").size() < wanted &&
           std::chrono::steady_clock::now() < limit) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    for (pid_t decoder : ChildrenOf(program)) kill(decoder, c.signal);
    const Outcome outcome = Wait(program);
    EXPECT_EQ(outcome.exit_code, 1) << outcome.err;
    EXPECT_NE(outcome.err.find(c.reason), std::string::npos) << outcome.err;
    EXPECT_EQ(std::count(outcome.err.begin(), outcome.err.end(), '\n'), 1)
        << outcome.err;
    EXPECT_EQ(FilesIn(root_ / "out").size(), 5u + (c.decoder != nullptr));
  }
}

TEST_F(CommandLineFaultTest, FortyThousandFilesCountUpTo32767AndNoFurther) {
  // Mostly tiny files that are not pictures, and two pictures: one first,
  // one past the 32767th file.
  for (int i = 0; i < 40000; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "f%05d.txt", i);
    std::ofstream(root_ / "in" / name) << 'x';
  }
  WriteJpeg(root_ / "in" / "a.jpg", 64, 48);
  WriteJpeg(root_ / "in" / "zz.jpg", 64, 48);
  Outcome outcome =
      Run({"--origin", In(), "--dest", Out(), "--width", "16", "--jobs", "2"});

  EXPECT_EQ(outcome.exit_code, 1);  // the text files could not be read
  // The summary counts them all (the window's caption stops at 32767).
  EXPECT_EQ(
      outcome.LastLine().rfind("40002 pictures: 2 written, 40000 failed, ", 0),
      0u)
      << outcome.LastLine();
  EXPECT_EQ(FilesIn(root_ / "out"), (std::set<std::string>{"a.jpg", "zz.jpg"}));
  EXPECT_EQ(WholeJpegWidth(root_ / "out" / "zz.jpg"), 16);
  // Every file that was not a picture is named, once.
  size_t named = 0;
  for (size_t at = outcome.err.find(".txt: "); at != std::string::npos;
       at = outcome.err.find(".txt: ", at + 1)) {
    ++named;
  }
  EXPECT_EQ(named, 40000u);
}

TEST_F(CommandLineFaultTest, NamesAndFoldersThatAreNotUtf8) {
  const fs::path origin = root_ / "in" / "d\xe9j\xe0";
  const fs::path dest = root_ / "\xff\xfe";
  fs::create_directory(origin);
  WriteJpeg(origin / "caf\xe9.jpg", 300, 200);
  WriteJpeg(origin / "x\x80y.jpg", 300, 200, 2);
  std::ofstream(origin / "\xc0\xaf.txt") << "not a picture";
  Outcome outcome = Run({"--origin", origin.string(), "--dest", dest.string(),
                         "--width", "150", "--jobs", "1"});

  EXPECT_EQ(outcome.exit_code, 1) << outcome.err;
  EXPECT_EQ(outcome.LastLine().rfind("3 pictures: 2 written, 1 failed, ", 0),
            0u)
      << outcome.LastLine();
  // The file that failed is named with its own bytes.
  EXPECT_NE(outcome.err.find("/\xc0\xaf.txt: "), std::string::npos)
      << outcome.err;
  std::set<std::string> written = FilesIn(dest);
  EXPECT_EQ(written.size(), 2u);
  for (const std::string& name : written) {
    EXPECT_EQ(WholeJpegWidth(dest / name), 150) << name;
  }
}

TEST_F(CommandLineFaultTest, DestinationThatCannotBeMadeIsAClearError) {
  WriteJpeg(root_ / "in" / "a.jpg", 64, 48);
  std::ofstream(root_ / "file") << "a file, not a folder";
  Outcome outcome = Run({"--origin", In(), "--dest",
                         (root_ / "file" / "out").string(), "--width", "16"});
  EXPECT_EQ(outcome.exit_code, 1);
  EXPECT_NE(outcome.err.find("cannot make the folder"), std::string::npos)
      << outcome.err;
  EXPECT_EQ(ReadAll(root_ / "file"), "a file, not a folder");

  // A missing one is made, parents and all.
  outcome = Run({"--origin", In(), "--dest", (root_ / "new" / "deep").string(),
                 "--width", "16"});
  EXPECT_EQ(outcome.exit_code, 0) << outcome.err;
  EXPECT_EQ(WholeJpegWidth(root_ / "new" / "deep" / "a.jpg"), 16);
}

TEST_F(CommandLineFaultTest, ReadOnlyDestinationNamesEveryFileAndKeepsItsOwn) {
  WriteJpeg(root_ / "in" / "a.jpg", 64, 48);
  WriteJpeg(root_ / "in" / "b.jpg", 64, 48);
  fs::create_directory(root_ / "out");
  std::ofstream(root_ / "out" / "a.jpg") << "older";
  // Root writes anywhere: it runs the program as nobody over folders that
  // only root may write to; anyone else takes the write bit away.
  const bool as_nobody = geteuid() == 0;
  const fs::perms read_only = fs::perms::owner_read | fs::perms::owner_exec |
                              fs::perms::group_read | fs::perms::group_exec |
                              fs::perms::others_read | fs::perms::others_exec;
  if (as_nobody) {
    fs::permissions(root_, read_only | fs::perms::owner_write);
    fs::permissions(root_ / "in", read_only | fs::perms::owner_write);
    fs::permissions(root_ / "out" / "a.jpg", fs::perms::owner_read |
                                                 fs::perms::owner_write |
                                                 fs::perms::others_read);
  }
  fs::permissions(root_ / "out", read_only);
  Outcome outcome =
      Run({"--origin", In(), "--dest", Out(), "--width", "16"}, 0, as_nobody);
  fs::permissions(root_ / "out", fs::perms::owner_all);

  EXPECT_EQ(outcome.exit_code, 1) << outcome.err;
  EXPECT_NE(outcome.err.find("/a.jpg: could not be written"),
            std::string::npos);
  EXPECT_NE(outcome.err.find("/b.jpg: could not be written"),
            std::string::npos);
  EXPECT_EQ(FilesIn(root_ / "out"), std::set<std::string>{"a.jpg"});
  EXPECT_EQ(ReadAll(root_ / "out" / "a.jpg"), "older");
}

TEST_F(CommandLineFaultTest, FullDestinationWritesWhatFitsAndNothingPartial) {
  // Noise: a 400-wide thumbnail is tens of kilobytes, a 16-wide one is not.
  WriteJpeg(root_ / "in" / "a.jpg", 800, 600);
  WriteJpeg(root_ / "in" / "b.jpg", 800, 600, 2);
  fs::create_directory(root_ / "out");
  std::ofstream(root_ / "out" / "b.jpg") << "older";
  Outcome outcome =
      Run({"--origin", In(), "--dest", Out(), "--width", "400", "--jobs", "2"},
          8192);
  EXPECT_EQ(outcome.exit_code, 1) << outcome.err;
  EXPECT_NE(outcome.err.find("/a.jpg: could not be written"), std::string::npos)
      << outcome.err;
  EXPECT_NE(outcome.err.find("/b.jpg: could not be written"),
            std::string::npos);
  EXPECT_EQ(FilesIn(root_ / "out"), std::set<std::string>{"b.jpg"});
  EXPECT_EQ(ReadAll(root_ / "out" / "b.jpg"), "older");

  outcome = Run({"--origin", In(), "--dest", Out(), "--width", "16"}, 8192);
  EXPECT_EQ(outcome.exit_code, 0) << outcome.err;
  EXPECT_EQ(WholeJpegWidth(root_ / "out" / "a.jpg"), 16);
  EXPECT_EQ(WholeJpegWidth(root_ / "out" / "b.jpg"), 16);
}

TEST_F(CommandLineFaultTest,
       RunKilledMidwayLeavesWholeFilesAndTheNextRunTidies) {
  constexpr int kPictures = 24;
  for (int i = 0; i < kPictures; ++i) {
    WriteJpeg(root_ / "in" / ("p" + std::to_string(100 + i) + ".jpg"), 640, 480,
              static_cast<unsigned>(i + 1));
  }
  const std::vector<std::string> args = {"--origin", In(),  "--dest", Out(),
                                         "--width",  "320", "--jobs", "2"};
  pid_t child = Start(args);
  // Killed as soon as the first thumbnail is there: others are under way.
  for (int waited = 0; waited < 6000; ++waited) {
    std::error_code ignored;
    if (fs::exists(root_ / "out" / "p100.jpg", ignored)) break;
    usleep(5000);
  }
  kill(child, SIGKILL);
  EXPECT_EQ(Wait(child).exit_code, -1);

  int whole = 0;
  for (const std::string& name : FilesIn(root_ / "out")) {
    if (name.front() == '.') continue;  // a temporary file of the killed run
    EXPECT_EQ(WholeJpegWidth(root_ / "out" / name), 320) << name;
    ++whole;
  }
  EXPECT_GE(whole, 1);

  Outcome outcome = Run(args);
  EXPECT_EQ(outcome.exit_code, 0) << outcome.err;
  std::set<std::string> written = FilesIn(root_ / "out");
  EXPECT_EQ(written.size(), static_cast<size_t>(kPictures));
  for (const std::string& name : written) {
    EXPECT_NE(name.front(), '.') << "left behind: " << name;
    EXPECT_EQ(WholeJpegWidth(root_ / "out" / name), 320) << name;
  }
}

// The pictures of `out` (a two-size tree) whose both thumbnails are there:
// "sub/a.jpg" for out/sub/a.jpg and out/sub/Grand/a.jpg.
std::set<std::string> WholePictures(const fs::path& out) {
  std::set<std::string> whole;
  const std::set<std::string> paths = testing::TreeIn(out);
  for (const std::string& path : paths) {
    const fs::path p(path);
    if (p.filename().string().front() == '.' ||
        p.parent_path().filename() == "Grand") {
      continue;
    }
    if (paths.count((p.parent_path() / "Grand" / p.filename()).string()) != 0)
      whole.insert(path);
  }
  return whole;
}

// A recursive run killed once a picture is whole, then finished with
// --update: the tree is the one an uninterrupted run writes, byte for byte,
// and what was done before the kill is not done again. The killed run
// cannot end on its own, however fast the machine: its decoder hangs in one
// file (which the program's own decoder later refuses as no picture).
TEST_F(CommandLineFaultTest, AKilledRunIsFinishedByUpdateAsIfNeverStopped) {
  for (const char* folder : {"a", "b/c", "d e"}) {
    fs::create_directories(root_ / "in" / folder);
    for (int i = 0; i < 8; ++i) {
      WriteJpeg(root_ / "in" / folder / ("p" + std::to_string(i) + ".jpg"), 640,
                480, i + folder[0]);
    }
  }
  std::ofstream(root_ / "in" / "b" / "notes.txt") << "no picture";
  std::ofstream(root_ / "in" / "a" / "stuck.jpg") << "VGFAULT hang\n";
  const auto args = [&](const fs::path& dest) {
    return std::vector<std::string>{
        "-r", "--origin", In(),  "--dest", dest.string(), "--small",
        "80", "--large",  "320", "-j",     "2",           "--decode-timeout",
        "600"};
  };
  const char* previous = std::getenv("VIGNETTES_DECODER");
  const std::string restore = previous != nullptr ? previous : "";
  setenv("VIGNETTES_DECODER", VG_FAULT_DECODER_EXE, 1);
  pid_t child = Start(args(root_ / "out"));
  setenv("VIGNETTES_DECODER", restore.c_str(), 1);
  for (int waited = 0; waited < 6000; ++waited) {
    if (!WholePictures(root_ / "out").empty()) break;
    usleep(5000);
  }
  // Its decoders go too, the hanging one with them.
  const std::vector<pid_t> decoders = ChildrenOf(child);
  kill(child, SIGKILL);
  for (pid_t decoder : decoders) kill(decoder, SIGKILL);
  EXPECT_EQ(Wait(child).exit_code, -1);
  const std::set<std::string> done_before = WholePictures(root_ / "out");
  ASSERT_FALSE(done_before.empty());
  std::map<std::string, fs::file_time_type> times;
  for (const std::string& path : done_before) {
    times[path] = fs::last_write_time(root_ / "out" / path);
  }

  std::vector<std::string> update = args(root_ / "out");
  update.insert(update.end(),
                {"--update", "--report", (root_ / "report").string()});
  Outcome outcome = Run(update);
  EXPECT_EQ(outcome.exit_code, 1) << outcome.err;  // notes.txt, stuck.jpg
  EXPECT_NE(outcome.LastLine().find(" " + std::to_string(done_before.size()) +
                                    " up to date, 2 failed"),
            std::string::npos)
      << outcome.LastLine();
  for (const std::string& path : done_before) {
    EXPECT_EQ(fs::last_write_time(root_ / "out" / path), times[path]) << path;
  }
  // The report names each picture once, those done before as up to date.
  std::istringstream report(ReadAll(root_ / "report"));
  size_t lines = 0, up_to_date = 0;
  for (std::string line; std::getline(report, line); ++lines) {
    if (line.find("\"status\":\"up-to-date\"") != std::string::npos) {
      ++up_to_date;
      bool named = false;
      for (const std::string& path : done_before) {
        named = named || line.find("[\"" + Out() + "/" + path + "\"") !=
                             std::string::npos;
      }
      EXPECT_TRUE(named) << line;
    }
  }
  EXPECT_EQ(lines, 26u);
  EXPECT_EQ(up_to_date, done_before.size());

  EXPECT_EQ(Run(args(root_ / "whole")).exit_code, 1);
  std::string why;
  EXPECT_TRUE(testing::SameTree(root_ / "out", root_ / "whole", &why)) << why;
}

}  // namespace
}  // namespace vg::cli
