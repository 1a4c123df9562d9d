#include "app/form1.h"

#include <gtest/gtest.h>

#include "common/test_files.h"
#include "decoders/load_picture.h"
#include "platform/code_page.h"
#include "platform/error.h"
#include "platform/gdi.h"

namespace vg::app {
namespace {

using testing::ReadJpegInfo;
using testing::TempFolder;
using testing::WriteJpeg;

// Reads one pixel (B, G, R) of a picture box's kept image.
uint32_t KeptPixel(PictureBox& box, int x, int y) {
  platform::SurfaceView view{};
  EXPECT_TRUE(platform::GetSurface(box.KeptBitmap(), &view));
  const uint8_t* p = view.bits + y * view.stride_bytes + x * 4;
  return p[0] | (p[1] << 8) | (p[2] << 16);
}

class Form1Test : public ::testing::Test {
 protected:
  void TearDown() override {
    // Every bitmap and context a command made is gone with the form.
    form_.reset();
    EXPECT_EQ(platform::GdiObjectCounts(), (platform::GdiCounts{0, 0, 0}));
  }
  std::unique_ptr<Form1> form_ = std::make_unique<Form1>();
  TempFolder folder_;
};

TEST_F(Form1Test, StartsWithTheInitialValues) {
  Form1& f = *form_;
  EXPECT_EQ(f.caption(), u"Form1");
  EXPECT_EQ(f.Text1.text(), u"Text1");
  EXPECT_EQ(f.Text2.text(), u"Text2");
  EXPECT_EQ(f.Largeur.text(), u"150");
  EXPECT_EQ(f.petite.text(), u"100");
  EXPECT_EQ(f.grande.text(), u"450");
  EXPECT_TRUE(f.Option1());
  EXPECT_FALSE(f.Option2());
  EXPECT_EQ(f.Picture1.width(), 150);
  EXPECT_EQ(f.Picture1.height(), 113);
  EXPECT_FALSE(f.running());
  f.set_Option2(true);
  EXPECT_FALSE(f.Option1());
}

TEST_F(Form1Test, Command3AfterCommand1WritesA150x113ThumbnailCutAtTheBottom) {
  Form1& f = *form_;
  f.test_thumbnail_path =
      platform::FromAnsi((folder_.path() / "a.jpg").string());
  f.Command1_Click();
  // The installed test picture is 600 x 800: 200 pixels high at width 150.
  EXPECT_EQ(f.Picture2.width(), 600);
  EXPECT_EQ(f.Picture2.height(), 800);
  f.Command3_Click();
  auto info = ReadJpegInfo(folder_.path() / "a.jpg");
  ASSERT_TRUE(info.ok);
  EXPECT_EQ(info.width, 150);
  EXPECT_EQ(info.height, 113);
}

TEST_F(Form1Test, Command3HeightsRoundHalvesToEven) {
  Form1& f = *form_;
  f.test_thumbnail_path =
      platform::FromAnsi((folder_.path() / "a.jpg").string());
  // 300 x 225 gives 112.5 -> 112: the box's last row (112) is not covered.
  WriteJpeg(folder_.path() / "p.jpg", 300, 225, 255, 255, 255);
  f.test_picture_path = platform::FromAnsi((folder_.path() / "p.jpg").string());
  f.Command1_Click();
  f.Command3_Click();
  EXPECT_LT(KeptPixel(f.Picture1, 10, 111) & 0xFF, 20u);  // black lower half
  EXPECT_EQ(KeptPixel(f.Picture1, 10, 112), kBoxBackColour);

  // 300 x 227 gives 113.5 -> 114: every row is covered.
  Form1 g;
  WriteJpeg(folder_.path() / "q.jpg", 300, 227, 255, 255, 255);
  g.test_picture_path = platform::FromAnsi((folder_.path() / "q.jpg").string());
  g.test_thumbnail_path = f.test_thumbnail_path;
  g.Command1_Click();
  g.Command3_Click();
  EXPECT_NE(KeptPixel(g.Picture1, 10, 112), kBoxBackColour);
}

TEST_F(Form1Test, Command2CopiesPicture2ToImage1AndPicture1) {
  Form1& f = *form_;
  WriteJpeg(folder_.path() / "p.jpg", 40, 30, 255, 0, 0);
  f.test_picture_path = platform::FromAnsi((folder_.path() / "p.jpg").string());
  f.Command1_Click();
  f.Command2_Click();
  ASSERT_TRUE(f.Image1());
  EXPECT_EQ(f.Image1()->Width(), 40);
  EXPECT_EQ(f.Image1()->Height(), 30);
  EXPECT_EQ(f.Picture1.picture(), f.Image1());
  // Picture1 shows it unscaled at its top-left corner: red top, black bottom,
  // the back colour beyond.
  EXPECT_GT((KeptPixel(f.Picture1, 5, 5) >> 16) & 0xFF, 200u);
  EXPECT_LT((KeptPixel(f.Picture1, 5, 25) >> 16) & 0xFF, 40u);
  EXPECT_EQ(KeptPixel(f.Picture1, 100, 100), kBoxBackColour);
}

TEST_F(Form1Test, FailuresOfTheSingleCommandsAreRaised) {
  Form1& f = *form_;
  f.test_picture_path = u"/nonexistent/test.jpg";
  try {
    f.Command1_Click();
    ADD_FAILURE() << "no error";
  } catch (const platform::Error& e) {
    EXPECT_EQ(e.number(), platform::kErrFileNotFound);
  }
  // Command3 with no picture in Picture2 cannot draw.
  EXPECT_THROW(f.Command3_Click(), platform::Error);
  f.boutonmatrice_Click();
  EXPECT_EQ(f.caption(), u"Form1");
}

}  // namespace
}  // namespace vg::app
