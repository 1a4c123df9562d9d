// A program that decodes in decoder processes only, linked as the fronts
// are: no decoder in it, none of their libraries loaded, and a picture with
// no decoder process to read it refused rather than read here.
#include <gtest/gtest.h>
#include <link.h>

#include <string>
#include <string_view>
#include <vector>

#include "common/test_files.h"
#include "decoders/decode_picture.h"
#include "decoders/decoder_processes.h"
#include "platform/error.h"

namespace vg::decoders {
namespace {

const std::u16string kPicture = u"" VG_TEST_PICTURES_DIR "/grid_cmyk.jpg";

std::vector<std::string> LoadedLibraries() {
  std::vector<std::string> names;
  dl_iterate_phdr(
      [](dl_phdr_info* info, size_t /*size*/, void* out) {
        static_cast<std::vector<std::string>*>(out)->emplace_back(
            info->dlpi_name);
        return 0;
      },
      &names);
  return names;
}

TEST(DecodeInProcessesOnlyTest, LoadsNoneOfTheDecodersLibraries) {
  const std::vector<std::string> loaded = LoadedLibraries();
  ASSERT_GT(loaded.size(), 2U);  // at least the program, libc and the loader
  for (const std::string_view library :
       {"/libheif.so", "/libraw_r.so", "/libtiff.so", "/libwebp.so",
        "/libjpeg.so", "/liblcms2.so", "/libfreetype.so", "/libQt6Gui.so"}) {
    for (const std::string& name : loaded) {
      EXPECT_EQ(name.find(library), std::string::npos) << name;
    }
  }
}

TEST(DecodeInProcessesOnlyTest, DecodesInADecoderProcessOrNotAtAll) {
  const struct {
    std::u16string path;
    int32_t without_processes;  // the error raised
  } kCases[] = {
      {kPicture, platform::kErrInvalidPicture},
      {u"" VG_TEST_PICTURES_DIR "/no such picture.jpg",
       platform::kErrFileNotFound},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(testing::ErrorNumberOf([&] { DecodePictureFile(c.path); }),
              c.without_processes);
  }
  try {
    DecodePictureFile(kPicture);
    ADD_FAILURE() << "decoded in the program itself";
  } catch (const platform::Error& e) {
    EXPECT_NE(e.description().find("only in decoder processes"),
              std::string::npos)
        << e.description();
  }

  DecoderProcesses processes;
  const UseDecoderProcesses in_scope(processes);
  const DecodedImage image = DecodePictureFile(kPicture);
  EXPECT_EQ(image.width, 24);
  EXPECT_EQ(image.height, 16);
  EXPECT_EQ(image.bgrx.size(), size_t{24} * 16 * 4);
}

}  // namespace
}  // namespace vg::decoders
