// File: gui/form1_window.h
//
// The window `Form1`: every control at its place with its text, over the
// window's model (app/form1.h). The widgets only show the model and forward
// edits and clicks to it; all the work is the model's.
#ifndef VG_GUI_FORM1_WINDOW_H_
#define VG_GUI_FORM1_WINDOW_H_

#include <QWidget>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "app/form1.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QListWidget;

namespace vg::gui {

class ImageView;
class PictureBoxView;

class Form1Window : public QWidget {
  Q_OBJECT

 public:
  explicit Form1Window(app::Form1* form, QWidget* parent = nullptr);
  ~Form1Window() override;

  // Returns the failure list window (null until a batch had failures).
  QWidget* failureList() const { return failure_window_; }

  // Puts the folder that `path` names into Text1 with one trailing "/":
  // `path` itself when it is a folder, else the folder holding it ("." for
  // a bare file name). `path` is in the file system's bytes (the ANSI code
  // page), relative or absolute, kept as given. Returns false, changing
  // nothing, for an empty path.
  bool openPath(const std::string& path);

 protected:
  void closeEvent(QCloseEvent* event) override;
  // Local files and folders dropped anywhere on the window, its text boxes
  // included, open their folder in Text1 (see openPath); other drops are
  // refused, text dropped on a text box still goes into it.
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private slots:
  void onControlChanged(app::Control control);

 private:
  QLineEdit* addTextBox(app::TextBox* box, const char* name, int x, int y,
                        int w, int h);
  QPushButton* addButton(const char* name, const QString& text, int x, int y,
                         int w, int h, void (app::Form1::*command)());
  // Runs one command; a failure is shown in a modal box and the window stays.
  void runCommand(void (app::Form1::*command)());
  void showFailures();

  app::Form1* form_;
  QLineEdit* text1_ = nullptr;
  QLineEdit* text2_ = nullptr;
  QLineEdit* largeur_ = nullptr;
  QLineEdit* petite_ = nullptr;
  QLineEdit* grande_ = nullptr;
  // Every text box and its model, as addTextBox made them.
  std::vector<std::pair<const app::TextBox*, QLineEdit*>> text_boxes_;
  QRadioButton* option1_ = nullptr;
  QRadioButton* option2_ = nullptr;
  QPushButton* command4_ = nullptr;
  QPushButton* command5_ = nullptr;
  PictureBoxView* picture1_ = nullptr;
  PictureBoxView* picture2_ = nullptr;
  ImageView* image1_ = nullptr;
  QWidget* failure_window_ = nullptr;
  QListWidget* failure_list_ = nullptr;
  bool close_when_done_ = false;
};

}  // namespace vg::gui

#endif  // VG_GUI_FORM1_WINDOW_H_
