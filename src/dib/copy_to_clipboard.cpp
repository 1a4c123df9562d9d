#include "dib/c_dib_section.h"
#include "platform/clipboard.h"
#include "platform/gdi.h"
#include "platform/message_box.h"

namespace vg::dib {

bool cDIBSection::CopyToClipboard(bool bAsDIB) {
  bool result = false;
  platform::HWND window = platform::GetDesktopWindow();
  platform::HDC screen = platform::GetDC(window);
  if (screen == 0) return false;
  platform::HDC memory = platform::CreateCompatibleDC(screen);
  if (memory != 0) {
    if (bAsDIB) {
      platform::ShowMessageBox(
          u"I don't know how to put a DIB on the clipboard! Copy as bitmap "
          u"instead!!!");
    } else {
      platform::HBITMAP bitmap =
          platform::CreateCompatibleBitmap(screen, Width(), Height());
      if (bitmap != 0) {
        platform::HGDIOBJ previous = platform::SelectObject(memory, bitmap);
        PaintPicture(memory, 0, 0, -1, -1, 0, 0, platform::SRCCOPY);
        platform::SelectObject(memory, previous);
        if (platform::OpenClipboard(0)) {
          platform::EmptyClipboard();
          result = platform::SetClipboardData(platform::CF_BITMAP, bitmap) != 0;
          platform::CloseClipboard();
        }
        // A bitmap the clipboard did not take would otherwise be lost.
        if (!result) platform::DeleteObject(bitmap);
      }
    }
    platform::DeleteDC(memory);
  }
  platform::ReleaseDC(window, screen);
  return result;
}

}  // namespace vg::dib
