#include "platform/clipboard.h"

#include <mutex>
#include <utility>

namespace vg::platform {
namespace {

struct ClipboardState {
  std::recursive_mutex mutex;
  bool open = false;
  bool owned = false;  // emptied by the program that has it open
  bool held_elsewhere = false;
  HBITMAP bitmap = 0;
  std::function<void(HBITMAP)> listener;
};

ClipboardState& State() {
  static ClipboardState state;
  return state;
}

}  // namespace

bool OpenClipboard(HWND /*owner*/) {
  ClipboardState& s = State();
  std::lock_guard lock(s.mutex);
  if (s.open || s.held_elsewhere) return false;
  s.open = true;
  s.owned = false;
  return true;
}

bool EmptyClipboard() {
  ClipboardState& s = State();
  std::lock_guard lock(s.mutex);
  if (!s.open) return false;
  if (s.bitmap != 0) DeleteObject(s.bitmap);
  s.bitmap = 0;
  s.owned = true;
  return true;
}

HBITMAP SetClipboardData(uint32_t format, HBITMAP bitmap) {
  ClipboardState& s = State();
  std::lock_guard lock(s.mutex);
  if (!s.open || !s.owned || format != CF_BITMAP) return 0;
  // A live bitmap that no context holds: selecting it into a scratch context
  // proves both, and leaves it free again.
  HDC probe = CreateCompatibleDC(0);
  HGDIOBJ old = probe != 0 ? SelectObject(probe, bitmap) : 0;
  if (old != 0) SelectObject(probe, old);
  if (probe != 0) DeleteDC(probe);
  if (old == 0) return 0;
  if (s.bitmap != 0 && s.bitmap != bitmap) DeleteObject(s.bitmap);
  s.bitmap = bitmap;
  if (s.listener) s.listener(bitmap);
  return bitmap;
}

bool CloseClipboard() {
  ClipboardState& s = State();
  std::lock_guard lock(s.mutex);
  if (!s.open) return false;
  s.open = false;
  s.owned = false;
  return true;
}

HBITMAP GetClipboardData(uint32_t format) {
  ClipboardState& s = State();
  std::lock_guard lock(s.mutex);
  return format == CF_BITMAP ? s.bitmap : 0;
}

void SetClipboardHeldByOtherProgram(bool held) {
  ClipboardState& s = State();
  std::lock_guard lock(s.mutex);
  s.held_elsewhere = held;
}

void SetClipboardListener(std::function<void(HBITMAP)> listener) {
  ClipboardState& s = State();
  std::lock_guard lock(s.mutex);
  s.listener = std::move(listener);
}

}  // namespace vg::platform
