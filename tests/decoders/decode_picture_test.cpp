// Reading picture files: what is missing, unreadable, not a picture, or named
// in bytes that are not UTF-8; the format decided by content.
#include "decoders/decode_picture.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "decoders/internal/picture_error.h"
#include "decoders/internal/picture_format.h"
#include "picture_testutil.h"
#include "platform/code_page.h"
#include "platform/error.h"

namespace vg::decoders {
namespace {

using decoders_internal::PictureFormat;
using decoders_internal::SniffPictureFormat;
using testing::ColourDiff;
using testing::NativeToUtf16;
using testing::PixelAt;
using testing::Rgb;
using testing::TempFolder;

int32_t FileErrorNumber(const std::u16string& path) {
  try {
    DecodePictureFile(path);
  } catch (const platform::Error& e) {
    // The standard text, and perhaps why in brackets after it.
    EXPECT_EQ(
        e.description().rfind(platform::StandardDescription(e.number()), 0), 0u)
        << e.description();
    return e.number();
  }
  return 0;
}

std::vector<uint8_t> RedPng() {
  return testing::EncodeWithQt(
      4, 3, "png",
      [](int, int) {
        return Rgb{255, 0, 0};
      },
      [](int, int) { return 255; });
}

TEST(DecodePictureFileTest, MissingAndUnreadableFiles) {
  TempFolder folder;
  EXPECT_EQ(FileErrorNumber(NativeToUtf16(folder.path() / "absent.jpg")),
            platform::kErrFileNotFound);
  EXPECT_EQ(FileErrorNumber(NativeToUtf16(folder.path() / "no" / "a.jpg")),
            platform::kErrFileNotFound);
  EXPECT_EQ(FileErrorNumber(u""), platform::kErrFileNotFound);
  // A folder is there but is no file.
  EXPECT_EQ(FileErrorNumber(NativeToUtf16(folder.path())),
            platform::kErrPathFileAccess);
  // A FIFO, which would block a plain open until someone writes to it.
  std::filesystem::path fifo = folder.path() / "pipe.jpg";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(FileErrorNumber(NativeToUtf16(fifo)), platform::kErrPathFileAccess);
  EXPECT_EQ(FileErrorNumber(u"/dev/zero"), platform::kErrPathFileAccess);

  std::filesystem::path locked = folder.path() / "locked.png";
  testing::WriteFileBytes(locked, RedPng());
  std::filesystem::permissions(locked, std::filesystem::perms::none);
  if (access(locked.c_str(), R_OK) != 0) {  // root reads anything
    EXPECT_EQ(FileErrorNumber(NativeToUtf16(locked)),
              platform::kErrPathFileAccess);
  }
}

TEST(DecodePictureFileTest, NotAPictureIsInvalid) {
  TempFolder folder;
  std::filesystem::path empty = folder.path() / "empty.jpg";
  testing::WriteFileBytes(empty, {});
  EXPECT_EQ(FileErrorNumber(NativeToUtf16(empty)),
            platform::kErrInvalidPicture);

  std::filesystem::path text = folder.path() / "b.txt";
  std::string words = "Not a picture at all, just words.\n";
  testing::WriteFileBytes(text,
                          std::vector<uint8_t>(words.begin(), words.end()));
  EXPECT_EQ(FileErrorNumber(NativeToUtf16(text)), platform::kErrInvalidPicture);

  std::mt19937 random(12345);
  for (int round = 0; round < 20; ++round) {
    std::vector<uint8_t> noise(1 + random() % 3000);
    for (uint8_t& b : noise) b = static_cast<uint8_t>(random());
    EXPECT_EQ(testing::ErrorNumberOf(noise), platform::kErrInvalidPicture)
        << round;
  }
  // Magic bytes and nothing after them.
  for (const std::vector<uint8_t>& stub : std::vector<std::vector<uint8_t>>{
           {0xFF, 0xD8, 0xFF},
           {'B', 'M'},
           {'G', 'I', 'F', '8', '9', 'a'},
           {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A},
           {0, 0, 1, 0, 1, 0}}) {
    EXPECT_EQ(testing::ErrorNumberOf(stub), platform::kErrInvalidPicture);
  }
}

// A refusal names the format and what is wrong with the file, in the
// words of the library that read it where it has some.
TEST(DecodePictureFileTest, EveryRefusalSaysWhy) {
  std::vector<uint8_t> bad_depth = RedPng();
  bad_depth[24] = 3;  // IHDR's bit depth
  std::vector<uint8_t> lossless =
      testing::EncodeJpeg(std::vector<uint8_t>(8 * 8 * 3, 128), 8, 8);
  for (size_t i = 2; i + 1 < lossless.size(); ++i) {
    if (lossless[i] == 0xFF && lossless[i + 1] == 0xC0) {
      lossless[i + 1] = 0xC3;  // a process libjpeg does not decode
      break;
    }
  }
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    const char* reason;  // what the description holds
  };
  for (const Case& c : {
           Case{"JPEG without an image", {0xFF, 0xD8, 0xFF}, "(JPEG: "},
           Case{"lossless JPEG", lossless, "(JPEG: Unsupported JPEG process"},
           Case{"PNG of 3-bit samples", bad_depth, "(PNG: Invalid IHDR data)"},
           Case{"TIFF whose directory is past its end",
                {'I', 'I', 42, 0, 0xFF, 0xFF, 0, 0},
                "(TIFF: cannot be opened ("},
           Case{"GIF header alone",
                {'G', 'I', 'F', '8', '9', 'a'},
                "(GIF: damaged header)"},
           Case{"WebP whose bitstream is not VP8",
                {'R', 'I', 'F', 'F', 22,  0,   0,  0, 'W', 'E',
                 'B', 'P', 'V', 'P', '8', ' ', 10, 0, 0,   0,
                 0,   0,   0,   0,   0,   0,   0,  0, 0,   0},
                "(WebP: "},
           Case{"PDF",
                {'%', 'P', 'D', 'F', '-', '1', '.', '7', '\n', '%'},
                "(not a format read here; the file starts with \"%PDF-1.7\")"},
           Case{"unknown binary",
                {0x00, 0x01, 0xAB, 0xCD},
                "(not a format read here; the file starts with 00 01 AB CD)"},
           Case{"empty file", {}, "(empty file)"},
       }) {
    SCOPED_TRACE(c.name);
    try {
      DecodePictureBytes(c.bytes);
      ADD_FAILURE() << "decoded";
    } catch (const platform::Error& e) {
      EXPECT_EQ(e.number(), platform::kErrInvalidPicture);
      EXPECT_EQ(e.description().rfind("Invalid picture ", 0), 0u)
          << e.description();
      EXPECT_NE(e.description().find(c.reason), std::string::npos)
          << e.description();
    }
  }
}

TEST(DecodePictureFileTest, AReasonIsOneLine) {
  try {
    decoders_internal::RaiseInvalidPicture(
        "HEIF: Extent in iloc box\r\nreferences data outside of file\n");
  } catch (const platform::Error& e) {
    EXPECT_EQ(e.description(),
              "Invalid picture (HEIF: Extent in iloc box  references data "
              "outside of file)");
  }
}

// Headers with no records: recognised, and empty pictures.
TEST(DecodePictureFileTest, MetafileHeadersAloneAreRecognisedButInvalid) {
  std::vector<uint8_t> placeable = {0xD7, 0xCD, 0xC6, 0x9A, 0,    0, 0,    0,
                                    0,    0,    0x10, 0,    0x10, 0, 0x60, 0,
                                    0,    0,    0,    0,    0,    0};
  std::vector<uint8_t> plain = {1, 0, 9, 0, 0, 3, 0x20, 0, 0,
                                0, 0, 0, 0, 0, 0, 0,    0, 0};
  std::vector<uint8_t> emf(88, 0);
  emf[0] = 1;
  emf[4] = 88;
  emf[40] = ' ';
  emf[41] = 'E';
  emf[42] = 'M';
  emf[43] = 'F';
  EXPECT_EQ(SniffPictureFormat(placeable), PictureFormat::kWmf);
  EXPECT_EQ(SniffPictureFormat(plain), PictureFormat::kWmf);
  EXPECT_EQ(SniffPictureFormat(emf), PictureFormat::kEmf);
  for (const auto& bytes : {placeable, plain, emf}) {
    EXPECT_EQ(testing::ErrorNumberOf(bytes), platform::kErrInvalidPicture);
  }
}

TEST(DecodePictureFileTest, ContentDecidesTheFormatNotTheName) {
  TempFolder folder;
  std::filesystem::path png_named_jpg = folder.path() / "photo.jpg";
  testing::WriteFileBytes(png_named_jpg, RedPng());
  DecodedImage image = DecodePictureFile(NativeToUtf16(png_named_jpg));
  EXPECT_EQ(image.width, 4);
  EXPECT_EQ(image.height, 3);
  EXPECT_EQ(ColourDiff(PixelAt(image, 3, 2), {255, 0, 0}, 0), "");

  std::vector<uint8_t> rgb(8 * 8 * 3, 200);
  std::filesystem::path jpg_named_bmp = folder.path() / "scan.bmp";
  testing::WriteFileBytes(jpg_named_bmp, testing::EncodeJpeg(rgb, 8, 8));
  EXPECT_EQ(SniffPictureFormat(testing::ReadFileBytes(jpg_named_bmp)),
            PictureFormat::kJpeg);
  EXPECT_EQ(DecodePictureFile(NativeToUtf16(jpg_named_bmp)).width, 8);
}

TEST(DecodePictureFileTest, NameThatIsNotUtf8Opens) {
  TempFolder folder;
  std::string name = "caf\xE9 \xFF\xFE.png";  // Latin-1 bytes
  std::filesystem::path path = folder.path() / name;
  testing::WriteFileBytes(path, RedPng());
  std::u16string wide = platform::FromAnsi(folder.path().native() + "/" + name);
  DecodedImage image = DecodePictureFile(wide);
  EXPECT_EQ(image.width, 4);
  // The same name read as Latin-1 text is another file.
  std::u16string other = platform::FromAnsi(folder.path().native()) +
                         u"/caf\u00E9 \u00FF\u00FE.png";
  EXPECT_EQ(FileErrorNumber(other), platform::kErrFileNotFound);
}

TEST(DecodePictureFileTest, OverlongFileIsRefusedWithoutReadingIt) {
  TempFolder folder;
  std::filesystem::path big = folder.path() / "big.bmp";
  testing::BmpSpec spec;
  spec.width = spec.height = 2;
  spec.pixel_data.assign(16, 0x40);
  testing::WriteFileBytes(big, testing::MakeBmp(spec));
  // Sparse: no disk space, no memory. Refused as too large, which is not
  // the standard description of the error.
  std::filesystem::resize_file(big, kMaxPictureFileBytes + 1);
  try {
    DecodePictureFile(NativeToUtf16(big));
    ADD_FAILURE() << "decoded";
  } catch (const platform::Error& e) {
    EXPECT_EQ(e.number(), platform::kErrOutOfMemory);
    EXPECT_EQ(e.description(), "Picture file too large: 1025 MB, over 1024 MB");
  }
}

TEST(DecodePictureFileTest, JpegHintIsPassedThrough) {
  TempFolder folder;
  std::vector<uint8_t> rgb(800 * 600 * 3, 90);
  std::filesystem::path path = folder.path() / "a.jpg";
  testing::WriteFileBytes(path, testing::EncodeJpeg(rgb, 800, 600));
  DecodedImage image = DecodePictureFile(NativeToUtf16(path), {80, 0});
  EXPECT_EQ(image.width, 800);
  EXPECT_EQ(image.pixel_width, 200);
  EXPECT_EQ(image.pixel_height, 150);
}

}  // namespace
}  // namespace vg::decoders
