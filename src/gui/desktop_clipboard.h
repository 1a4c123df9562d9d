// File: gui/desktop_clipboard.h
//
// Publishes every bitmap that the program puts on its clipboard to the
// desktop's clipboard as an image, so that other programs can paste it.
//
//   QApplication app(argc, argv);
//   vg::gui::PublishClipboardToDesktop();   // once, after the application
#ifndef VG_GUI_DESKTOP_CLIPBOARD_H_
#define VG_GUI_DESKTOP_CLIPBOARD_H_

#include <QImage>

#include "platform/gdi.h"

namespace vg::gui {

// Returns a copy of a bitmap's pixels as an upright image (null for a handle
// that is not a live bitmap).
QImage BitmapToImage(platform::HBITMAP bitmap);

// Installs the clipboard listener; the QApplication must exist until
// StopPublishingClipboard() or the end of the program.
void PublishClipboardToDesktop();
void StopPublishingClipboard();

}  // namespace vg::gui

#endif  // VG_GUI_DESKTOP_CLIPBOARD_H_
