#include "gui/picture_box_view.h"

#include <QImage>
#include <QPainter>

#include "platform/gdi.h"

namespace vg::gui {
namespace {

// Wraps a bitmap's pixels without copying them; valid while the bitmap lives.
QImage WrapBitmap(platform::HBITMAP bitmap) {
  platform::SurfaceView view{};
  if (bitmap == 0 || !platform::GetSurface(bitmap, &view)) return {};
  if (view.bytes_per_pixel == 4 && !view.bottom_up) {
    // B,G,R,X in memory is Qt's 0xffRRGGBB on a little-endian machine.
    return QImage(view.bits, view.width, view.height, view.stride_bytes,
                  QImage::Format_RGB32);
  }
  if (view.bytes_per_pixel == 3) {
    QImage image(view.bits, view.width, view.height, view.stride_bytes,
                 QImage::Format_BGR888);
    return view.bottom_up ? image.mirrored(false, true) : image;
  }
  return {};
}

}  // namespace

QColor BackColour() {
  return QColor((app::kBoxBackColour >> 16) & 0xFF,
                (app::kBoxBackColour >> 8) & 0xFF, app::kBoxBackColour & 0xFF);
}

PictureBoxView::PictureBoxView(app::PictureBox* box, QWidget* parent)
    : QWidget(parent), box_(box) {
  setFocusPolicy(Qt::TabFocus);
  sync();
}

void PictureBoxView::sync() {
  resize(box_->area_width(), box_->area_height());
  update();
}

void PictureBoxView::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(this);
  if (box_->has_drawings()) {
    QImage kept = WrapBitmap(box_->KeptBitmap());
    if (!kept.isNull()) {
      painter.drawImage(0, 0, kept);
      return;
    }
  }
  // No drawings: the picture at its natural size (its logical size; a
  // picture decoded at a reduced scale is enlarged back to it, smoothly, or
  // every pixel of a photo decoded at 1/8 would show as an 8 x 8 block).
  // This is only what the box shows: what the batch draws from the picture
  // is the model's.
  painter.fillRect(rect(), BackColour());
  const platform::PicturePtr& picture = box_->picture();
  if (!picture) return;
  QImage image = WrapBitmap(picture->Handle());
  if (image.isNull()) return;
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  painter.drawImage(QRect(0, 0, picture->Width(), picture->Height()), image);
}

void ImageView::setPicture(platform::PicturePtr picture) {
  picture_ = std::move(picture);
  update();
}

void ImageView::paintEvent(QPaintEvent* /*event*/) {
  if (!picture_) return;
  QImage image = WrapBitmap(picture_->Handle());
  if (image.isNull()) return;
  QPainter painter(this);
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  painter.drawImage(rect(), image);
}

}  // namespace vg::gui
