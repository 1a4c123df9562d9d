#include <gtest/gtest.h>

#include <vector>

#include "dib/c_dib_section.h"
#include "platform/clipboard.h"
#include "platform/gdi.h"
#include "platform/message_box.h"

namespace vg::dib {
namespace {

class CopyToClipboardTest : public ::testing::Test {
 protected:
  void SetUp() override {
    old_presenter_ = platform::SetMessageBoxPresenter(
        [this](const platform::MessageBoxRequest& r) { shown_.push_back(r); });
  }
  void TearDown() override {
    platform::SetMessageBoxPresenter(old_presenter_);
    platform::SetClipboardHeldByOtherProgram(false);
    // Leave the clipboard empty so that the next test counts from nothing.
    ASSERT_TRUE(platform::OpenClipboard(0));
    platform::EmptyClipboard();
    platform::CloseClipboard();
    EXPECT_EQ(platform::GdiObjectCounts(), (platform::GdiCounts{0, 0, 0}));
  }

  // A w x h section whose top row is red and every other row blue.
  static void Paint(cDIBSection& dib, int w, int h) {
    ASSERT_TRUE(dib.Create(w, h));
    for (int row = 0; row < h; ++row) {  // memory rows: 0 is the bottom
      uint8_t* p = dib.Bits() + row * dib.BytesPerScanLine();
      for (int x = 0; x < w; ++x) {
        bool top = row == h - 1;
        p[3 * x] = top ? 0 : 255;
        p[3 * x + 1] = 0;
        p[3 * x + 2] = top ? 255 : 0;
      }
    }
  }

  std::vector<platform::MessageBoxRequest> shown_;
  platform::MessageBoxPresenter old_presenter_;
};

TEST_F(CopyToClipboardTest, WithoutArgumentShowsTheMessageAndCopiesNothing) {
  cDIBSection dib;
  Paint(dib, 4, 4);
  EXPECT_FALSE(dib.CopyToClipboard());
  ASSERT_EQ(shown_.size(), 1u);
  EXPECT_EQ(shown_[0].text,
            u"I don't know how to put a DIB on the clipboard! Copy as bitmap "
            u"instead!!!");
  EXPECT_TRUE(shown_[0].title.empty());  // the application's title
  EXPECT_EQ(platform::GetClipboardData(platform::CF_BITMAP), 0);
}

TEST_F(CopyToClipboardTest, AsBitmapPutsAnUprightCopyThatReplacesTheOldOne) {
  cDIBSection first;
  Paint(first, 10, 10);
  ASSERT_TRUE(first.CopyToClipboard(false));
  platform::HBITMAP old = platform::GetClipboardData(platform::CF_BITMAP);

  cDIBSection dib;
  Paint(dib, 150, 100);
  EXPECT_TRUE(dib.CopyToClipboard(false));
  EXPECT_TRUE(shown_.empty());
  platform::HBITMAP bitmap = platform::GetClipboardData(platform::CF_BITMAP);
  ASSERT_NE(bitmap, 0);
  EXPECT_NE(bitmap, old);
  platform::BITMAP record{};
  EXPECT_EQ(platform::GetObjectA(old, 24, &record), 0);  // freed
  ASSERT_EQ(platform::GetObjectA(bitmap, 24, &record), 24);
  EXPECT_EQ(record.bmWidth, 150);
  EXPECT_EQ(record.bmHeight, 100);

  platform::SurfaceView view{};
  ASSERT_TRUE(platform::GetSurface(bitmap, &view));
  auto red_at = [&](int x, int y) {
    int row = view.bottom_up ? view.height - 1 - y : y;
    return view.bits[row * view.stride_bytes + x * view.bytes_per_pixel + 2];
  };
  EXPECT_EQ(red_at(0, 0), 255);  // the top row is on top
  EXPECT_EQ(red_at(149, 1), 0);
  EXPECT_EQ(red_at(75, 99), 0);
  // The section's own memory and clipboard memory are separate.
  EXPECT_NE(view.bits, dib.Bits());
}

TEST_F(CopyToClipboardTest, ClipboardHeldElsewhereFailsAndKeepsTheContent) {
  cDIBSection first;
  Paint(first, 8, 8);
  ASSERT_TRUE(first.CopyToClipboard(false));
  platform::HBITMAP before = platform::GetClipboardData(platform::CF_BITMAP);

  platform::SetClipboardHeldByOtherProgram(true);
  cDIBSection dib;
  Paint(dib, 16, 16);
  platform::GdiCounts counts = platform::GdiObjectCounts();
  EXPECT_FALSE(dib.CopyToClipboard(false));
  EXPECT_EQ(platform::GetClipboardData(platform::CF_BITMAP), before);
  // The refused bitmap was not leaked.
  EXPECT_EQ(platform::GdiObjectCounts(), counts);
}

TEST_F(CopyToClipboardTest, EmptyObjectCopiesNothing) {
  cDIBSection dib;
  EXPECT_FALSE(dib.CopyToClipboard(false));
  EXPECT_EQ(platform::GetClipboardData(platform::CF_BITMAP), 0);
}

TEST(ClipboardTest, DataNeedsAnOpenedAndEmptiedClipboard) {
  platform::HDC screen = platform::GetDC(0);
  platform::HBITMAP bitmap = platform::CreateCompatibleBitmap(screen, 2, 2);
  platform::ReleaseDC(0, screen);
  EXPECT_EQ(platform::SetClipboardData(platform::CF_BITMAP, bitmap), 0);
  ASSERT_TRUE(platform::OpenClipboard(0));
  EXPECT_FALSE(platform::OpenClipboard(0));  // one opener at a time
  EXPECT_EQ(platform::SetClipboardData(platform::CF_BITMAP, bitmap), 0);
  EXPECT_TRUE(platform::EmptyClipboard());
  EXPECT_EQ(platform::SetClipboardData(1, bitmap), 0);  // not CF_BITMAP
  int published = 0;
  platform::SetClipboardListener([&](platform::HBITMAP) { ++published; });
  EXPECT_EQ(platform::SetClipboardData(platform::CF_BITMAP, bitmap), bitmap);
  platform::SetClipboardListener(nullptr);
  EXPECT_EQ(published, 1);
  EXPECT_TRUE(platform::CloseClipboard());
  EXPECT_FALSE(platform::CloseClipboard());
  ASSERT_TRUE(platform::OpenClipboard(0));
  EXPECT_TRUE(platform::EmptyClipboard());  // frees the bitmap
  platform::CloseClipboard();
  EXPECT_EQ(platform::GdiObjectCounts(), (platform::GdiCounts{0, 0, 0}));
}

}  // namespace
}  // namespace vg::dib
