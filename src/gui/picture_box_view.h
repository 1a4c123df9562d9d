// File: gui/picture_box_view.h
//
// Widgets that show a picture box or the image control of the window's
// model. They hold no pixels of their own: they paint the model's bitmaps.
#ifndef VG_GUI_PICTURE_BOX_VIEW_H_
#define VG_GUI_PICTURE_BOX_VIEW_H_

#include <QColor>
#include <QWidget>

#include "app/picture_box.h"
#include "platform/picture.h"

namespace vg::gui {

// Returns the colour of an empty picture box, which is the form's too.
QColor BackColour();

// Shows a picture box: its kept image when something was drawn into it,
// otherwise its picture at its natural size over the back colour.
class PictureBoxView : public QWidget {
  Q_OBJECT

 public:
  PictureBoxView(app::PictureBox* box, QWidget* parent);

  // Follows the box's size and repaints.
  void sync();

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  app::PictureBox* box_;
};

// Shows the image control: its picture stretched to the control's size.
class ImageView : public QWidget {
  Q_OBJECT

 public:
  explicit ImageView(QWidget* parent) : QWidget(parent) {}
  void setPicture(platform::PicturePtr picture);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  platform::PicturePtr picture_;
};

}  // namespace vg::gui

#endif  // VG_GUI_PICTURE_BOX_VIEW_H_
