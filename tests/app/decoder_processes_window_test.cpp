// The window's commands decode in decoder processes when the program runs
// them so: a decoder's fault is one more entry of the failure list, named,
// and every other thumbnail is the one an in-program decode writes.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "app/form1.h"
#include "common/test_files.h"
#include "decoders/decoder_processes.h"
#include "platform/code_page.h"
#include "platform/error.h"

namespace vg::app {
namespace {

namespace fs = std::filesystem;
using testing::SameFiles;
using testing::TempFolder;

void RunBatch(const TempFolder& in, const TempFolder& out, Form1& form) {
  form.Text1.set_text(in.text());
  form.Text2.set_text(out.text());
  form.petite.set_text(u"60");
  form.grande.set_text(u"200");
  fs::create_directory(out.path() / "Grand");
  form.Command5_Click();
}

TEST(DecoderProcessesWindowTest, TwoSizesListTheDecodersFaultAndWriteTheRest) {
  TempFolder in;
  for (int i = 0; i < 3; ++i) {
    testing::WriteDetailedJpeg(in.path() / ("p" + std::to_string(i) + ".jpg"),
                               700 + 90 * i, 500, i);
  }
  TempFolder expected;
  Form1 in_program;
  RunBatch(in, expected, in_program);
  ASSERT_TRUE(in_program.failures().empty());

  std::ofstream(in.path() / "crash.jpg") << "VGFAULT crash\n";
  decoders::DecoderProcessOptions options;
  options.executable = VG_FAULT_DECODER_EXE;
  decoders::DecoderProcesses processes(options);
  const decoders::UseDecoderProcesses in_processes(processes);
  TempFolder out;
  Form1 form;
  RunBatch(in, out, form);
  // Listed once for each size, as any file that does not load is.
  ASSERT_EQ(form.failures().size(), 2u);
  for (const FailedFile& failure : form.failures()) {
    EXPECT_EQ(fs::path(platform::ToAnsi(failure.path)).filename(), "crash.jpg");
    EXPECT_EQ(failure.reason, "decoder crashed (signal 11)");
  }
  std::string why;
  EXPECT_TRUE(SameFiles(out.path(), expected.path(), &why)) << why;
  EXPECT_TRUE(SameFiles(out.path() / "Grand", expected.path() / "Grand", &why))
      << why;

  // Command1's test picture too: a fault raises its named error.
  form.test_picture_path =
      platform::FromAnsi((in.path() / "crash.jpg").string());
  try {
    form.Command1_Click();
    ADD_FAILURE() << "loaded";
  } catch (const platform::Error& e) {
    EXPECT_EQ(e.description(), "decoder crashed (signal 11)");
  }
}

}  // namespace
}  // namespace vg::app
