#include "gui/desktop_clipboard.h"

#include <QClipboard>
#include <QGuiApplication>

#include "platform/clipboard.h"

namespace vg::gui {

QImage BitmapToImage(platform::HBITMAP bitmap) {
  platform::SurfaceView view{};
  if (!platform::GetSurface(bitmap, &view)) return {};
  QImage::Format format =
      view.bytes_per_pixel == 4 ? QImage::Format_RGB32 : QImage::Format_BGR888;
  QImage wrapped(view.bits, view.width, view.height, view.stride_bytes, format);
  // copy() detaches from the bitmap, which the clipboard may delete later.
  return view.bottom_up ? wrapped.mirrored(false, true) : wrapped.copy();
}

void PublishClipboardToDesktop() {
  platform::SetClipboardListener([](platform::HBITMAP bitmap) {
    QImage image = BitmapToImage(bitmap);
    if (!image.isNull() && QGuiApplication::clipboard() != nullptr) {
      QGuiApplication::clipboard()->setImage(image);
    }
  });
}

void StopPublishingClipboard() { platform::SetClipboardListener(nullptr); }

}  // namespace vg::gui
