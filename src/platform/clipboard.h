// File: platform/clipboard.h
//
// The system clipboard, as far as a program hands it one bitmap. A program
// opens it (it can be held open by only one program at a time), empties it
// -- which makes it the owner and frees what was there --, sets a bitmap
// under CF_BITMAP, which the clipboard then owns, and closes it.
//
//   if (OpenClipboard(0)) {
//     EmptyClipboard();
//     ok = SetClipboardData(CF_BITMAP, bitmap) != 0;  // bitmap now owned
//     CloseClipboard();
//   }
//
// On a desktop the window publishes each new bitmap to the desktop's own
// clipboard through a listener, so that other programs can paste it. Other
// programs holding the clipboard open are modelled by a "holder" that tests
// can set. Only CF_BITMAP is offered.
#ifndef VG_PLATFORM_CLIPBOARD_H_
#define VG_PLATFORM_CLIPBOARD_H_

#include <cstdint>
#include <functional>

#include "platform/gdi.h"

namespace vg::platform {

inline constexpr uint32_t CF_BITMAP = 2;

// Opens the clipboard for this program (`owner` is a window or 0). Returns
// false when it is open already, by this program or another.
bool OpenClipboard(HWND owner);

// Frees the clipboard's content and makes this program its owner. Returns
// false when this program has not opened it.
bool EmptyClipboard();

// Places `bitmap` under CF_BITMAP; the clipboard takes it and deletes it when
// it is replaced. Returns the handle, or 0 (the caller keeps the bitmap) when
// the clipboard is not open and emptied by this program, the format is not
// CF_BITMAP, the handle is not a live bitmap, or it is selected in a context.
HBITMAP SetClipboardData(uint32_t format, HBITMAP bitmap);

// Closes the clipboard; false when this program did not have it open.
bool CloseClipboard();

// Returns the bitmap on the clipboard under `format` (0 when none). The
// clipboard keeps owning it.
HBITMAP GetClipboardData(uint32_t format);

// Makes another program hold the clipboard open (true) or let it go.
void SetClipboardHeldByOtherProgram(bool held);

// Installs the function told of every bitmap set on the clipboard (null
// removes it); it runs while the clipboard is open, before SetClipboardData
// returns, and must copy what it keeps.
void SetClipboardListener(std::function<void(HBITMAP)> listener);

}  // namespace vg::platform

#endif  // VG_PLATFORM_CLIPBOARD_H_
