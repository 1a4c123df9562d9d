// File: app/form1.h
//
// The window's model: every control of `Form1` that holds a value -- the
// caption, the five text boxes, the option pair, the image and the two
// picture boxes -- and the window's commands. No widget lives here: the Qt
// window shows this model and forwards clicks to it (and tests drive it
// without a window). The command line does not use it: it drives the
// thumbnail engine (thumbnail/engine.h), which writes the same files.
//
//   Form1 form;
//   form.Text1.set_text(u"/photos/in/");
//   form.Text2.set_text(u"/photos/out/");
//   form.Command4_Click();              // the batch, "Générateur"
//
// Commands run on the caller's thread to their end. The batch yields through
// `set_yield` so that a window can repaint and take clicks between steps.
#ifndef VG_APP_FORM1_H_
#define VG_APP_FORM1_H_

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/picture_box.h"
#include "platform/picture.h"

namespace vg::app {

// Identifies a control in change notifications.
enum class Control {
  kCaption,
  kText1,
  kText2,
  kLargeur,
  kPetite,
  kGrande,
  kOption,
  kImage1,
  kPicture1,
  kPicture2,
  kRunning,  // a batch started or ended
};

class Form1;

// A text box: its whole text.
class TextBox {
 public:
  TextBox(Form1* owner, Control id, std::u16string text)
      : owner_(owner), id_(id), text_(std::move(text)) {}
  const std::u16string& text() const { return text_; }
  void set_text(std::u16string text);
  // The control whose change set_text announces.
  Control id() const { return id_; }

 private:
  Form1* owner_;
  Control id_;
  std::u16string text_;
};

// A file that a batch could not turn into a thumbnail, and why.
struct FailedFile {
  std::u16string path;  // the input file, or the output it was written to
  std::string reason;   // English, as the error descriptions are
};

class Form1 {
 public:
  Form1();
  Form1(const Form1&) = delete;
  Form1& operator=(const Form1&) = delete;

  // The title bar text.
  const std::u16string& caption() const { return caption_; }
  void set_caption(std::u16string caption);

  TextBox Text1;    // origin folder, typed with its trailing "/"
  TextBox Text2;    // destination: prefix of every output path
  TextBox Largeur;  // target width of the batch, pixels
  TextBox petite;   // small width of the two-size command
  TextBox grande;   // large width of the two-size command

  // The option pair: `Option1` ("largeur") selected means the height follows
  // from the width; selecting one clears the other.
  bool Option1() const { return option1_; }
  bool Option2() const { return !option1_; }
  void set_Option1(bool selected);
  void set_Option2(bool selected) { set_Option1(!selected); }

  // The image control: shows its picture stretched to its own size.
  const platform::PicturePtr& Image1() const { return image1_; }
  void set_Image1(platform::PicturePtr picture);

  PictureBox Picture1;  // scaling surface: what is drawn into it is captured
  PictureBox Picture2;  // load buffer: sizes itself to its picture

  // The commands. Command1..3 raise what fails; Command4 and Command5 resume
  // after every failing step and list the files they could not make.
  void Command1_Click();
  void Command2_Click();
  void Command3_Click();
  void Command4_Click();
  void Command5_Click();
  void boutonmatrice_Click() {}

  // Returns true while a batch runs; a second start is refused then.
  bool running() const { return running_; }

  // The files the last batch command could not make (empty when all went).
  const std::vector<FailedFile>& failures() const { return failures_; }
  void add_failure(FailedFile failure) {
    failures_.push_back(std::move(failure));
  }
  void clear_failures() { failures_.clear(); }

  // Marks a batch command as running (true) or ended (false).
  void set_running(bool running);

  // Asks a running batch to stop after the picture it is making (the window
  // is being closed); cleared when the next batch command starts.
  void request_stop() { stop_requested_ = true; }
  bool stop_requested() const { return stop_requested_; }

  // Where Command1 loads its test picture from, and where Command3 writes.
  std::u16string test_picture_path;
  std::u16string test_thumbnail_path;

  // Installs the function that lets the window process its messages (the
  // batch calls it three times per picture); the default does nothing.
  void set_yield(std::function<void()> yield) { yield_ = std::move(yield); }
  void Yield() {
    if (yield_) yield_();
  }

  // Installs the function told of every change of a control's value.
  void set_observer(std::function<void(Control)> observer) {
    observer_ = std::move(observer);
  }
  void Changed(Control id) {
    if (observer_) observer_(id);
  }

 private:
  std::u16string caption_ = u"Form1";
  bool option1_ = true;
  platform::PicturePtr image1_;
  bool running_ = false;
  bool stop_requested_ = false;
  std::vector<FailedFile> failures_;
  std::function<void()> yield_;
  std::function<void(Control)> observer_;
};

// Returns the installed test picture's path (see the README), and the file
// that stands for the single test thumbnail: "a.jpg" in the temporary folder.
std::u16string DefaultTestPicturePath();
std::u16string DefaultTestThumbnailPath();

}  // namespace vg::app

#endif  // VG_APP_FORM1_H_
