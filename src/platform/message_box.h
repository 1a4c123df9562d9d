// File: platform/message_box.h
//
// The modal message box with a single OK button and no icon, behind a
// replaceable presenter. The window installs a real modal box; a headless run
// keeps the default, which writes "title: text" to stderr; tests install a
// recorder and check what was shown.
//
//   ShowMessageBox(u"Il y a eu 1 erreur ...", u"Erreur");
//   auto old = SetMessageBoxPresenter([&](const MessageBoxRequest& r) {...});
//
// Returns only when the presenter has returned (the user closed the box).
#ifndef VG_PLATFORM_MESSAGE_BOX_H_
#define VG_PLATFORM_MESSAGE_BOX_H_

#include <functional>
#include <string>
#include <string_view>

namespace vg::platform {

struct MessageBoxRequest {
  std::u16string text;
  std::u16string title;  // empty: the application's title
};

using MessageBoxPresenter = std::function<void(const MessageBoxRequest&)>;

// Shows a modal box with `text`, only an OK button and no icon; returns when
// it has been closed. Safe to call from any thread (calls are serialised).
void ShowMessageBox(std::u16string_view text, std::u16string_view title = {});

// Installs `presenter` (null restores the stderr default) and returns the one
// it replaces.
MessageBoxPresenter SetMessageBoxPresenter(MessageBoxPresenter presenter);

// Returns the application's title shown on boxes that have none of their own.
std::u16string ApplicationTitle();

}  // namespace vg::platform

#endif  // VG_PLATFORM_MESSAGE_BOX_H_
