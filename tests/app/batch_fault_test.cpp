// The batch when the file system changes under it: origin files that vanish
// or change between the listing and their load, a destination removed or
// made read-only in the middle of a run, names that are not UTF-8. Each ends
// with the files that could be made written, the others named among the
// failures, and nothing of the origin lost.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "app/batch_generator.h"
#include "common/run_as_nobody.h"
#include "common/test_files.h"
#include "platform/code_page.h"

namespace vg::app {
namespace {

namespace fs = std::filesystem;
using testing::ReadBytes;
using testing::ReadJpegInfo;
using testing::TempFolder;
using testing::WriteJpeg;

std::set<std::string> FilesIn(const fs::path& folder) {
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(folder)) {
    names.insert(e.path().filename().string());
  }
  return names;
}

// The failures of the run as (file name, reason) pairs.
std::vector<std::pair<std::string, std::string>> Failures(const Form1& form) {
  std::vector<std::pair<std::string, std::string>> out;
  for (const FailedFile& f : form.failures()) {
    out.emplace_back(fs::path(platform::ToAnsi(f.path)).filename().string(),
                     f.reason);
  }
  return out;
}

class BatchFaultTest : public ::testing::Test {
 protected:
  BatchFaultTest() {
    form_.Text1.set_text(in_.text());
    form_.Text2.set_text(out_.text());
  }

  // Runs `action` once, at the first yield after the caption reads
  // `caption` (the batch yields three times per picture).
  void AtCaption(const std::u16string& caption,
                 const std::function<void()>& action) {
    form_.set_yield([this, caption, action, done = false]() mutable {
      if (!done && form_.caption() == caption) {
        done = true;
        action();
      }
    });
  }

  void Run() { RunBatch(form_); }

  TempFolder in_, out_;
  Form1 form_;
};

TEST_F(BatchFaultTest, OriginFilesThatVanishOrChangeAfterTheListing) {
  for (const char* name : {"a.jpg", "b.jpg", "c.jpg", "d.jpg", "e.jpg"}) {
    WriteJpeg(in_.path() / name, 300, 200);
  }
  // While a.jpg is being made, the other files change under the listing.
  AtCaption(u"photo : 1", [&] {
    fs::remove(in_.path() / "b.jpg");  // gone
    std::ofstream(in_.path() / "c.jpg", std::ios::trunc) << "now text";
    WriteJpeg(in_.path() / "d.jpg", 600, 150);  // other picture
    fs::remove(in_.path() / "e.jpg");
    fs::create_directory(in_.path() / "e.jpg");  // now a folder
  });
  Run();

  // Counted all the same; the load of the moment decides.
  EXPECT_EQ(form_.caption(), u"photo : 5");
  EXPECT_EQ(FilesIn(out_.path()), (std::set<std::string>{"a.jpg", "d.jpg"}));
  EXPECT_EQ(ReadJpegInfo(out_.path() / "a.jpg").height, 100);
  EXPECT_EQ(ReadJpegInfo(out_.path() / "d.jpg").height, 38);  // 37.5 -> 38
  std::set<std::string> failed;
  for (const auto& [name, reason] : Failures(form_)) {
    EXPECT_FALSE(reason.empty()) << name;
    failed.insert(name);
  }
  EXPECT_EQ(failed, (std::set<std::string>{"b.jpg", "c.jpg", "e.jpg"}));
  EXPECT_TRUE(fs::is_directory(in_.path() / "e.jpg"));
}

TEST_F(BatchFaultTest, DestinationRemovedDuringTheRunFailsTheRestQuietly) {
  for (const char* name : {"a.jpg", "b.jpg", "c.jpg"}) {
    WriteJpeg(in_.path() / name, 300, 200);
  }
  const std::string a_bytes = ReadBytes(in_.path() / "a.jpg");
  AtCaption(u"photo : 2", [&] { fs::remove_all(out_.path()); });
  Run();

  EXPECT_EQ(form_.caption(), u"photo : 3");
  EXPECT_FALSE(fs::exists(out_.path()));  // never made again behind our back
  EXPECT_EQ(Failures(form_), (std::vector<std::pair<std::string, std::string>>{
                                 {"b.jpg", "could not be written"},
                                 {"c.jpg", "could not be written"}}));
  EXPECT_EQ(ReadBytes(in_.path() / "a.jpg"), a_bytes);
  EXPECT_EQ(FilesIn(in_.path()),
            (std::set<std::string>{"a.jpg", "b.jpg", "c.jpg"}));
}

TEST_F(BatchFaultTest, DestinationMadeReadOnlyKeepsWhatItHeld) {
  for (const char* name : {"a.jpg", "b.jpg"}) {
    WriteJpeg(in_.path() / name, 300, 200);
  }
  std::ofstream(out_.path() / "b.jpg") << "an older thumbnail";
  // Root writes into read-only folders: a child of user nobody, whom the
  // mode binds, runs the batch instead, over an origin it may read and a
  // destination of its own.
  const bool as_nobody = geteuid() == 0;
  if (as_nobody) {
    test_support::OpenToOthers(in_.path());
    test_support::OpenToOthers(out_.path());
    ASSERT_EQ(chown(out_.path().c_str(), test_support::kNobody,
                    test_support::kNobody),
              0);
  }
  AtCaption(u"photo : 2", [&] {
    fs::permissions(out_.path(), fs::perms::owner_read | fs::perms::owner_exec);
  });
  // The failures as "name: reason" lines.
  const auto run = [this] {
    Run();
    std::string lines;
    for (const auto& [name, reason] : Failures(form_)) {
      lines += name + ": " + reason + "\n";
    }
    return lines;
  };
  std::string failures;
  if (as_nobody) {
    const test_support::ChildOutcome child = test_support::RunAsNobody(run);
    EXPECT_EQ(child.exit_code, 0) << child.out;
    failures = child.out;
  } else {
    failures = run();
  }
  fs::permissions(out_.path(), fs::perms::owner_all);

  EXPECT_EQ(FilesIn(out_.path()), (std::set<std::string>{"a.jpg", "b.jpg"}));
  EXPECT_EQ(ReadBytes(out_.path() / "b.jpg"), "an older thumbnail");
  EXPECT_EQ(ReadJpegInfo(out_.path() / "a.jpg").width, 150);
  EXPECT_EQ(failures, "b.jpg: could not be written\n");
}

TEST_F(BatchFaultTest, DestinationFillingUpKeepsOlderFilesWhole) {
  for (const char* name : {"a.jpg", "b.jpg", "c.jpg"}) {
    WriteJpeg(in_.path() / name, 300, 200);
  }
  std::ofstream(out_.path() / "b.jpg") << "an older thumbnail";
  // From the second picture on, no file may grow past 16 bytes: writes fail
  // with EFBIG as on a full disk.
  rlimit old_limit{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old_limit), 0);
  sighandler_t old_handler = signal(SIGXFSZ, SIG_IGN);
  AtCaption(u"photo : 2", [&] {
    rlimit limit = old_limit;
    limit.rlim_cur = 16;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
  });
  Run();
  setrlimit(RLIMIT_FSIZE, &old_limit);
  signal(SIGXFSZ, old_handler);

  EXPECT_EQ(FilesIn(out_.path()), (std::set<std::string>{"a.jpg", "b.jpg"}));
  EXPECT_EQ(ReadJpegInfo(out_.path() / "a.jpg").width, 150);
  EXPECT_EQ(ReadBytes(out_.path() / "b.jpg"), "an older thumbnail");
  EXPECT_EQ(Failures(form_), (std::vector<std::pair<std::string, std::string>>{
                                 {"b.jpg", "could not be written"},
                                 {"c.jpg", "could not be written"}}));
}

TEST_F(BatchFaultTest, NamesThatAreNotUtf8AreLoadedAndWritten) {
  // Latin-1 "é", a lone continuation byte and an overlong "/" encoding.
  const std::string names[] = {"caf\xe9.jpg", "x\x80y.jpg", "\xc0\xaf.jpg"};
  for (const std::string& name : names) WriteJpeg(in_.path() / name, 300, 200);
  Run();

  EXPECT_EQ(form_.caption(), u"photo : 3");
  EXPECT_TRUE(form_.failures().empty())
      << platform::ToAnsi(form_.failures()[0].path) << ": "
      << form_.failures()[0].reason;
  // One whole thumbnail per picture, each under a name of its own, all
  // inside the destination.
  std::set<std::string> written = FilesIn(out_.path());
  EXPECT_EQ(written.size(), 3u);
  for (const std::string& name : written) {
    EXPECT_EQ(ReadJpegInfo(out_.path() / name).width, 150) << name;
  }
  for (const std::string& name : names) {
    EXPECT_TRUE(fs::exists(in_.path() / name));
  }
}

TEST_F(BatchFaultTest, FoldersThatAreNotUtf8) {
  const fs::path origin = in_.path() / "d\xe9j\xe0";
  const fs::path dest = out_.path() / "\xff";
  fs::create_directory(origin);
  fs::create_directory(dest);
  WriteJpeg(origin / "a.jpg", 300, 200);
  form_.Text1.set_text(platform::FromAnsi(origin.string() + "/"));
  form_.Text2.set_text(platform::FromAnsi(dest.string() + "/"));
  Run();

  EXPECT_TRUE(form_.failures().empty());
  EXPECT_EQ(ReadJpegInfo(dest / "a.jpg").width, 150);
}

}  // namespace
}  // namespace vg::app
