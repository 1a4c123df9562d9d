#include "platform/message_box.h"

#include <gtest/gtest.h>

#include <vector>

namespace vg::platform {
namespace {

TEST(MessageBoxTest, PresenterSeesTextAndTitleAndCanBeRestored) {
  std::vector<MessageBoxRequest> shown;
  auto old = SetMessageBoxPresenter(
      [&](const MessageBoxRequest& r) { shown.push_back(r); });
  ShowMessageBox(u"Il y a eu 1 erreur", u"Erreur");
  ShowMessageBox(u"no title");
  auto mine = SetMessageBoxPresenter(old);
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[0].text, u"Il y a eu 1 erreur");
  EXPECT_EQ(shown[0].title, u"Erreur");
  EXPECT_TRUE(shown[1].title.empty());
  EXPECT_TRUE(static_cast<bool>(mine));
}

TEST(MessageBoxTest, DefaultPresenterWritesToStderr) {
  auto old = SetMessageBoxPresenter(nullptr);
  testing::internal::CaptureStderr();
  ShowMessageBox(u"\u00E9t\u00E9", u"Erreur");
  std::string err = testing::internal::GetCapturedStderr();
  SetMessageBoxPresenter(old);
  EXPECT_EQ(err, "Erreur: \xC3\xA9t\xC3\xA9\n");
}

}  // namespace
}  // namespace vg::platform
