// Pictures decoded in decoder processes: the same pixels and errors as a
// decode in the program, a decoder's fault named and costing its picture
// only, the confinement seen from outside.
#include "decoders/decoder_processes.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "decoders/internal/decode_budget.h"
#include "decoders/internal/decoder_wire.h"
#include "metafile_testutil.h"
#include "picture_testutil.h"
#include "platform/error.h"

namespace vg::decoders {
namespace {

namespace fs = std::filesystem;
using testing::NativeToUtf16;
using testing::TempFolder;

// What a decode gave: the picture, or the error it raised.
struct Outcome {
  DecodedImage image;
  int32_t number = 0;
  std::string description;
};

Outcome DecodeAs(const fs::path& path, const DecodeHint& hint) {
  Outcome outcome;
  try {
    outcome.image = DecodePictureFile(NativeToUtf16(path), hint);
  } catch (const platform::Error& e) {
    outcome.number = e.number();
    outcome.description = e.description();
  }
  return outcome;
}

void WriteText(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

DecoderProcessOptions FaultyDecoders(double timeout_seconds = 20) {
  DecoderProcessOptions options;
  options.executable = VG_FAULT_DECODER_EXE;
  options.timeout_seconds = timeout_seconds;
  options.memory_limit_bytes = int64_t{256} << 20;
  return options;
}

// Returns true when some pixel of `image` is far from white.
bool DrawsSomething(const DecodedImage& image) {
  for (uint8_t value : image.bgrx) {
    if (value < 128) return true;
  }
  return false;
}

TEST(DecoderProcessesTest, EveryPictureDecodesAsInTheProgram) {
  // Every committed picture, and metafiles whose text needs font files,
  // and ICU's code page tables.
  std::vector<fs::path> pictures;
  for (const auto& entry :
       fs::directory_iterator(fs::path(VG_TEST_PICTURES_DIR))) {
    if (entry.is_regular_file()) pictures.push_back(entry.path());
  }
  TempFolder folder;
  testing::EmfWriter emf(192, 96);
  emf.Font(1, -32, u"Arial").Select(1).Text(20, 30, u"Hello");
  testing::WmfWriter wmf(0, 0, 192, 96, 96);
  wmf.Window(0, 0, 192, 96).Text(20, 30, 32, "Hello");
  testing::WmfWriter cyrillic(0, 0, 192, 96, 96);
  cyrillic.Text(20, 30, 32, "\xCF\xF0\xE8\xE2\xE5\xF2", 204);  // CP1251
  for (const auto& [name, bytes] :
       {std::pair{"text.emf", emf.Finish()},
        std::pair{"text.wmf", wmf.Finish()},
        std::pair{"cyrillic.wmf", cyrillic.Finish()}}) {
    std::ofstream(folder.path() / name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    pictures.push_back(folder.path() / name);
    EXPECT_TRUE(DrawsSomething(DecodeAs(folder.path() / name, {}).image));
  }
  DecoderProcesses processes;
  int compared = 0;
  for (const fs::path& picture : pictures) {
    for (const DecodeHint hint : {DecodeHint{}, DecodeHint{40, 0}}) {
      SCOPED_TRACE(picture.filename().string() + " at " +
                   std::to_string(hint.target_width_px));
      const Outcome here = DecodeAs(picture, hint);
      Outcome there;
      {
        const UseDecoderProcesses in_processes(processes);
        there = DecodeAs(picture, hint);
      }
      EXPECT_EQ(there.number, here.number);
      EXPECT_EQ(there.description, here.description);
      EXPECT_EQ(there.image.width, here.image.width);
      EXPECT_EQ(there.image.height, here.image.height);
      EXPECT_EQ(there.image.pixel_width, here.image.pixel_width);
      EXPECT_EQ(there.image.pixel_height, here.image.pixel_height);
      EXPECT_TRUE(there.image.bgrx == here.image.bgrx);
      ++compared;
    }
  }
  EXPECT_GT(compared, 40);
  // One caller at a time: one process did it all.
  EXPECT_EQ(processes.Pids().size(), 1u);
}

TEST(DecoderProcessesTest, FaultsFailTheirPictureAndTheNextDecodes) {
  if (fs::exists("/tmp/vignettes-fault-decoder-was-here")) {
    fs::remove("/tmp/vignettes-fault-decoder-was-here");
  }
  struct Case {
    const char* fault;
    int32_t number;
    const char* description;
    double timeout_seconds = 120;  // long enough for a loaded machine
  };
  const Case cases[] = {
      {"crash", 481, "decoder crashed (signal 11)"},
      {"hang", 481, "decoder took longer than 1.5 s", 1.5},
      {"write", 481, "decoder made a forbidden call (openat)"},
      {"socket", 481, "decoder made a forbidden call (socket)"},
      {"exec", 481, "decoder made a forbidden call (execve)"},
      {"kill", 481, "decoder made a forbidden call (kill)"},
      {"exit", 481, "decoder ended (status 3)"},
      {"alpha", 481, "decoder sent a damaged reply"},
      {"alloc", 7, "decoder ran out of its 256 MB"},
  };
  TempFolder folder;
  vg::testing::WriteJpeg(folder.path() / "good.jpg", 64, 48);
  const Outcome good = DecodeAs(folder.path() / "good.jpg", {});
  ASSERT_EQ(good.number, 0);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fault);
    DecoderProcesses processes(FaultyDecoders(c.timeout_seconds));
    const UseDecoderProcesses in_processes(processes);
    if (std::string(c.fault) == "alloc" &&
        !processes.Confinement().memory_limit) {
      continue;  // a sanitizer build sets no memory limit
    }
    const fs::path bad = folder.path() / (std::string(c.fault) + ".jpg");
    WriteText(bad, std::string("VGFAULT ") + c.fault + "\n");
    const Outcome failed = DecodeAs(bad, {});
    EXPECT_EQ(failed.number, c.number);
    EXPECT_EQ(failed.description, c.description);
    const Outcome next = DecodeAs(folder.path() / "good.jpg", {});
    EXPECT_EQ(next.number, 0);
    EXPECT_TRUE(next.image.bgrx == good.image.bgrx);
    EXPECT_EQ(processes.Pids().size(), 1u);
  }
  EXPECT_FALSE(fs::exists("/tmp/vignettes-fault-decoder-was-here"));
}

TEST(DecoderProcessesTest, WhatTheLibrariesPrintStaysInTheDecoder) {
  TempFolder folder;
  const fs::path chatty = folder.path() / "chatty.jpg";
  WriteText(chatty, "VGFAULT chatter\n");
  for (const char* keep : {"", "1"}) {
    SCOPED_TRACE(keep);
    setenv("VIGNETTES_DECODER_STDERR", keep, 1);
    ::testing::internal::CaptureStderr();
    Outcome failed;
    {
      DecoderProcesses processes(FaultyDecoders());
      const UseDecoderProcesses in_processes(processes);
      failed = DecodeAs(chatty, {});
    }  // the decoder has ended: all it wrote is in
    const std::string said = ::testing::internal::GetCapturedStderr();
    unsetenv("VIGNETTES_DECODER_STDERR");
    EXPECT_EQ(failed.number, 481);
    EXPECT_EQ(said.find("Corrupt JPEG data") != std::string::npos,
              *keep != '\0')
        << said;
  }
}

TEST(DecoderProcessesTest, ConfinementSeenFromOutside) {
  DecoderProcesses processes;
  const DecoderConfinement confinement = processes.Confinement();
  EXPECT_TRUE(confinement.seccomp);
  EXPECT_TRUE(confinement.no_new_privileges);
  ASSERT_EQ(processes.Pids().size(), 1u);
  const pid_t pid = processes.Pids().front();
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  std::string seccomp;
  std::string no_new_privs;
  while (std::getline(status, line)) {
    if (line.rfind("Seccomp:", 0) == 0) seccomp = line;
    if (line.rfind("NoNewPrivs:", 0) == 0) no_new_privs = line;
  }
  EXPECT_EQ(seccomp, "Seccomp:\t2");
  EXPECT_EQ(no_new_privs, "NoNewPrivs:\t1");
  // Nothing open but its standard files, its socket and its pixel memory.
  int descriptors = 0;
  for (const auto& fd :
       fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd")) {
    (void)fd;
    ++descriptors;
  }
  EXPECT_EQ(descriptors, 5);
}

TEST(DecoderProcessesTest, BitmapStretchedToANegativeSizeIsDrawn) {
  // A placeable WMF whose StretchDIB draws a 2 x 2 bitmap mirrored over a
  // destination of -1 x -1, which libwmf once stretched for minutes: the
  // decoder draws it, within the default deadline.
  DecoderProcesses processes{DecoderProcessOptions{}};
  const UseDecoderProcesses in_processes(processes);
  const Outcome outcome = DecodeAs(fs::path(VG_FUZZ_DIR) / "library_faults" /
                                       "libwmf_slow_stretched_bitmap.wmf",
                                   {61, 0});
  EXPECT_EQ(outcome.number, 0) << outcome.description;
  EXPECT_EQ(outcome.image.pixel_width, 61);
}

TEST(DecoderProcessesTest, LeasesComeFromTheProgramsBudgetNotItsDeadline) {
  TempFolder folder;
  // Decoded whole, 36 MB: more than the credit each picture comes with.
  vg::testing::WriteJpeg(folder.path() / "big.jpg", 3000, 3000);
  DecoderProcessOptions options;
  options.timeout_seconds = 1.5;
  DecoderProcesses processes(options);
  const UseDecoderProcesses in_processes(processes);
  (void)processes.Confinement();  // started before the clock matters
  decoders_internal::DecodeBudget& budget =
      decoders_internal::SharedDecodeBudget();
  // Room for the credit, not for the lease the decoder asks beyond it.
  auto others = budget.Take(decoders_internal::kSharedDecodeBudgetBytes -
                            decoders_internal::kDecodeCreditBytes);
  Outcome outcome;
  std::thread decode(
      [&] { outcome = DecodeAs(folder.path() / "big.jpg", {}); });
  // The decoder's lease waits in this program's budget...
  while (budget.waiting() == 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  // ... longer than the deadline, which that wait does not count.
  std::this_thread::sleep_for(std::chrono::milliseconds(2000));
  others.Release();
  decode.join();
  EXPECT_EQ(outcome.description, "");
  EXPECT_EQ(outcome.image.pixel_width, 3000);
  EXPECT_EQ(budget.held(), 0);
}

TEST(DecoderProcessesTest, MissingProgramFailsEachPicture) {
  DecoderProcessOptions options;
  options.executable = "/nonexistent/vignettes-decoder";
  DecoderProcesses processes(options);
  const UseDecoderProcesses in_processes(processes);
  TempFolder folder;
  vg::testing::WriteJpeg(folder.path() / "a.jpg", 8, 8);
  const Outcome outcome = DecodeAs(folder.path() / "a.jpg", {});
  EXPECT_EQ(outcome.number, 481);
  EXPECT_EQ(outcome.description,
            "decoder could not be started: no decoder program "
            "(/nonexistent/vignettes-decoder)");
}

}  // namespace
}  // namespace vg::decoders
