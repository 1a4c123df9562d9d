#include "app/batch_generator.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <set>
#include <vector>

#include "common/test_files.h"
#include "platform/code_page.h"
#include "platform/error.h"
#include "platform/gdi.h"
#include "thumbnail/engine.h"

namespace vg::app {
namespace {

namespace fs = std::filesystem;
using testing::FilesIn;
using testing::ReadBytes;
using testing::ReadJpegInfo;
using testing::TempFolder;
using testing::WriteJpeg;

class BatchTest : public ::testing::Test {
 protected:
  BatchTest() {
    fs::create_directory(out_.path() / "sub");
    form_->Text1.set_text(in_.text());
    form_->Text2.set_text(out_.text());
    form_->set_observer([this](Control c) {
      if (c == Control::kCaption) captions_.push_back(form_->caption());
    });
    form_->set_yield([this] { ++yields_; });
  }
  void TearDown() override {
    form_.reset();
    EXPECT_EQ(platform::GdiObjectCounts(), (platform::GdiCounts{0, 0, 0}));
  }

  TempFolder in_, out_;
  std::unique_ptr<Form1> form_ = std::make_unique<Form1>();
  std::vector<std::u16string> captions_;
  int yields_ = 0;
};

TEST_F(BatchTest, CountsEveryFileWritesThePicturesAndSkipsTheRest) {
  WriteJpeg(in_.path() / "a.jpg", 300, 200);
  std::ofstream(in_.path() / "b.txt") << "not a picture";
  WriteJpeg(in_.path() / "c.jpg", 600, 300);
  std::ofstream(in_.path() / "Thumbs.DB") << "x";
  form_->Command4_Click();

  EXPECT_EQ(captions_, (std::vector<std::u16string>{u"photo : 1", u"photo : 2",
                                                    u"photo : 3"}));
  EXPECT_EQ(FilesIn(out_.path()), (std::set<std::string>{"a.jpg", "c.jpg"}));
  auto a = ReadJpegInfo(out_.path() / "a.jpg");
  auto c = ReadJpegInfo(out_.path() / "c.jpg");
  EXPECT_EQ(a.width, 150);
  EXPECT_EQ(a.height, 100);
  EXPECT_EQ(c.width, 150);
  EXPECT_EQ(c.height, 75);
  // The text file is named among the failures, with the loader's reason.
  ASSERT_EQ(form_->failures().size(), 1u);
  EXPECT_NE(platform::ToAnsi(form_->failures()[0].path).find("b.txt"),
            std::string::npos);
  // Three yields per picture, one for the file that did not load.
  EXPECT_EQ(yields_, 7);
  EXPECT_FALSE(form_->running());
}

TEST_F(BatchTest, HeightsFollowTheWidthRoundedHalfToEven) {
  WriteJpeg(in_.path() / "landscape.jpg", 3000, 2000);
  WriteJpeg(in_.path() / "portrait.jpg", 2000, 3000);
  WriteJpeg(in_.path() / "thin.jpg", 1000, 333);  // 49.95 -> 50
  WriteJpeg(in_.path() / "half.jpg", 300, 225);   // 112.5 -> 112
  form_->Command4_Click();
  EXPECT_EQ(ReadJpegInfo(out_.path() / "landscape.jpg").height, 100);
  EXPECT_EQ(ReadJpegInfo(out_.path() / "portrait.jpg").height, 225);
  EXPECT_EQ(ReadJpegInfo(out_.path() / "thin.jpg").height, 50);
  EXPECT_EQ(ReadJpegInfo(out_.path() / "half.jpg").height, 112);
  EXPECT_TRUE(form_->failures().empty());
}

TEST_F(BatchTest, NamesAreTransliterated) {
  WriteJpeg(in_.path() / "Photo 1.JPG", 30, 20);
  WriteJpeg(in_.path() / "\xC3\x89t\xC3\xA9 d'or.jpg", 30, 20);
  form_->Command4_Click();
  EXPECT_EQ(FilesIn(out_.path()),
            (std::set<std::string>{"Photo_1.JPG", "ete_d_or.jpg"}));
}

TEST_F(BatchTest, OriginWithoutSlashOrAsPatternFindsNothingToLoad) {
  WriteJpeg(in_.path() / "a.jpg", 30, 20);
  form_->Text1.set_text(platform::FromAnsi(in_.path().string()));
  form_->Command4_Click();
  EXPECT_TRUE(captions_.empty());
  EXPECT_EQ(form_->caption(), u"Form1");

  // A pattern lists the names, but every load then fails: the pattern itself
  // is the folder prefix.
  form_->Text1.set_text(in_.text() + u"*.jpg");
  form_->Command4_Click();
  EXPECT_EQ(form_->caption(), u"photo : 1");
  EXPECT_EQ(form_->failures().size(), 1u);
  EXPECT_TRUE(FilesIn(out_.path()).empty());
}

TEST_F(BatchTest, HauteurWithoutAHeightWritesNothingAndSaysWhy) {
  WriteJpeg(in_.path() / "a.jpg", 30, 20);
  WriteJpeg(in_.path() / "b.jpg", 30, 20);
  form_->set_Option2(true);
  form_->Command4_Click();
  EXPECT_TRUE(FilesIn(out_.path()).empty());
  ASSERT_EQ(form_->failures().size(), 2u);
  EXPECT_NE(form_->failures()[0].reason.find("zero height"), std::string::npos);
}

TEST_F(BatchTest, MissingDestinationCountsEverythingAndListsEveryFile) {
  WriteJpeg(in_.path() / "a.jpg", 30, 20);
  WriteJpeg(in_.path() / "b.jpg", 30, 20);
  form_->Text2.set_text(out_.text() + u"missing/");
  form_->Command4_Click();
  EXPECT_EQ(form_->caption(), u"photo : 2");
  EXPECT_EQ(form_->failures().size(), 2u);
  EXPECT_FALSE(fs::exists(out_.path() / "missing"));
}

TEST_F(BatchTest, AWidthThatIsNotANumberComputesNoHeight) {
  WriteJpeg(in_.path() / "a.jpg", 30, 20);
  form_->Largeur.set_text(u"abc");
  form_->Command4_Click();
  EXPECT_EQ(form_->caption(), u"photo : 1");
  EXPECT_TRUE(FilesIn(out_.path()).empty());
}

TEST_F(BatchTest, ANegativeWidthEndsTheRunBeforeAnyFile) {
  WriteJpeg(in_.path() / "a.jpg", 30, 20);
  form_->Largeur.set_text(u"-5");
  EXPECT_THROW(form_->Command4_Click(), platform::Error);
  EXPECT_TRUE(captions_.empty());
  EXPECT_FALSE(form_->running());
}

TEST_F(BatchTest, DestinationEqualToOriginNeverReplacesAnOriginal) {
  WriteJpeg(in_.path() / "a.jpg", 300, 200);
  WriteJpeg(in_.path() / "Photo 1.jpg", 300, 200);
  std::string before = ReadBytes(in_.path() / "a.jpg");
  form_->Text2.set_text(in_.text());
  form_->Command4_Click();
  EXPECT_EQ(ReadBytes(in_.path() / "a.jpg"), before);
  EXPECT_EQ(ReadJpegInfo(in_.path() / "Photo_1.jpg").width, 150);
  ASSERT_EQ(form_->failures().size(), 1u);
  EXPECT_NE(form_->failures()[0].reason.find("original"), std::string::npos);
}

// The engine's run of the same job (what the command line does), with one
// worker and with three.
thumbnail::Summary RunEngine(const TempFolder& in, const TempFolder& out,
                             std::vector<thumbnail::OutputSet> sets, int jobs) {
  thumbnail::Job job;
  job.listing = in.text();
  job.load_prefix = in.text();
  for (auto& set : sets) set.destination = out.text() + set.destination;
  job.sets = std::move(sets);
  job.jobs = jobs;
  return thumbnail::Run(job);
}

TEST_F(BatchTest, TheEngineWritesTheWindowsFilesForEveryNumberOfJobs) {
  for (int i = 0; i < 8; ++i) {
    WriteJpeg(in_.path() / ("p" + std::to_string(i) + ".jpg"), 200 + 377 * i,
              150 + 211 * i, static_cast<uint8_t>(30 * i));
  }
  // Two inputs that are written under one name: the later one wins.
  WriteJpeg(in_.path() / "x y.jpg", 64, 64, 10);
  WriteJpeg(in_.path() / "x_y.jpg", 64, 32, 250);
  { std::ofstream(in_.path() / "notes.txt") << "not a picture"; }
  form_->Command4_Click();
  EXPECT_EQ(ReadJpegInfo(out_.path() / "x_y.jpg").height, 75);

  for (int jobs : {1, 3}) {
    SCOPED_TRACE(jobs);
    TempFolder out2;
    thumbnail::Summary done = RunEngine(in_, out2, {{u"", 150}}, jobs);
    std::string why;
    EXPECT_TRUE(testing::SameFiles(out_.path(), out2.path(), &why)) << why;
    EXPECT_EQ(done.pictures, 11u);
    // The text file, and the earlier of the two names, whose thumbnail the
    // later one replaced: the same failures as the window's, in order.
    ASSERT_EQ(done.failures.size(), form_->failures().size());
    for (size_t i = 0; i < done.failures.size(); ++i) {
      EXPECT_EQ(done.failures[i].path, form_->failures()[i].path);
      EXPECT_EQ(done.failures[i].reason, form_->failures()[i].reason);
    }
  }
  ASSERT_EQ(form_->failures().size(), 2u);
  EXPECT_EQ(form_->failures()[1].path, in_.text() + u"x y.jpg");
  EXPECT_EQ(form_->failures()[1].reason,
            "written under the same name as " + platform::ToAnsi(in_.text()) +
                "x_y.jpg; its thumbnail was replaced");
}

// A width typed with a fraction: the box rounds its size, the drawing its
// width in twips, and the engine draws the same.
TEST_F(BatchTest, AWidthWithAFractionGivesTheEngineTheWindowsFiles) {
  testing::WriteDetailedJpeg(in_.path() / "a.jpg", 900, 601, 3);
  testing::WriteDetailedJpeg(in_.path() / "b.jpg", 333, 500, 4);
  form_->Largeur.set_text(u"99.5");
  form_->Command4_Click();
  EXPECT_EQ(ReadJpegInfo(out_.path() / "a.jpg").width, 100);  // 99.5 -> 100
  EXPECT_EQ(ReadJpegInfo(out_.path() / "a.jpg").height, 66);  // 66.45
  TempFolder out2;
  RunEngine(in_, out2, {{u"", 99.5}}, 2);
  std::string why;
  EXPECT_TRUE(testing::SameFiles(out_.path(), out2.path(), &why)) << why;
}

TEST_F(BatchTest, APictureTooTallForTheWidthIsNamedAndNotWritten) {
  // 150 wide, this one would be 600 000 pixels high: more than any picture
  // box or thumbnail may be. Before it and after it, pictures of their own
  // height.
  WriteJpeg(in_.path() / "a.jpg", 64, 16);
  WriteJpeg(in_.path() / "b.jpg", 1, 4000);
  WriteJpeg(in_.path() / "c.jpg", 300, 200);
  form_->Command4_Click();
  EXPECT_EQ(FilesIn(out_.path()), (std::set<std::string>{"a.jpg", "c.jpg"}));
  EXPECT_EQ(ReadJpegInfo(out_.path() / "a.jpg").height, 38);  // 37.5
  ASSERT_EQ(form_->failures().size(), 1u);
  EXPECT_EQ(form_->failures()[0].reason,
            "too tall for width 150: 600000 pixels");
  EXPECT_EQ(yields_, 9);

  // The engine, with any number of workers, says and writes the same.
  for (int jobs : {1, 2, 4}) {
    TempFolder out2;
    thumbnail::Summary done = RunEngine(in_, out2, {{u"", 150}}, jobs);
    EXPECT_TRUE(testing::SameFiles(out_.path(), out2.path())) << jobs;
    ASSERT_EQ(done.failures.size(), 1u);
    EXPECT_EQ(done.failures[0].reason, form_->failures()[0].reason);
    EXPECT_EQ(done.written, 2u);
    EXPECT_EQ(done.failed, 1u);
  }
}

class TwoSizesTest : public BatchTest {};

TEST_F(TwoSizesTest, WritesTheSmallSetThenTheLargeSetInGrand) {
  WriteJpeg(in_.path() / "a.jpg", 900, 600);
  WriteJpeg(in_.path() / "b.jpg", 900, 600);
  form_->Command5_Click();
  EXPECT_EQ(ReadJpegInfo(out_.path() / "a.jpg").width, 100);
  EXPECT_EQ(ReadJpegInfo(out_.path() / "b.jpg").width, 100);
  EXPECT_EQ(ReadJpegInfo(out_.path() / "Grand" / "a.jpg").width, 450);
  EXPECT_EQ(ReadJpegInfo(out_.path() / "Grand" / "b.jpg").height, 300);
  EXPECT_EQ(form_->Text2.text(), out_.text());
  EXPECT_EQ(form_->Largeur.text(), u"450");
  EXPECT_EQ(form_->caption(), u"photo : 2 TERMINE !");
  // The second run counts from 1 again.
  EXPECT_EQ(captions_.at(2), u"photo : 1");

  // A second click: the folder exists, both sets are written again.
  fs::remove(out_.path() / "Grand" / "a.jpg");
  form_->Command5_Click();
  EXPECT_TRUE(fs::exists(out_.path() / "Grand" / "a.jpg"));
  EXPECT_EQ(form_->caption(), u"photo : 2 TERMINE !");
}

TEST_F(TwoSizesTest, EmptyOriginOnlyMarksTheEnd) {
  form_->Command5_Click();
  EXPECT_EQ(form_->caption(), u"Form1 TERMINE !");
  form_->Command5_Click();
  EXPECT_EQ(form_->caption(), u"Form1 TERMINE ! TERMINE !");
}

TEST_F(TwoSizesTest, DestinationWithoutSlashPrefixesTheNames) {
  WriteJpeg(in_.path() / "a.jpg", 900, 600);
  std::string prefix = (out_.path() / "out").string();
  form_->Text2.set_text(platform::FromAnsi(prefix));
  form_->Command5_Click();
  EXPECT_EQ(ReadJpegInfo(prefix + "a.jpg").width, 100);
  EXPECT_EQ(ReadJpegInfo(prefix + "Grand/a.jpg").width, 450);
}

TEST_F(TwoSizesTest, ARunThatFailsBeforeItsLoopIsNamedAndTheRestGoesOn) {
  WriteJpeg(in_.path() / "a.jpg", 900, 600);
  form_->petite.set_text(u"-1");  // not a valid width: the first run ends
  form_->Command5_Click();
  EXPECT_FALSE(fs::exists(out_.path() / "a.jpg"));
  EXPECT_EQ(ReadJpegInfo(out_.path() / "Grand" / "a.jpg").width, 450);
  EXPECT_EQ(form_->caption(), u"photo : 1 TERMINE !");
  ASSERT_EQ(form_->failures().size(), 1u);
  EXPECT_EQ(form_->failures()[0].reason, "Invalid property value");
}

// The engine's two-set run, as the command line asks it: each picture is
// read once, for the large width, and both thumbnails are made from it.
TEST_F(TwoSizesTest,
       TheEngineWritesTheLargeSetOfTheWindowAndTheSmallSetsSizes) {
  for (int i = 0; i < 6; ++i) {
    WriteJpeg(in_.path() / ("p" + std::to_string(i) + ".jpg"), 1200 + 97 * i,
              800 + 31 * i, static_cast<uint8_t>(40 * i));
  }
  WriteJpeg(in_.path() / "x y.jpg", 960, 960, 10);  // both written as x_y.jpg
  WriteJpeg(in_.path() / "x_y.jpg", 960, 480, 250);
  { std::ofstream(in_.path() / "notes.txt") << "not a picture"; }
  form_->Command5_Click();  // the window's two batches

  std::vector<std::unique_ptr<TempFolder>> outs;
  for (int jobs : {1, 3}) {
    SCOPED_TRACE(jobs);
    outs.push_back(std::make_unique<TempFolder>());
    const fs::path out = outs.back()->path();
    fs::create_directory(out / "Grand");
    thumbnail::Summary done =
        RunEngine(in_, *outs.back(), {{u"", 100}, {u"Grand/", 450}}, jobs);
    EXPECT_EQ(done.pictures, 9u);
    EXPECT_EQ(done.written, 7u);
    EXPECT_EQ(done.failed, 2u);  // the text file; "x y.jpg", replaced twice
    EXPECT_EQ(FilesIn(out), FilesIn(out_.path()));
    std::string why;
    EXPECT_TRUE(testing::SameFiles(out / "Grand", out_.path() / "Grand", &why))
        << why;
    for (const std::string& name : FilesIn(out_.path())) {
      EXPECT_EQ(ReadJpegInfo(out / name).width, 100) << name;
      EXPECT_EQ(ReadJpegInfo(out / name).height,
                ReadJpegInfo(out_.path() / name).height)
          << name;
    }
  }
  // The files are the same for every number of jobs.
  EXPECT_TRUE(testing::SameFiles(outs[0]->path(), outs[1]->path()));
  EXPECT_TRUE(
      testing::SameFiles(outs[0]->path() / "Grand", outs[1]->path() / "Grand"));
  EXPECT_EQ(ReadJpegInfo(outs[0]->path() / "x_y.jpg").height, 50);
}

}  // namespace
}  // namespace vg::app
