#include "app/form1.h"

#include <unistd.h>

#include <array>
#include <cstdlib>
#include <string>

#include "app/batch_generator.h"
#include "decoders/load_picture.h"
#include "dib/a_dib_section.h"
#include "jpeg/librairie_graphique.h"
#include "platform/checked.h"
#include "platform/code_page.h"
#include "platform/error.h"
#include "thumbnail/make.h"

namespace vg::app {
namespace {

// How wide Command3 draws its test thumbnail, in pixels.
constexpr double kTestThumbnailWidth = 150;

// Marks a batch command as running for its whole length, even when it ends
// by raising.
class RunningScope {
 public:
  explicit RunningScope(Form1& form) : form_(form) { form_.set_running(true); }
  ~RunningScope() { form_.set_running(false); }
  RunningScope(const RunningScope&) = delete;
  RunningScope& operator=(const RunningScope&) = delete;

 private:
  Form1& form_;
};

bool Readable(const std::string& path) {
  return access(path.c_str(), R_OK) == 0;
}

std::string ExecutableFolder() {
  std::array<char, 4096> buf{};
  ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size() - 1);
  if (n <= 0) return ".";
  std::string path(buf.data(), static_cast<size_t>(n));
  return path.substr(0, path.find_last_of('/'));
}

}  // namespace

void TextBox::set_text(std::u16string text) {
  if (text == text_) return;
  text_ = std::move(text);
  owner_->Changed(id_);
}

Form1::Form1()
    : Text1(this, Control::kText1, u"Text1"),
      Text2(this, Control::kText2, u"Text2"),
      Largeur(this, Control::kLargeur, u"150"),
      petite(this, Control::kPetite, u"100"),
      grande(this, Control::kGrande, u"450"),
      Picture1(150, 113, /*auto_size=*/false),
      Picture2(257, 201, /*auto_size=*/true),
      test_picture_path(DefaultTestPicturePath()),
      test_thumbnail_path(DefaultTestThumbnailPath()) {}

void Form1::set_caption(std::u16string caption) {
  caption_ = std::move(caption);
  Changed(Control::kCaption);
}

void Form1::set_Option1(bool selected) {
  option1_ = selected;
  Changed(Control::kOption);
}

void Form1::set_Image1(platform::PicturePtr picture) {
  image1_ = std::move(picture);
  Changed(Control::kImage1);
}

void Form1::set_running(bool running) {
  running_ = running;
  if (running) stop_requested_ = false;
  Changed(Control::kRunning);
}

void Form1::Command1_Click() {
  Picture2.set_picture(decoders::LoadPicture(test_picture_path));
  Changed(Control::kPicture2);
}

void Form1::Command2_Click() {
  set_Image1(Picture2.kept_image());
  Picture1.set_picture(Image1());
  Changed(Control::kPicture1);
}

void Form1::Command3_Click() {
  int32_t a = thumbnail::ProportionalHeight(Picture2.width(), Picture2.height(),
                                            kTestThumbnailWidth);
  if (!Picture2.picture()) {
    throw platform::Error::Standard(platform::kErrObjectNotSet,
                                    "Form1.Command3");
  }
  Picture1.PaintPicture(
      *Picture2.picture(), 0, 0, kTestThumbnailWidth * kTwipsPerPixel,
      platform::CheckedMul32(a, static_cast<int32_t>(kTwipsPerPixel)));
  Picture1.set_picture(Picture1.kept_image());
  Changed(Control::kPicture1);
  dib::aDIBSection dib;
  if (!Picture1.picture()) {
    throw platform::Error::Standard(platform::kErrObjectNotSet,
                                    "Form1.Command3");
  }
  int32_t handle = Picture1.picture()->Handle();
  dib.CreateFromPicture(handle);
  // A failed write is no error: the result is not looked at.
  (void)jpeg::SaveDibAsJpeg(dib, test_thumbnail_path, thumbnail::kQuality);
}

void Form1::Command4_Click() {
  if (running_) return;  // one batch at a time
  RunningScope scope(*this);
  clear_failures();
  RunBatch(*this);
}

void Form1::Command5_Click() {
  if (running_) return;
  RunningScope scope(*this);
  clear_failures();
  RunTwoSizes(*this);
}

std::u16string DefaultTestPicturePath() {
  const std::string name = "/test_picture.jpg";
  if (const char* dir = std::getenv("VIGNETTES_DATA_DIR")) {
    return platform::FromAnsi(dir + name);
  }
  // Installed: PREFIX/bin/vignettes and PREFIX/share/vignettes/. In the build
  // tree the programs lie one folder deeper (src/gui/, tests/app/).
  const std::string exe = ExecutableFolder();
  for (const char* up : {"/..", "/../.."}) {
    std::string path = exe + up + "/share/vignettes" + name;
    if (Readable(path)) return platform::FromAnsi(path);
  }
  return platform::FromAnsi(exe + "/../share/vignettes" + name);
}

std::u16string DefaultTestThumbnailPath() {
  // Where the temporary folder is: $TMPDIR, else /tmp.
  const char* tmp = std::getenv("TMPDIR");
  std::string folder = (tmp != nullptr && *tmp != '\0') ? tmp : "/tmp";
  if (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return platform::FromAnsi(folder + "/a.jpg");
}

}  // namespace vg::app
