// File: gui/command_button.h
//
// A command button drawn as the classic form draws one: a caption too wide
// for one line is wrapped at its spaces onto as many lines as it needs,
// centred in the button, instead of being cut at both ends.
//
//   auto* button = new CommandButton(long_caption, form);
//   button->setGeometry(328, 144, 217, 33);
//
// Everything else (clicks, focus, the bevel) is QPushButton's.
#ifndef VG_GUI_COMMAND_BUTTON_H_
#define VG_GUI_COMMAND_BUTTON_H_

#include <QPushButton>

namespace vg::gui {

class CommandButton : public QPushButton {
  Q_OBJECT

 public:
  explicit CommandButton(const QString& text, QWidget* parent = nullptr);

 protected:
  void paintEvent(QPaintEvent* event) override;
};

}  // namespace vg::gui

#endif  // VG_GUI_COMMAND_BUTTON_H_
