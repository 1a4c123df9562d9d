#include "platform/message_box.h"

#include <cstdio>
#include <mutex>
#include <utility>

#include "platform/code_page.h"
#include "platform/error.h"

namespace vg::platform {
namespace {

std::recursive_mutex& PresenterMutex() {
  static std::recursive_mutex m;
  return m;
}

MessageBoxPresenter& CurrentPresenter() {
  static MessageBoxPresenter presenter;
  return presenter;
}

void PrintToStderr(const MessageBoxRequest& request) {
  std::u16string title =
      request.title.empty() ? ApplicationTitle() : request.title;
  std::string line = ToAnsi(title) + ": " + ToAnsi(request.text) + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
}

}  // namespace

void ShowMessageBox(std::u16string_view text, std::u16string_view title) {
  MessageBoxRequest request{std::u16string(text), std::u16string(title)};
  std::lock_guard lock(PresenterMutex());
  if (CurrentPresenter()) {
    CurrentPresenter()(request);
  } else {
    PrintToStderr(request);
  }
}

MessageBoxPresenter SetMessageBoxPresenter(MessageBoxPresenter presenter) {
  std::lock_guard lock(PresenterMutex());
  return std::exchange(CurrentPresenter(), std::move(presenter));
}

std::u16string ApplicationTitle() { return FromAnsi(ProgramName()); }

}  // namespace vg::platform
