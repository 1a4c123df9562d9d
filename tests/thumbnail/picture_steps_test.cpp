#include "thumbnail/picture_steps.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "common/test_files.h"
#include "platform/code_page.h"

namespace vg::thumbnail {
namespace {

using testing::TempFolder;

// Writes each step it is told as one line, and answers with what a case
// asks: a height per set (0: none), and an output per set.
class Recorder final : public PictureSteps {
 public:
  Recorder(std::vector<int32_t> heights, std::vector<std::u16string> outputs)
      : heights_(std::move(heights)), outputs_(std::move(outputs)) {}

  const InputGuard& inputs() const override { return inputs_; }
  double LoadWidth() override { return 150; }
  void Loaded(const platform::PicturePtr& picture) override {
    Log("loaded " + std::to_string(picture->Width()));
  }
  Sized Height(size_t set, const platform::Picture& /*picture*/) override {
    Log("height " + std::to_string(set));
    return heights_[set] > 0 ? Sized{heights_[set], ""} : Sized{0, "no height"};
  }
  Target ToDraw(size_t set, const platform::PicturePtr& loaded) override {
    return {loaded.get(), 150, outputs_[set]};
  }
  void Drawn(size_t set, const Thumbnail& thumb) override {
    Log("drawn " + std::to_string(set) + " " +
        std::to_string(thumb.dib.Height()));
  }
  void Written(size_t set, const std::u16string& /*output*/,
               const Thumbnail& /*thumb*/) override {
    Log("written " + std::to_string(set));
  }
  void Failed(size_t set, const std::u16string& path,
              std::string reason) override {
    const std::string name = platform::ToAnsi(path);
    Log("failed " + (set == kEverySet ? "all" : std::to_string(set)) + " " +
        name.substr(name.find_last_of('/') + 1) + ": " + reason);
  }
  void Finished() override { Log("finished"); }

  std::string log;

 private:
  void Log(const std::string& line) { log += line + "\n"; }

  std::vector<int32_t> heights_;
  std::vector<std::u16string> outputs_;
  InputGuard inputs_{{}};
};

// Each set's steps in order; a set that fails ends alone, a picture that
// cannot be read ends them all, and each failure names the right file.
TEST(PictureStepsTest, TellsEveryStepAndEachFailureOnItsFile) {
  TempFolder in;
  testing::WriteJpeg(in.path() / "a.jpg", 300, 200);
  std::ofstream(in.path() / "b.jpg") << "not a picture";
  const std::u16string out = in.text() + u"out.jpg";
  const std::u16string nowhere = in.text() + u"missing/out.jpg";
  struct Case {
    const char16_t* input;
    std::vector<int32_t> heights;
    std::vector<std::u16string> outputs;
    const char* log;
  };
  const Case cases[] = {
      {u"a.jpg",
       {100, 0},
       {out, out},
       "loaded 300\nheight 0\ndrawn 0 100\nwritten 0\n"
       "height 1\nfailed 1 a.jpg: no height\nfinished\n"},
      {u"a.jpg",
       {50},
       {nowhere},
       "loaded 300\nheight 0\ndrawn 0 50\n"
       "failed 0 out.jpg: could not be written\nfinished\n"},
      {u"b.jpg", {100, 100}, {out, out}, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(platform::ToAnsi(c.input));
    Recorder steps(c.heights, c.outputs);
    MakePicture(in.text() + c.input, c.heights.size(), steps);
    if (c.log != nullptr) {
      EXPECT_EQ(steps.log, c.log);
    } else {
      // Not read: one failure for every set, with the reader's reason.
      EXPECT_EQ(steps.log.rfind("failed all b.jpg: Invalid picture", 0), 0u)
          << steps.log;
      EXPECT_NE(steps.log.find("\nfinished\n"), std::string::npos);
      EXPECT_EQ(steps.log.find("height"), std::string::npos);
    }
  }
  EXPECT_EQ(testing::ReadJpegInfo(in.path() / "out.jpg").height, 100);
}

}  // namespace
}  // namespace vg::thumbnail
