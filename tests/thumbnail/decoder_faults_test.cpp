// A run whose pictures are decoded in decoder processes: a decoder that
// crashes, hangs, runs out of memory or makes a forbidden call costs its
// picture only, named, and every other thumbnail is the one a run decoding
// in the program writes, for any number of jobs.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "common/test_files.h"
#include "decoders/decoder_processes.h"
#include "platform/code_page.h"
#include "thumbnail/engine.h"

namespace vg::thumbnail {
namespace {

namespace fs = std::filesystem;
using testing::SameTree;
using testing::TempFolder;

Job TwoSizes(const TempFolder& in, const TempFolder& out, int jobs) {
  Job job;
  job.listing = in.text();
  job.load_prefix = in.text();
  job.sets = {{out.text(), 100}, {out.text() + u"Grand/", 450}};
  job.jobs = jobs;
  fs::create_directories(out.path() / "Grand");
  return job;
}

// Six photos of different sizes and details.
void WritePhotos(const fs::path& folder) {
  for (int i = 0; i < 6; ++i) {
    testing::WriteDetailedJpeg(folder / ("p" + std::to_string(i) + ".jpg"),
                               500 + 170 * i, 900 - 60 * i, i);
  }
}

std::map<std::string, std::string> Reasons(const Summary& summary) {
  std::map<std::string, std::string> reasons;
  for (const Failure& f : summary.failures) {
    reasons[fs::path(platform::ToAnsi(f.path)).filename().string()] = f.reason;
  }
  return reasons;
}

TEST(DecoderFaultsTest, EachFaultFailsItsPictureAndTheRestIsAsInTheProgram) {
  TempFolder photos;
  TempFolder expected;
  WritePhotos(photos.path());
  const Summary reference = thumbnail::Run(TwoSizes(photos, expected, 1));
  ASSERT_EQ(reference.written, 6u);

  TempFolder in;
  WritePhotos(in.path());
  for (const char* fault : {"crash", "hang", "write", "socket", "exec"}) {
    std::ofstream(in.path() / (std::string(fault) + ".jpg"))
        << "VGFAULT " << fault << "\n";
  }
  decoders::DecoderProcessOptions options;
  options.executable = VG_FAULT_DECODER_EXE;
  options.timeout_seconds = 5;
  for (int jobs : {1, 3}) {
    SCOPED_TRACE("jobs " + std::to_string(jobs));
    decoders::DecoderProcesses processes(options);
    const decoders::UseDecoderProcesses in_processes(processes);
    TempFolder out;
    const Summary done = thumbnail::Run(TwoSizes(in, out, jobs));
    EXPECT_EQ(done.written, 6u);
    EXPECT_EQ(done.failed, 5u);
    const std::map<std::string, std::string> expected_reasons = {
        {"crash.jpg", "decoder crashed (signal 11)"},
        {"hang.jpg", "decoder took longer than 5 s"},
        {"write.jpg", "decoder made a forbidden call (openat)"},
        {"socket.jpg", "decoder made a forbidden call (socket)"},
        {"exec.jpg", "decoder made a forbidden call (execve)"},
    };
    EXPECT_EQ(Reasons(done), expected_reasons);
    std::string why;
    EXPECT_TRUE(SameTree(out.path(), expected.path(), &why)) << why;
    EXPECT_LE(processes.Pids().size(), static_cast<size_t>(jobs));
  }
}

TEST(DecoderFaultsTest, ADecoderKilledMidRunCostsOnePicture) {
  TempFolder photos;
  TempFolder expected;
  WritePhotos(photos.path());
  ASSERT_EQ(thumbnail::Run(TwoSizes(photos, expected, 1)).written, 6u);

  TempFolder in;
  WritePhotos(in.path());
  std::ofstream(in.path() / "stuck.jpg") << "VGFAULT hang\n";
  decoders::DecoderProcessOptions options;
  options.executable = VG_FAULT_DECODER_EXE;
  options.timeout_seconds = 3600;
  decoders::DecoderProcesses processes(options);
  const decoders::UseDecoderProcesses in_processes(processes);
  TempFolder out;
  // Two jobs: once every photo is made, the one decoder still busy is in
  // the stuck picture, and is killed from outside.
  std::thread killer([&] {
    const auto limit =
        std::chrono::steady_clock::now() + std::chrono::minutes(4);
    while ((testing::TreeIn(out.path()).size() < 12 ||
            processes.BusyPids().empty()) &&
           std::chrono::steady_clock::now() < limit) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    for (pid_t pid : processes.BusyPids()) kill(pid, SIGSEGV);
  });
  const Summary done = thumbnail::Run(TwoSizes(in, out, 2));
  killer.join();
  EXPECT_EQ(done.written, 6u);
  ASSERT_EQ(done.failures.size(), 1u);
  EXPECT_EQ(Reasons(done)["stuck.jpg"], "decoder crashed (signal 11)");
  std::string why;
  EXPECT_TRUE(SameTree(out.path(), expected.path(), &why)) << why;
}

}  // namespace
}  // namespace vg::thumbnail
